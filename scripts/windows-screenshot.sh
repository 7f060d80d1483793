#!/usr/bin/env bash
# Redraws docs/window-windows.png: vendrake.exe as Wine draws it on a virtual
# X display at twice the usual density (192 DPI, as the Qt window's picture),
# cropped to the window, frame included.
#
#   scripts/windows-screenshot.sh [BUILD_DIR] [PICTURE]
#       (defaults: build/windows, docs/window-windows.png)
set -euo pipefail

build_dir=${1:-build/windows}
picture=${2:-docs/window-windows.png}
program="$build_dir/window/win32/vendrake.exe"
[ -f "$program" ] || { echo "no $program: run make windows first" >&2; exit 1; }

# Everything below runs on a display of its own.
if [ -z "${VENDRAKE_SCREENSHOT_DISPLAY:-}" ]; then
  VENDRAKE_SCREENSHOT_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x480x24" "$0" "$@"
fi

wine=/usr/lib/wine/wine64
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$wine" wineboot --init >/dev/null 2>&1
# Debian's Wine does not find the stand-ins it ships for Windows' own fonts
# (Tahoma for the dialog font, Marlett for the caption buttons), which come
# closer to how the window looks on Windows than the Linux fonts it falls back on.
if [ -d /usr/share/wine/fonts ]; then
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
# No window manager runs here, so Wine draws the frame; the DPI is the
# system's, which vendrake.exe, being DPI aware, scales itself to.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w

"$wine" "$program" >/dev/null 2>&1 &
for _ in $(seq 100); do
  xwininfo -name Vendrake >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1  # the first paint
geometry=$(xwininfo -name Vendrake)
field() { awk -F: -v name="$1" '$1 ~ name { gsub(/ /, "", $2); print $2 }' <<<"$geometry"; }

mkdir -p "$(dirname "$picture")"
xwd -root -silent | xwdtopnm 2>/dev/null \
  | pamcut -left "$(field 'Absolute upper-left X')" -top "$(field 'Absolute upper-left Y')" \
      -width "$(field Width)" -height "$(field Height)" \
  | pnmtopng >"$picture"
echo "$picture: $(field Width) x $(field Height) pixels"
