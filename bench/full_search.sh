#!/usr/bin/env bash
# Installs the finders the full search is measured against (Debian's bfs and fd-find),
# builds the benchmark and runs it under Xvfb, so the windows are painted as a user sees.
# Usage: bash bench/full_search.sh [build dir] [full_search options...]
#   e.g. bash bench/full_search.sh build --rounds 7
#        bash bench/full_search.sh build --million --rounds 5
# As root the cold rounds drop the page cache before each run (this slows everything else
# on the machine for a moment); otherwise they are skipped.
set -euo pipefail
build=${1:-build}
shift || true
missing=()
command -v bfs >/dev/null || missing+=(bfs)
command -v fdfind >/dev/null || missing+=(fd-find)
command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
  else
    echo "missing ${missing[*]}: install them as root (apt-get install ${missing[*]})" >&2
  fi
fi
cmake --build "$build" --target full_search -j"$(nproc)"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/full_search" "$@"
