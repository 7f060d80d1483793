#!/usr/bin/env bash
# Checks the two Debian packages `make dist` built, vendrake-cli (the console
# front end, without Qt) and vendrake (the window, which depends on
# vendrake-cli of its version): lintian finds no error and no warning in
# either, their control fields, the exact list of files each holds, the
# desktop entry, AppStream metadata, copyright files and manual pages. Then
# it installs vendrake-cli alone, as a server without a display would, and
# runs it; installs vendrake beside it and runs both; removes both and checks
# that nothing is left behind.
# It installs into the system, so it needs root or sudo without a password;
# CI runs it as root on a fresh machine. It will not touch a vendrake package
# that is already installed.
#
#   scripts/check-deb.sh [CLI.deb WINDOW.deb]
#     (default: dist/vendrake-cli_<version>_<arch>.deb dist/vendrake_<version>_<arch>.deb)
set -euo pipefail
given_cli=${1:+$(realpath "$1")}
given_window=${2:+$(realpath "$2")}
cd "$(dirname "$0")/.."

fail() {
  echo "check-deb: $*" >&2
  exit 1
}

version=$(sed -n 's/^project(vendrake VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
cli_deb=${given_cli:-dist/vendrake-cli_${version}_${arch}.deb}
window_deb=${given_window:-dist/vendrake_${version}_${arch}.deb}
for deb in "$cli_deb" "$window_deb"; do
  [ -f "$deb" ] || fail "no package at $deb; make dist builds it"
done

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo)
else
  fail "installing the packages needs root, or sudo without a password"
fi

# What both packages share: lintian, the control fields, the copyright file,
# and the file list given, owned by root.
check_package() {
  local deb=$1 package=$2 expected_files=$3
  dpkg-deb --info "$deb"
  # Debian's own checks; informational tags, shown, may stay.
  lintian --fail-on error,warning --display-info "$deb" ||
    fail "lintian finds errors or warnings in $deb"
  field() { dpkg-deb --field "$deb" "$1"; }
  [ "$(field Package)" = "$package" ] || fail "$deb: Package is '$(field Package)'"
  [ "$(field Version)" = "$version" ] || fail "$package: Version is '$(field Version)', not $version"
  [ "$(field Architecture)" = "$arch" ] || fail "$package: Architecture is '$(field Architecture)'"
  [ "$(field Section)" = graphics ] || fail "$package: Section is '$(field Section)'"
  # One maintainer, named and reachable, and not a placeholder of a domain.
  maintainer=$(field Maintainer)
  local name_and_address='^[^<>]+ <[^<>@ ]+@([^<> ]+)>$'
  [[ $maintainer =~ $name_and_address ]] || fail "$package: Maintainer is '$maintainer'"
  case ${BASH_REMATCH[1]} in
    *.example | *.invalid | *.test | *.localhost | example.com | example.org | example.net)
      fail "$package: the Maintainer's address is a placeholder: $maintainer" ;;
  esac
  # The first line of the description is the summary; a generic text would not name the program.
  field Description | grep -q "$package" || fail "$package: the description does not name its program"
  contents=$(dpkg-deb --contents "$deb")
  echo "$contents"
  files=$(awk '$1 !~ /^d/ { print $6 }' <<<"$contents" | LC_ALL=C sort)
  diff <(echo "$expected_files") <(echo "$files") || fail "$package holds other files than expected"
  awk '$2 != "root/root" { exit 1 }' <<<"$contents" || fail "$package: a file is not owned by root"
  unpacked=$(mktemp -d)
  dpkg-deb --extract "$deb" "$unpacked"
  grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$unpacked/usr/share/doc/$package/copyright" || fail "$package: the copyright file is not machine-readable"
  # The changelog is signed by the package's maintainer.
  zcat "$unpacked/usr/share/doc/$package/changelog.gz" | grep -Fq -- " -- $maintainer  " ||
    fail "$package: the changelog is not signed by $maintainer"
}

# Each manual page is the program's own --help: every option it lists is there.
check_man_page() {
  local unpacked=$1 program=$2
  page=$(zcat "$unpacked/usr/share/man/man1/$program.1.gz")
  grep -q '^\.TH VENDRAKE' <<<"$page" || fail "$program.1 is no manual page"
  grep -q 'version' <<<"$page" || fail "$program.1 does not give --version"
  file "$unpacked/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
}

cli_files="./usr/bin/vendrake-cli
./usr/share/doc/vendrake-cli/changelog.gz
./usr/share/doc/vendrake-cli/copyright
./usr/share/man/man1/vendrake-cli.1.gz"
window_files="./usr/bin/vendrake
./usr/share/applications/vendrake.desktop
./usr/share/doc/vendrake/changelog.gz
./usr/share/doc/vendrake/copyright
./usr/share/icons/hicolor/16x16/apps/vendrake.png
./usr/share/icons/hicolor/256x256/apps/vendrake.png
./usr/share/icons/hicolor/32x32/apps/vendrake.png
./usr/share/icons/hicolor/48x48/apps/vendrake.png
./usr/share/icons/hicolor/scalable/apps/vendrake.svg
./usr/share/man/man1/vendrake.1.gz
./usr/share/metainfo/vendrake.metainfo.xml"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check_package "$cli_deb" vendrake-cli "$cli_files"
cli_unpacked=$unpacked
cli_maintainer=$maintainer
grep -Eq '^-rwxr-xr-x .* \./usr/bin/vendrake-cli$' <<<"$contents" || fail "vendrake-cli is not mode 755"
check_man_page "$cli_unpacked" vendrake-cli
cli_page=$(zcat "$cli_unpacked/usr/share/man/man1/vendrake-cli.1.gz")
grep -q 'dry\\-run' <<<"$cli_page" || fail "vendrake-cli.1 does not give --dry-run"
# The examples are those of docs/cli-examples.txt, which the user guide shows.
grep -q '^\.SH EXAMPLES' <<<"$cli_page" || fail "vendrake-cli.1 has no EXAMPLES"
while read -r example; do
  grep -Fqx -- "$(sed 's/\\/\\e/g; s/-/\\-/g' <<<"$example")" <<<"$cli_page" ||
    fail "vendrake-cli.1 lacks the example: $example"
done < <(grep -v '^#' docs/cli-examples.txt | grep .)
# A headless server takes the console front end without Qt: Depends, worked
# out by dpkg-shlibdeps, names the C run-time and C++ run-time and nothing
# graphical.
cli_depends=$(dpkg-deb --field "$cli_deb" Depends)
depended_on=$(tr ',' '\n' <<<"$cli_depends" | awk '{ print $1 }')
for library in libc6 libstdc++6; do
  grep -Fqx "$library" <<<"$depended_on" || fail "vendrake-cli's Depends lacks $library: $cli_depends"
done
if grep -Eq '^lib(qt|gl|x11|wayland)' <<<"$depended_on"; then
  fail "vendrake-cli depends on a graphical library: $cli_depends"
fi

check_package "$window_deb" vendrake "$window_files"
window_unpacked=$unpacked
[ "$maintainer" = "$cli_maintainer" ] || fail "the packages have two maintainers: $cli_maintainer, $maintainer"
grep -Eq '^-rwxr-xr-x .* \./usr/bin/vendrake$' <<<"$contents" || fail "vendrake is not mode 755"
check_man_page "$window_unpacked" vendrake
window_depends=$(dpkg-deb --field "$window_deb" Depends)
depended_on=$(tr ',' '\n' <<<"$window_depends" | sed 's/^ *//')
grep -Fqx "vendrake-cli (= $version)" <<<"$depended_on" ||
  fail "vendrake does not depend on vendrake-cli (= $version): $window_depends"
depended_on=$(awk '{ print $1 }' <<<"$depended_on")
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  grep -Fqx "$library" <<<"$depended_on" || fail "vendrake's Depends lacks $library: $window_depends"
done
desktop=$window_unpacked/usr/share/applications/vendrake.desktop
desktop-file-validate "$desktop"
grep -qx 'Icon=vendrake' "$desktop" || fail "no Icon=vendrake"
grep -q '^Keywords=.' "$desktop" || fail "no Keywords"
appstreamcli validate --no-net "$window_unpacked/usr/share/metainfo/vendrake.metainfo.xml" ||
  fail "the AppStream metadata is not valid"
rm -rf "$cli_unpacked" "$window_unpacked"

# Install, run, remove.
for package in vendrake vendrake-cli; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    fail "$package is already installed on this machine; remove it first"
  fi
done
remove_both() {
  "${as_root[@]}" dpkg -r vendrake >/dev/null 2>&1 || true
  "${as_root[@]}" dpkg -r vendrake-cli >/dev/null 2>&1 || true
}
trap 'remove_both; rm -rf "$scratch"' EXIT

"${as_root[@]}" dpkg -i "$cli_deb"
[ "$(command -v vendrake-cli)" = /usr/bin/vendrake-cli ] || fail "vendrake-cli is not on PATH"
[ "$(vendrake-cli --version)" = "vendrake-cli $version" ] || fail "vendrake-cli --version says '$(vendrake-cli --version)'"
summary=$(vendrake-cli --source samples/CliffNatural0 --dest "$scratch/CliffNatural0_2x" --scale 2)
[ "$summary" = "Attempted model scales: 6. Success count: 6." ] || fail "vendrake-cli: $summary"
if ldd /usr/bin/vendrake-cli | grep 'not found'; then fail "vendrake-cli misses a library"; fi
if ldd /usr/bin/vendrake-cli | grep -i 'qt'; then fail "vendrake-cli is linked with Qt"; fi

"${as_root[@]}" dpkg -i "$window_deb"
# Without a display, as in a package build or over ssh.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY vendrake --version)" = "vendrake $version" ] ||
  fail "vendrake --version without a display says '$(env -u DISPLAY -u WAYLAND_DISPLAY vendrake --version 2>&1)'"
if ldd /usr/bin/vendrake | grep 'not found'; then fail "vendrake misses a library"; fi
# The window runs until it is closed: still running after two seconds means
# it started, found its libraries and platform plugin, and built its window.
status=0
QT_QPA_PLATFORM=offscreen timeout 2 vendrake || status=$?
[ "$status" -eq 124 ] || fail "vendrake stopped with status $status instead of running"

"${as_root[@]}" dpkg -r vendrake vendrake-cli
trap 'rm -rf "$scratch"' EXIT
for package in vendrake vendrake-cli; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] || [ "$status" = "deinstall ok not-installed" ] ||
    fail "after removal $package's status is '$status'"
done
while read -r path; do
  [ ! -e "/${path#./}" ] || fail "/${path#./} is left after removal"
done <<<"$cli_files
$window_files"
echo "check-deb: $cli_deb and $window_deb are sound; they install, run and remove cleanly."
