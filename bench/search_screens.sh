#!/usr/bin/env bash
# Looks at the full search as a user does: starts the program under Xvfb with the drives
# set to the benchmark's tree (made by full_search) and /usr, clicks the re-search button,
# answers the question, and saves the screen during the walk and the filled list after it.
# Usage: bash bench/search_screens.sh [build-dir] [out-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$(realpath -m "${2:-out/search-screens}")"
tree=/tmp/tessaly-search-tree
[ -f "$tree/.complete" ] || { echo "make the tree first: $build/full_search"; exit 1; }
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work" TESSALY_DRIVES="$tree:/usr"
cat > "$work/session.sh" <<EOS
set -u
cd "$work"
"$PWD/$build/tessaly" &
app=\$!
main=\$(xdotool search --sync --name 'Tessaly Ver1.40' | head -1)
sleep 1
# The re-search button sits at the left end of the toolbar.
xdotool mousemove --window "\$main" 34 26 click 1
box=\$(xdotool search --sync --name '^確認\$' | head -1)
sleep 0.5
/usr/bin/import -window root "$out/1-question.png"
xdotool windowfocus --sync "\$box"
xdotool key Return
for i in 1 2 3 4 5 6; do /usr/bin/import -window root "$out/2-walk-\$i.png"; done
info=\$(xdotool search --sync --name '^情報\$' | head -1)
sleep 0.5
/usr/bin/import -window root "$out/3-closing-message.png"
xdotool windowfocus --sync "\$info"
xdotool key Return
sleep 1
/usr/bin/import -window root "$out/4-list.png"
kill \$app
EOS
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/session.sh"
ls -1 "$out"
