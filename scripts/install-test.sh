#!/usr/bin/env bash
# Proves that the Debian packages work away from the build tree: builds them
# (scripts/package.sh), unpacks them into a temporary root with dpkg-deb -x (the
# machine's own packages stay as they are), and from there flashes a virtual board,
# builds a program against libbootwire-dev both ways, renders the manual pages and
# tries the completion; then lintian, desktop-file-validate and appstreamcli.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

[ "${1-}" = "--no-build" ] || scripts/package.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' out/default/CMakeCache.txt)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

work=$(mktemp -d)
root=$work/root
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "install test: $*" >&2
  exit 1
}
step() { echo "== $*"; }

for deb in out/packages/*.deb; do dpkg-deb -x "$deb" "$root"; done
bin=$root/usr/bin
# Nothing of the build tree may be reachable: only the unpacked root and the system.
export PATH=$bin:/usr/bin:/bin
unset LD_LIBRARY_PATH BOOTWIRE_USB_SIM

step "programs find the unpacked library"
for program in sealbench-cli sealbench; do
  [ -x "$bin/$program" ] || continue
  lib=$(ldd "$bin/$program" | awk '/libbootwire/ {print $3}')
  [ "$lib" -ef "$root/usr/lib/$multiarch/libbootwire.so.0" ] || fail "$program loads libbootwire from '$lib'"
done
[ "$(sealbench-cli --version)" = "sealbench-cli $version" ] || fail "sealbench-cli --version: $(sealbench-cli --version)"
[ "$(vireo-sim --version)" = "vireo-sim $version" ] || fail "vireo-sim --version: $(vireo-sim --version)"
if [ -x "$bin/sealbench" ]; then
  [ "$(sealbench --version)" = "sealbench $version" ] || fail "sealbench --version: $(sealbench --version)"
fi
if [ -x "$bin/vireo-usb-umockdev" ]; then
  [ "$(vireo-usb-umockdev --version)" = "vireo-usb-umockdev $version" ] ||
    fail "vireo-usb-umockdev --version: $(vireo-usb-umockdev --version)"
fi

# Starts the unpacked vireo-sim with the given options; sets $port.
start_board() {
  vireo-sim "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 300); do
    grep -q '^serial: ' "$work/sim.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || fail "vireo-sim ended: $(cat "$work/sim.err")"
    sleep 0.1
  done
  port=$(sed -n 's/^serial: //p' "$work/sim.out")
  [ -n "$port" ] || fail "vireo-sim named no serial port within 30 s"
}
stop_board() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || fail "vireo-sim exited with $?"
  sim_pid=
}

step "flash a virtual board with the unpacked programs"
head -c 65536 /dev/urandom >"$work/image.bin"
start_board --cpu VireoC_TO2 --dump-flash "$work/flash.bin"
timeout 120 sealbench-cli flash "$work/image.bin" --port "$port" --cpu VireoC_TO2 --progress none \
  >"$work/flash.log" 2>&1 || fail "flash failed: $(cat "$work/flash.log")"
grep -q '^Flashing Completed' "$work/flash.log" || fail "no \"Flashing Completed\": $(cat "$work/flash.log")"
stop_board
cmp -n 65536 "$work/image.bin" "$work/flash.bin" || fail "the board's flash does not hold the image"

step "build against libbootwire-dev: find_package(Bootwire) and pkg-config bootwire"
cmake -S tests/install/consumer -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/consumer.log" 2>&1 \
  || fail "configure against the unpacked package: $(cat "$work/consumer.log")"
grep -q "$root/usr/lib/$multiarch/cmake/Bootwire" "$work/consumer/CMakeCache.txt" || fail "Bootwire found elsewhere"
cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || fail "consumer build: $(cat "$work/consumer.log")"
export PKG_CONFIG_PATH=$root/usr/lib/$multiarch/pkgconfig PKG_CONFIG_LIBDIR=/nonexistent
[ "$(pkg-config --modversion bootwire)" = "$version" ] || fail "pkg-config bootwire: $(pkg-config --modversion bootwire)"
# shellcheck disable=SC2046
c++ -std=c++20 -o "$work/consumer-pc" tests/install/consumer/consumer.cpp $(pkg-config --cflags --libs bootwire) \
  || fail "consumer build with pkg-config"
unset PKG_CONFIG_PATH PKG_CONFIG_LIBDIR
start_board --cpu VireoC_TO2 --sekurel 5A17
for consumer in "$work/consumer/consumer" "$work/consumer-pc"; do
  out=$(LD_LIBRARY_PATH=$root/usr/lib/$multiarch timeout 60 "$consumer" "$port") || fail "$consumer: $out"
  [ "$out" = "status 0x5a17" ] || fail "$consumer printed '$out'"
done
stop_board

step "manual pages render without warnings"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
for program in "$bin"/*; do
  [ -e "$root/usr/share/man/man1/$(basename "$program").1.gz" ] || fail "no manual page for $(basename "$program")"
done

step "bash completion"
bash "$source/tests/install/completion_check.sh" "$root/usr/share/bash-completion/completions" || fail "bash completion"

step "desktop entry and AppStream metadata"
if [ -x "$bin/sealbench" ]; then
  desktop-file-validate "$root/usr/share/applications/sealbench.desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net --pedantic "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
fi

step "lintian"
# Errors fail; warnings and notes are shown for the record.
lintian --fail-on error --display-info --tag-display-limit 0 out/packages/*.deb || fail "lintian found errors"

echo "install test passed"
