#!/usr/bin/env bash
# Packs dist/vendrake-<version>-win64.zip from the Windows build: vendrake.exe
# and vendrake-cli.exe, stripped, and packaging/README-windows.txt as
# README.txt with Windows line ends, all at the top of the archive.
#
#   scripts/make-zip.sh [BUILD_DIR] [OUT_DIR]   (defaults: build/windows, dist)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/windows}
out_dir=${2:-dist}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
[ -n "$version" ] || { echo "make-zip: no project version in $build_dir" >&2; exit 1; }
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

x86_64-w64-mingw32-strip -o "$stage/vendrake.exe" "$build_dir/window/win32/vendrake.exe"
x86_64-w64-mingw32-strip -o "$stage/vendrake-cli.exe" "$build_dir/cli/vendrake-cli.exe"
cp packaging/README-windows.txt "$stage/README.txt"

mkdir -p "$out_dir"
rm -f "$out_dir"/vendrake-*-win64.zip
archive="$(realpath "$out_dir")/vendrake-$version-win64.zip"
# -X leaves out Unix owners and permissions; -l gives the text CR LF line ends.
(cd "$stage" && zip -q -X "$archive" vendrake.exe vendrake-cli.exe && zip -q -X -l "$archive" README.txt)
echo "$out_dir/vendrake-$version-win64.zip"
