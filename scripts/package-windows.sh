#!/usr/bin/env bash
# Makes the Windows zip: sealbench-cli.exe, libbootwire.dll, its import library and
# header, and a short README, from the windows preset's build (built here first).
# Usage: scripts/package-windows.sh [BUILD_DIR]   (default out/windows; prints the zip's path)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-out/windows}
if [ "$build" = out/windows ]; then
    cmake --preset windows >/dev/null
fi
cmake --build "$build" --target sealbench-cli bootwire >/dev/null
build=$(cd "$build" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="sealbench-$version-windows-x64"
out="$build/package"
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/lib" "$stage/include/bootwire"

strip=x86_64-w64-mingw32-strip
$strip --strip-unneeded -o "$stage/sealbench-cli.exe" "$build/bin/sealbench-cli.exe"
$strip --strip-unneeded -o "$stage/libbootwire.dll" "$build/bin/libbootwire.dll"
cp "$build/bootlink/libbootwire.dll.a" "$stage/lib/"
cp bootlink/include/bootwire/bootwire.h "$build/bootlink/include/bootwire/bootwire_export.h" "$stage/include/bootwire/"
# Notepad reads CR LF.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/README-windows.txt >"$stage/README.txt"

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
rm -rf "$stage"
echo "$out/$name.zip"
