#!/usr/bin/env bash
# Builds the Debian packages (libbootwire0, libbootwire-dev, sealbench-cli, sealbench,
# vireo-sim) from the default build tree into out/packages.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi

# Debian's multiarch folder for the library, whatever an older tree cached.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# An existing tree keeps its own settings (the preset would reset SEALBENCH_WERROR).
if [ -f out/default/CMakeCache.txt ]; then
  cmake out/default -DCMAKE_INSTALL_LIBDIR="lib/$multiarch" >/dev/null
else
  cmake --preset default -DCMAKE_INSTALL_LIBDIR="lib/$multiarch" >/dev/null
fi
targets=(bootwire sealbench-cli vireo-sim docs package_changelog)
grep -q '^SEALBENCH_GUI:BOOL=ON' out/default/CMakeCache.txt && targets+=(sealbench)
[ -e out/default/sim/umockdev/CMakeFiles/vireo-usb-umockdev.dir ] && targets+=(vireo-usb-umockdev)
cmake --build --preset default --target "${targets[@]}"

rm -rf out/packages
cpack --config out/default/CPackConfig.cmake -B "$PWD/out/packages"
rm -rf out/packages/_CPack_Packages
for deb in out/packages/*.deb; do
  printf '%-40s %8s  %s\n' "$(basename "$deb")" "$(du -k "$deb" | cut -f1)K" \
    "$(dpkg-deb -f "$deb" Depends)"
done
