#!/usr/bin/env bash
# The Win32 window's benchmark under Wine on Xvfb, against a paced virtual board
# linked as COM21 of a Wine prefix of its own. Prints the RESULT lines of bench/run.
# Usage: bench/windows/window.sh [WINDOWS_BUILD [LINUX_BUILD]]   (default out/windows, out/default)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=${1:-$root/out/windows}
linux=${2:-$root/out/default}
if [ ! -f "$win/CMakeCache.txt" ]; then (cd "$root" && cmake --preset windows >/dev/null); fi
cmake --build "$win" --target sealbench_window_bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sealbench-winbench-XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break || sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1
head -c 65536 /dev/urandom >"$work/image.bin"
"$linux/bin/vireo-sim" --cpu VireoC_TO2 --pace >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
for _ in $(seq 100); do grep -q '^serial: ' "$work/sim.out" && break || sleep 0.1; done
ln -sfn "$(sed -n 's/^serial: //p' "$work/sim.out")" "$WINEPREFIX/dosdevices/com21"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial21' /t REG_SZ /d COM21 /f >/dev/null 2>&1
# The first start fills Wine's caches; the second one is measured.
wine "$win/bin/sealbench_window_bench.exe" 0 "Z:$work/image.bin" >/dev/null 2>&1 || true
wine "$win/bin/sealbench_window_bench.exe" 21 "Z:$work/image.bin" 2>>"$root/out/bench-log.txt" | tr -d '\r'
