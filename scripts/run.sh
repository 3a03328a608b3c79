#!/usr/bin/env bash
# Builds and starts Tessaly. Without a display it starts the program under Xvfb, saves
# screenshots of its windows as PNG files, says where they are, and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tessaly
if [ -n "${DISPLAY:-}" ]; then
  exec ./build/tessaly
fi
out="$PWD/out/screenshots"
rm -rf "$out"
echo "No display: starting Tessaly under Xvfb and taking screenshots."
TESSALY_SCREENSHOTS="$out" xvfb-run -a -s "-screen 0 1280x1024x24" ./build/tessaly
echo "Screenshots are in $out:"
ls -1 "$out"
