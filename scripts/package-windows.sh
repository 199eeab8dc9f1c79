#!/usr/bin/env bash
# Makes the Windows packages from the windows preset's build (built here first): a zip
# and an installer (MSI, made with Debian's wixl). Both hold sealbench.exe,
# sealbench-cli.exe, libbootwire.dll, its import library and header, the README,
# the licence and the INF that binds the USB boot device to WinUSB; the installer
# adds a Start menu entry and keeps the import library and header as a feature of
# their own. Usage: scripts/package-windows.sh [BUILD_DIR]   (default out/windows;
# prints the paths of the zip and the MSI)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-out/windows}
if [ "$build" = out/windows ] && [ ! -f out/windows/CMakeCache.txt ]; then
    cmake --preset windows >/dev/null
fi
cmake --build "$build" --target sealbench sealbench-cli bootwire >/dev/null
build=$(cd "$build" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="sealbench-$version-windows-x64"
out="$build/package"
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip" "$out/$name.msi"
mkdir -p "$stage/lib" "$stage/include/bootwire"

strip=x86_64-w64-mingw32-strip
$strip --strip-unneeded -o "$stage/sealbench.exe" "$build/bin/sealbench.exe"
$strip --strip-unneeded -o "$stage/sealbench-cli.exe" "$build/bin/sealbench-cli.exe"
$strip --strip-unneeded -o "$stage/libbootwire.dll" "$build/bin/libbootwire.dll"
cp "$build/bootlink/libbootwire.dll.a" "$stage/lib/"
cp bootlink/include/bootwire/bootwire.h "$build/bootlink/include/bootwire/bootwire_export.h" "$stage/include/bootwire/"
# Notepad reads CR LF.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/README-windows.txt >"$stage/README.txt"
sed -n '/^License:/,$p' packaging/copyright | sed -e 's/^ //' -e 's/$/\r/' >"$stage/LICENSE.txt"
cp packaging/windows/sealbench-winusb.inf "$stage/"

# wixl takes the files' paths relative to the folder of the source it reads.
cp packaging/windows/sealbench.wxs "$out/"
(cd "$out" && wixl -a x64 -D Version="$version" -D Stage="$name" -o "$name.msi" sealbench.wxs)
rm "$out/sealbench.wxs"

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
rm -rf "$stage"
echo "$out/$name.zip"
echo "$out/$name.msi"
