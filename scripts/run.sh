#!/usr/bin/env bash
# Builds and starts Tessaly. Without a display it starts the program under Xvfb, saves
# screenshots of its windows as PNG files, says where they are, and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tessaly

# The demo music site on loopback, so that "接続" works out of the box; it ends with the
# program. TESSALY_SITE=host:port set beforehand points the program at another server.
if [ -z "${TESSALY_SITE:-}" ]; then
  site_out=$(mktemp)
  /usr/bin/python3 scripts/demo-site.py --root "$PWD/out/demo-site" >"$site_out" 2>"$site_out.err" &
  site_pid=$!
  trap 'kill "$site_pid" 2>/dev/null; wait "$site_pid" 2>/dev/null || true; rm -f "$site_out" "$site_out.err"' EXIT
  for _ in $(seq 100); do grep -q '^PORT ' "$site_out" && break; sleep 0.1; done
  if grep -q '^PORT ' "$site_out"; then
    export TESSALY_SITE="127.0.0.1:$(awk '/^PORT /{print $2}' "$site_out")"
    echo "Demo music site on $TESSALY_SITE"
  else
    echo "The demo music site did not start:" >&2
    cat "$site_out.err" >&2
  fi
fi

# The program works in the folder it is started in (result lists, downloaded songs), so give
# it one of its own under out/ rather than the source tree.
program="$PWD/build/tessaly"
work="$PWD/out/work"
mkdir -p "$work"
if [ -n "${DISPLAY:-}" ]; then
  status=0
  (cd "$work" && "$program") || status=$?
  exit "$status"
fi
out="$PWD/out/screenshots"
rm -rf "$out"
echo "No display: starting Tessaly under Xvfb and taking screenshots."
(cd "$work" && TESSALY_SCREENSHOTS="$out" xvfb-run -a -s "-screen 0 1280x1024x24" "$program")
echo "Screenshots are in $out:"
ls -1 "$out"
