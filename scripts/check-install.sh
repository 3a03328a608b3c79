#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR and checks the installed tree as the desktop
# tools see it. Usage: check-install.sh <build folder>
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >"$tmp/install.log" || { cat "$tmp/install.log" >&2; exit 1; }

share=$root/usr/share
for f in usr/bin/tessaly usr/libexec/tessaly/tessaly-picture usr/libexec/tessaly/tessaly-media.so \
         usr/share/applications/tessaly.desktop \
         usr/share/metainfo/jp.tessaly.tessaly.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/tessaly.svg \
         usr/share/man/man1/tessaly.1 usr/share/man/ja/man1/tessaly.1 \
         usr/share/fontconfig/conf.avail/65-tessaly-ms-fonts.conf; do
  [ -s "$root/$f" ] || bad "missing $f"
done
[ -x "$root/usr/bin/tessaly" ] || bad "the program is not executable"
# The media framework comes with the first media open, from the module beside the picture
# helper: the program itself does not need it, and the module loads with all it needs.
readelf -d "$root/usr/bin/tessaly" >"$tmp/needed"
grep -q 'NEEDED.*libgst' "$tmp/needed" && bad "the program needs GStreamer at start"
module=$root/usr/libexec/tessaly/tessaly-media.so
readelf -d "$module" >"$tmp/module-needed"
# A sanitizer build's module wants its run-time loaded first.
preload=
grep -q 'NEEDED.*libasan' "$tmp/module-needed" && preload=$(g++ -print-file-name=libasan.so)
LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0 python3 - "$module" <<'PY' || bad "the installed media module does not load"
import ctypes, sys
module = ctypes.CDLL(sys.argv[1])
module.tessaly_media_create, module.tessaly_media_set_volume
PY
for size in 16 22 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/tessaly.png
  file "$png" | grep -q "PNG image data, $size x $size," || bad "icon $size: $(file "$png")"
done
grep -q '<svg' "$share/icons/hicolor/scalable/apps/tessaly.svg" || bad "the scalable icon is no SVG"

# Font mapping: switched on through a link in /etc/fonts/conf.d to the available file.
link=$root/etc/fonts/conf.d/65-tessaly-ms-fonts.conf
[ -L "$link" ] || bad "no fontconfig link in /etc/fonts/conf.d"
[ "$(readlink "$link")" = /usr/share/fontconfig/conf.avail/65-tessaly-ms-fonts.conf ] || bad "fontconfig link points to $(readlink "$link")"

# Menu entry: clean for the validator but for its hint that the categories asked for name two
# main categories (Audio/AudioVideo and Utility).
entry=$share/applications/tessaly.desktop
out=$(desktop-file-validate --no-hints "$entry" 2>&1) || bad "desktop-file-validate failed"
[ -z "$out" ] && out=$(desktop-file-validate "$entry" 2>&1 | grep -v 'contains more than one main category' || true)
[ -z "$out" ] || bad "desktop-file-validate: $out"
grep -qx 'Exec=tessaly --menu' "$entry" || bad "Exec line: $(grep ^Exec= "$entry")"
grep -qx 'Icon=tessaly' "$entry" || bad "Icon line"
grep -qx 'Categories=AudioVideo;Audio;Player;Utility;' "$entry" || bad "Categories line"
grep -qx 'StartupWMClass=Tessaly' "$entry" || bad "StartupWMClass line"
grep -q '^Name\[ja\]=' "$entry" || bad "no Name[ja]"

# AppStream metadata: no errors, warnings or infos.
out=$(appstreamcli validate --no-net --pedantic "$share/metainfo/jp.tessaly.tessaly.metainfo.xml" 2>&1) \
  || bad "appstreamcli validate: $out"
echo "$out" | grep -q '^[EWIP]:' && bad "appstreamcli validate: $out"

# Manual pages render without a complaint and say what they must.
for page in man1/tessaly.1 ja/man1/tessaly.1; do
  text=$(LANG=C.UTF-8 MANWIDTH=80 man -l "$share/man/$page" 2>"$tmp/man.err") || bad "man -l $page failed"
  [ -s "$tmp/man.err" ] && bad "man -l $page: $(cat "$tmp/man.err")"
  for word in TESSALY_DRIVES TESSALY_SITE XDG_DATA_HOME --menu --help --version SearchView.dwn header.txt temp; do
    grep -qF -- "$word" <<<"$text" || bad "$page does not mention $word"
  done
done
LANG=C.UTF-8 man -l "$share/man/ja/man1/tessaly.1" 2>/dev/null | grep -q '作業フォルダ' || bad "the Japanese page is not Japanese"

# The design's font names reach the IPA fonts through the installed file, and only through it.
cat >"$tmp/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <include>$share/fontconfig/conf.avail/65-tessaly-ms-fonts.conf</include>
  <cachedir>$tmp/fc-cache</cachedir>
</fontconfig>
CONF
# The twin: the same fonts without any mapping (not the system's configuration, which holds
# the mapping once the package is installed).
cat >"$tmp/bare.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts</dir>
  <cachedir>$tmp/fc-cache</cachedir>
</fontconfig>
CONF
while IFS='|' read -r name family; do
  got=$(FONTCONFIG_FILE=$tmp/fonts.conf fc-match -f '%{family[0]}' "$name")
  [ "$got" = "$family" ] || bad "fc-match '$name' gives '$got', not $family"
  without=$(FONTCONFIG_FILE=$tmp/bare.conf fc-match -f '%{family[0]}' "$name")
  [ "$without" != "$family" ] || bad "fc-match '$name' gives $family even without the installed file: the check proves nothing"
done <<'NAMES'
ＭＳ Ｐ明朝|IPAPMincho
ＭＳ 明朝|IPAMincho
ＭＳ Ｐゴシック|IPAPGothic
MS PMincho|IPAPMincho
MS Mincho|IPAMincho
MS PGothic|IPAPGothic
NAMES

# The picture helper needs Qt Gui and Core, libjpeg and libseccomp (its lock-in) with the C
# and C++ run time, and nothing else of the program's (no Widgets, GStreamer, X11 or network).
# (The sanitizers' run-time in checked builds.)
helper_libs_beyond() {
  readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
    grep -vxE 'libQt6Gui\.so\.6|libQt6Core\.so\.6|libjpeg\.so\.62|libseccomp\.so\.2|libstdc\+\+\.so\.6|libm\.so\.6|libgcc_s\.so\.1|libc\.so\.6|libasan\.so\.[0-9]+|libubsan\.so\.[0-9]+' || true
}
extra=$(helper_libs_beyond "$root/usr/libexec/tessaly/tessaly-picture")
[ -z "$extra" ] || bad "the picture helper needs more libraries than it should: $(echo $extra)"
readelf -d "$root/usr/libexec/tessaly/tessaly-picture" | grep -q 'NEEDED.*libjpeg' || bad "the picture helper does not name libjpeg: the check reads nothing"
# The twin: the program itself needs Widgets and more, and the same check says so.
[ -n "$(helper_libs_beyond "$root/usr/bin/tessaly")" ] || bad "the library check finds nothing beyond in the program either: it proves nothing"

# The installed program answers --version without a display.
ver=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/tessaly" --version) || bad "--version failed"
[ "$ver" = "Tessaly ${TESSALY_VERSION:-1.40}" ] || bad "--version says '$ver'"

[ "$fail" = 0 ] && echo "installed tree OK"
exit "$fail"
