#!/usr/bin/env bash
# The main job on a virtual board: build sealbench-cli and vireo-sim (nothing else),
# start vireo-sim, flash an image into its NOR flash with sealbench-cli (memory
# initialisation, download, erase, program, verify), then read the flash back and
# compare it with the image. scripts/test.sh builds and tests everything.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
# A tree that was configured in full (scripts/test.sh) stays so; a new one gets
# only what the main job needs. Either way only the two programs are built.
if grep -qs '^SEALBENCH_GUI:BOOL=ON' out/default/CMakeCache.txt; then
  cmake --preset default >/dev/null
else
  cmake --preset demo >/dev/null
fi
cmake --build --preset demo

bin=out/default/bin
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c 262144 /dev/urandom >"$work/image.bin"
"$bin/vireo-sim" --cpu VireoC_TO2 --dump-flash "$work/flash.bin" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^serial: ' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^serial: //p' "$work/sim.out")
echo "virtual board VireoC_TO2 on $port"

"$bin/sealbench-cli" flash "$work/image.bin" --port "$port" --cpu VireoC_TO2 --flash-type nor --progress plain

kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=
size=$(stat -c %s "$work/image.bin")
if cmp -n "$size" "$work/image.bin" "$work/flash.bin"; then
  echo "flash read back: the first $size bytes of the NOR flash equal the image"
else
  echo "flash read back: the NOR flash does NOT hold the image" >&2
  exit 1
fi
