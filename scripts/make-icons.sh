#!/usr/bin/env bash
# Redraws the icon's committed rasters from window/icons/vendrake.svg: PNGs of
# 16, 32, 48 and 256 pixels (the window icon and the Linux desktop's hicolor
# theme) and vendrake.ico holding the same four sizes, for the Windows build's
# resource file. The build uses the committed files, so only changing the
# drawing needs this script (and the `icons` package group).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh icons

icons=window/icons
sizes=(16 32 48 256)
for size in "${sizes[@]}"; do
  rsvg-convert --width "$size" --height "$size" --format png \
    --output "$icons/vendrake-$size.png" "$icons/vendrake.svg"
done
# The 256-pixel image goes in as PNG, as Windows Vista and later read it; the
# small ones as bitmaps, which every reader of .ico files understands.
icotool --create --output "$icons/vendrake.ico" \
  "$icons/vendrake-16.png" "$icons/vendrake-32.png" "$icons/vendrake-48.png" \
  --raw="$icons/vendrake-256.png"
