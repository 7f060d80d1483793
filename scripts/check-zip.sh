#!/usr/bin/env bash
# Checks the Windows archive `make dist` built: one folder, Vendrake-<version>,
# holding exactly vendrake.exe, vendrake-cli.exe, README.txt, which names the
# licence, and LICENSE.txt, the MIT notice; the window a GUI program and the
# console front end a console one with a version resource and a manifest
# (long paths, UTF-8 code page), the texts in Windows line ends. Then it
# unpacks the archive into an empty folder and runs both programs from there
# under Wine, in a prefix of its own: vendrake-cli.exe prints its version, and
# vendrake.exe opens its window and ends when it is closed.
#
#   scripts/check-zip.sh [ARCHIVE.zip]   (default: dist/vendrake-<version>-win64.zip)
set -euo pipefail
# Wine draws windows only on the display its prefix started with, so all of it
# runs on one, Xvfb's where there is none.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

given=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."
repository=$PWD

fail() {
  echo "check-zip: $*" >&2
  exit 1
}

version=$(sed -n 's/^project(vendrake VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
archive=${given:-dist/vendrake-$version-win64.zip}
[ -f "$archive" ] || fail "no archive at $archive; make dist builds it"

folder=Vendrake-$version
listing=$(unzip -Z1 "$archive" | LC_ALL=C sort | tr '\n' ' ')
expected="$folder/ $folder/LICENSE.txt $folder/README.txt $folder/vendrake-cli.exe $folder/vendrake.exe "
[ "$listing" = "$expected" ] || fail "holds: $listing"

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
unzip -q "$archive" -d "$work/unpacked"
cd "$work/unpacked/$folder"

file vendrake.exe | grep -q 'PE32+ executable (GUI) x86-64' || fail "vendrake.exe: $(file -b vendrake.exe)"
file vendrake-cli.exe | grep -q 'PE32+ executable (console) x86-64' ||
  fail "vendrake-cli.exe: $(file -b vendrake-cli.exe)"
for text in README.txt LICENSE.txt; do
  # Every line ends in CR LF, none in a bare LF.
  [ -s "$text" ] && ! grep -q $'[^\r]$\|^$' "$text" || fail "$text: not all lines end in CR LF"
done
grep -q 'MIT [Ll]icen[cs]e' README.txt && grep -q 'LICENSE\.txt' README.txt ||
  fail "README.txt does not name the licence and LICENSE.txt"
diff <(tr -d '\r' <LICENSE.txt) "$repository/LICENSE" >/dev/null || fail "LICENSE.txt is not the project's LICENSE"
# vendrake-cli.exe's version resource (its strings are UTF-16) and manifest.
strings -el vendrake-cli.exe | grep -qx "vendrake-cli.exe" || fail "vendrake-cli.exe has no version resource"
strings -el vendrake-cli.exe | grep -qx "$version" || fail "vendrake-cli.exe's version resource lacks $version"
for setting in '<longPathAware[^>]*>true<' '<activeCodePage[^>]*>UTF-8<'; do
  LC_ALL=C grep -aq "$setting" vendrake-cli.exe || fail "vendrake-cli.exe's manifest lacks $setting"
done

wine=/usr/lib/wine/wine64
"$wine" wineboot --init >/dev/null 2>&1
said=$("$wine" vendrake-cli.exe --version 2>&1 | tr -d '\r')
[ "$said" = "vendrake-cli $version" ] || fail "vendrake-cli.exe --version said: $said"

"$wine" vendrake.exe >/dev/null 2>&1 &
program=$!
for _ in $(seq 100); do
  xwininfo -name Vendrake >/dev/null 2>&1 && break
  sleep 0.2
done
xwininfo -name Vendrake >/dev/null 2>&1 || fail "vendrake.exe showed no window"
# Wine's taskkill asks the program's windows to close.
"$wine" taskkill /im vendrake.exe >/dev/null 2>&1
for _ in $(seq 50); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$program" 2>/dev/null && fail "vendrake.exe did not end when its window was closed"
wait "$program" || fail "vendrake.exe ended with status $? when its window was closed"
echo "check-zip: $archive is good"
