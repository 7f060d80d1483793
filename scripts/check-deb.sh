#!/usr/bin/env bash
# Checks the Debian package `make dist` built: lintian finds no error and no
# warning in it, its control fields, the exact list of files it holds, its
# desktop entry, AppStream metadata, copyright file and manual pages, then
# installs it with dpkg, runs both programs
# from where it put them, removes it and checks that nothing is left behind.
# It installs into the system, so it needs root or sudo without a password;
# CI runs it as root on a fresh machine. It will not touch a vendrake package
# that is already installed.
#
#   scripts/check-deb.sh [PACKAGE.deb]   (default: dist/vendrake_<version>_<arch>.deb)
set -euo pipefail
given=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."

fail() {
  echo "check-deb: $*" >&2
  exit 1
}

version=$(sed -n 's/^project(vendrake VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
deb=${given:-dist/vendrake_${version}_${arch}.deb}
[ -f "$deb" ] || fail "no package at $deb; make dist builds it"

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo)
else
  fail "installing the package needs root, or sudo without a password"
fi

dpkg-deb --info "$deb"

# Debian's own checks; informational tags, shown, may stay.
lintian --fail-on error,warning --display-info "$deb" ||
  fail "lintian finds errors or warnings in $deb"

# Control fields.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = vendrake ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = graphics ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
# The first line of the description is the summary; a generic text would not name the programs.
field Description | grep -q 'vendrake-cli' || fail "the description does not name the programs"
# Worked out by dpkg-shlibdeps from what the programs are linked with.
depends=$(field Depends)
depended_on=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  grep -Fqx "$library" <<<"$depended_on" || fail "Depends lacks $library: $depends"
done

# Exactly these files, owned by root, programs executable by all.
expected_files="./usr/bin/vendrake
./usr/bin/vendrake-cli
./usr/share/applications/vendrake.desktop
./usr/share/doc/vendrake/changelog.gz
./usr/share/doc/vendrake/copyright
./usr/share/icons/hicolor/16x16/apps/vendrake.png
./usr/share/icons/hicolor/256x256/apps/vendrake.png
./usr/share/icons/hicolor/32x32/apps/vendrake.png
./usr/share/icons/hicolor/48x48/apps/vendrake.png
./usr/share/icons/hicolor/scalable/apps/vendrake.svg
./usr/share/man/man1/vendrake-cli.1.gz
./usr/share/man/man1/vendrake.1.gz
./usr/share/metainfo/vendrake.metainfo.xml"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
files=$(awk '$1 !~ /^d/ { print $6 }' <<<"$contents" | LC_ALL=C sort)
diff <(echo "$expected_files") <(echo "$files") || fail "the package holds other files than expected"
awk '$2 != "root/root" { exit 1 }' <<<"$contents" || fail "a file is not owned by root"
for program in vendrake vendrake-cli; do
  grep -Eq "^-rwxr-xr-x .* \./usr/bin/$program\$" <<<"$contents" || fail "$program is not mode 755"
done

unpacked=$(mktemp -d)
scratch=$(mktemp -d)
trap 'rm -rf "$unpacked" "$scratch"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/vendrake.desktop"
grep -qx 'Icon=vendrake' "$unpacked/usr/share/applications/vendrake.desktop" || fail "no Icon=vendrake"
grep -q '^Keywords=.' "$unpacked/usr/share/applications/vendrake.desktop" || fail "no Keywords"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/vendrake.metainfo.xml" ||
  fail "the AppStream metadata is not valid"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$unpacked/usr/share/doc/vendrake/copyright" || fail "the copyright file is not machine-readable"
# Each manual page is the program's own --help: every option it lists is there.
for program in vendrake vendrake-cli; do
  page=$(zcat "$unpacked/usr/share/man/man1/$program.1.gz")
  grep -q '^\.TH VENDRAKE' <<<"$page" || fail "$program.1 is no manual page"
  grep -q 'version' <<<"$page" || fail "$program.1 does not give --version"
done
zcat "$unpacked/usr/share/man/man1/vendrake-cli.1.gz" | grep -q 'dry\\-run' ||
  fail "vendrake-cli.1 does not give --dry-run"
for program in vendrake vendrake-cli; do
  file "$unpacked/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done

# Install, run, remove.
if dpkg-query -W -f='${Status}' vendrake 2>/dev/null | grep -q 'install ok installed'; then
  fail "vendrake is already installed on this machine; remove it first"
fi
"${as_root[@]}" dpkg -i "$deb"
trap '"${as_root[@]}" dpkg -r vendrake >/dev/null 2>&1 || true; rm -rf "$unpacked" "$scratch"' EXIT

[ "$(command -v vendrake-cli)" = /usr/bin/vendrake-cli ] || fail "vendrake-cli is not on PATH"
[ "$(vendrake-cli --version)" = "vendrake-cli $version" ] || fail "vendrake-cli --version says '$(vendrake-cli --version)'"
# Without a display, as in a package build or over ssh.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY vendrake --version)" = "vendrake $version" ] ||
  fail "vendrake --version without a display says '$(env -u DISPLAY -u WAYLAND_DISPLAY vendrake --version 2>&1)'"
summary=$(vendrake-cli --source samples/CliffNatural0 --dest "$scratch/CliffNatural0_2x" --scale 2)
[ "$summary" = "Attempted model scales: 6. Success count: 6." ] || fail "vendrake-cli: $summary"
for program in vendrake vendrake-cli; do
  if ldd "/usr/bin/$program" | grep 'not found'; then fail "$program misses a library"; fi
done
# The window runs until it is closed: still running after two seconds means
# it started, found its libraries and platform plugin, and built its window.
status=0
QT_QPA_PLATFORM=offscreen timeout 2 vendrake || status=$?
[ "$status" -eq 124 ] || fail "vendrake stopped with status $status instead of running"

"${as_root[@]}" dpkg -r vendrake
trap 'rm -rf "$unpacked" "$scratch"' EXIT
status=$(dpkg-query -W -f='${Status}' vendrake 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] || [ "$status" = "deinstall ok not-installed" ] ||
  fail "after removal vendrake's status is '$status'"
while read -r path; do
  [ ! -e "/${path#./}" ] || fail "/${path#./} is left after removal"
done <<<"$files"
echo "check-deb: $deb is sound; it installs, runs and removes cleanly."
