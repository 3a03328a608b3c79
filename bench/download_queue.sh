#!/usr/bin/env bash
# Starts the demo music site with 20 songs of 50 MB on loopback and runs the download
# queue benchmark against it. Usage: bench/download_queue.sh [build dir] [rounds]
set -euo pipefail
build=${1:-build}
rounds=${2:-5}
work=$(mktemp -d /tmp/tessaly-queue-XXXXXX)
/usr/bin/python3 "$(dirname "$0")/../scripts/demo-site.py" --root "$work/site" --generate --songs 20 --song-mb 50 \
  >"$work/site.out" 2>"$work/site.err" &
pid=$!
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 600); do grep -q '^PORT ' "$work/site.out" && break; sleep 0.2; done
port=$(awk '/^PORT /{print $2}' "$work/site.out")
[ -n "$port" ] || { cat "$work/site.err"; exit 1; }
"$build/download_queue" "127.0.0.1:$port" "$work/site" "$rounds"
