#!/usr/bin/env bash
# Regenerates docs/screenshot.png (the window after a FLASHING run on the virtual
# board), docs/boards.png (the "Boards" page flashing six virtual boards) and
# docs/station.png (the page's station tiles at work), rendered under Xvfb.
# Usage: scripts/screenshot.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-out/default}
if [ ! -x "$build/bin/sealbench-screenshot" ] || [ ! -x "$build/bin/vireo-sim" ]; then
  cmake --preset default -B "$build" >/dev/null
  cmake --build "$build" --target sealbench-screenshot vireo-sim >/dev/null
fi
mkdir -p docs
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/sealbench-screenshot" docs/screenshot.png
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/sealbench-screenshot" --boards docs/boards.png
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/sealbench-screenshot" --station docs/station.png
echo "wrote docs/screenshot.png, docs/boards.png and docs/station.png"
