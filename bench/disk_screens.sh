#!/usr/bin/env bash
# Looks at a search of this machine's own disks as a user does: starts the program under
# Xvfb without TESSALY_DRIVES, presses the quick-search button for "*.MP3" (no stored list
# yet, so the full search runs), answers its question and saves the screen after it ends.
# Then starts a second copy in the same working folder, which ends and brings the first up.
# Usage: bash bench/disk_screens.sh [build-dir] [out-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$(realpath -m "${2:-out/disk-screens}")"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset TESSALY_DRIVES
export XDG_CONFIG_HOME="$work/config"
cat > "$work/session.sh" <<EOS
set -u
cd "$work"
"$PWD/$build/tessaly" &
app=\$!
main=\$(xdotool search --sync --name 'Tessaly Ver1.40' | head -1)
sleep 1
# The quick-search button "Q" is the second one of the toolbar.
xdotool mousemove --window "\$main" 91 26 click 1
box=\$(xdotool search --sync --name '^確認\$' | head -1)
sleep 0.5
/usr/bin/import -window root "$out/1-question.png"
xdotool windowfocus --sync "\$box"
xdotool key Return
info=\$(xdotool search --sync --name '^情報\$' | head -1)
sleep 0.5
/usr/bin/import -window root "$out/2-closing-message.png"
xdotool windowfocus --sync "\$info"
xdotool key Return
sleep 1
/usr/bin/import -window root "$out/3-list.png"
ls "$work" > "$out/working-folder.txt"
# A second copy in the same folder: it ends at once and the first comes to the front.
"$PWD/$build/tessaly" 2> "$out/second-copy.txt"; echo "exit \$?" >> "$out/second-copy.txt"
sleep 0.5
/usr/bin/import -window root "$out/4-after-second-start.png"
kill \$app
EOS
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/session.sh"
