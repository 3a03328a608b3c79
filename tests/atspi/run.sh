#!/usr/bin/env bash
# The accessibility tree of the running program as a screen reader reads it: starts a private
# X server and session bus (with the accessibility bus it activates), the program with Qt's
# accessibility on, and checks the tree with check_tree.py. Usage: run.sh PATH-TO-tessaly
set -euo pipefail
program=$(readlink -f "$1")
self=$(readlink -f "$0")
here=$(dirname "$self")
if [ -z "${TESSALY_ATSPI_INNER:-}" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export TESSALY_ATSPI_INNER=1 TESSALY_ATSPI_WORK="$work"
  xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$self" "$program"
  exit $?
fi
work=$TESSALY_ATSPI_WORK
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
# Nothing to search: the idle search stays off anyway, this only keeps the disks out of it.
export TESSALY_DRIVES=$work
cd "$work"
"$program" > "$work/program.log" 2>&1 &
pid=$!
stop() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
trap stop EXIT
rc=0
# The system Python: the bindings are Debian packages.
timeout 120 /usr/bin/python3 "$here/check_tree.py" Tessaly 60 || rc=$?
exit $rc
