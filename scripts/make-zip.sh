#!/usr/bin/env bash
# Packs dist/vendrake-<version>-win64.zip from the Windows build. Everything is
# in one folder, Vendrake-<version>, so that unpacking it into Downloads does
# not scatter files there: vendrake.exe and vendrake-cli.exe, stripped,
# packaging/README-windows.txt as README.txt and the licence, LICENSE, as
# LICENSE.txt, both texts with Windows line ends (Notepad's and every
# editor's there). The MIT licence asks for its notice in every copy.
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

folder=Vendrake-$version
mkdir "$stage/$folder"
x86_64-w64-mingw32-strip -o "$stage/$folder/vendrake.exe" "$build_dir/window/win32/vendrake.exe"
x86_64-w64-mingw32-strip -o "$stage/$folder/vendrake-cli.exe" "$build_dir/cli/vendrake-cli.exe"
cp packaging/README-windows.txt "$stage/$folder/README.txt"
cp LICENSE "$stage/$folder/LICENSE.txt"

mkdir -p "$out_dir"
rm -f "$out_dir"/vendrake-*-win64.zip
archive="$(realpath "$out_dir")/vendrake-$version-win64.zip"
# -X leaves out Unix owners and permissions; -l gives the text CR LF line ends.
(cd "$stage" && zip -q -X "$archive" "$folder/" "$folder/vendrake.exe" "$folder/vendrake-cli.exe" &&
  zip -q -X -l "$archive" "$folder/README.txt" "$folder/LICENSE.txt")
echo "$out_dir/vendrake-$version-win64.zip"
