#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are installed. As root (or
# with sudo) it installs what is missing; otherwise it names the missing
# packages and fails.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev
  qt6-base-dev
)

# Further groups, named as arguments, for the targets beyond `make test`:
#   bench  Google Benchmark, GNU time for the peak memory of a run, strace
#          to count a run's flush calls, libfuse3 and fuse3 for the slow-medium
#          harness, and rsync to compare with
#   fuzz   clang with libFuzzer and its sanitizer run-time
#   check  clang-format for the format check (the sanitizer build needs only g++)
#   dist   dpkg-shlibdeps and file, which CPack uses to work out the .deb's Depends,
#          help2man for the manual pages, desktop-file-validate, appstreamcli
#          and lintian for scripts/check-deb.sh, zip for the Windows archive,
#          and unzip and xwininfo for scripts/check-zip.sh
#   icons  rsvg-convert and icotool, to redraw the committed icon rasters
#   winshot  Wine's stand-ins for Windows' fonts, xwd, xwininfo and netpbm, for
#            scripts/windows-screenshot.sh
#   crash  xfs_io (xfsprogs) to shut a file system down as a power loss would,
#          mkfs.ext4 (e2fsprogs) and losetup and mount (util-linux, mount) for
#          the loop-mounted image of scripts/crash-test.sh
#   windows  the mingw-w64 cross compilers (POSIX threads), GoogleTest's sources
#            to build for the target, 64-bit Wine to run the tests, and Xvfb
#            to draw the window on
for group in "$@"; do
  case "$group" in
    bench) packages+=(libbenchmark-dev time strace libfuse3-dev fuse3 rsync) ;;
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    check) packages+=(clang-format git) ;;
    dist) packages+=(dpkg-dev file help2man desktop-file-utils appstream lintian zip unzip x11-utils) ;;
    icons) packages+=(librsvg2-bin icoutils) ;;
    winshot) packages+=(fonts-wine x11-apps x11-utils netpbm) ;;
    crash) packages+=(xfsprogs e2fsprogs util-linux mount) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine64 xvfb xauth) ;;
    *)
      echo "Unknown package group: $group (known: bench, fuzz, check, dist, icons, winshot, crash, windows)" >&2
      exit 2
      ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo)
else
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "Installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
