#!/usr/bin/env bash
# Makes the Debian package of a build in a temporary folder, reads its control fields and
# runs the packed program from the unpacked tree in screenshot mode.
# Usage: check-deb.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1) \
  || { cat "$tmp/cpack.log" >&2; exit 1; }
debs=("$tmp"/pkg/tessaly_*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { bad "no single tessaly_*.deb: ${debs[*]}"; exit 1; }
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tessaly ] || bad "Package: $(field Package)"
[ "$(field Version)" = "${TESSALY_VERSION:-1.40}-1" ] || bad "Version: $(field Version)"
maintainer=$(field Maintainer)
grep -qE '^[^<>]+ <[^@<>]+@[a-z0-9-]+(\.[a-z0-9-]+)+>$' <<<"$maintainer" && ! grep -q localhost <<<"$maintainer" \
  || bad "Maintainer: $maintainer"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || bad "Architecture: $(field Architecture)"
depends=$(field Depends)
# From the shared libraries (shlibdeps) and what is loaded at run time.
for want in libc6 libqt6core6 libqt6widgets6 libqt6printsupport6 libqt6svg6 libgstreamer1.0-0 \
            libjpeg62-turbo libx11-6 \
            gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
            gstreamer1.0-libav gstreamer1.0-x 'gstreamer1.0-alsa | gstreamer1.0-pulseaudio' \
            fonts-ipafont-mincho fonts-ipafont-gothic 'timgm6mb-soundfont | fluid-soundfont-gm' \
            qt6-qpa-plugins qt6-wayland qt6-translations-l10n; do
  grep -qE "(^|, )${want//|/\\|}( \(|,|$)" <<<"$depends" || bad "Depends lacks '$want': $depends"
done
# Every package named must exist for apt to install the file (when apt has its lists). One
# apt-cache call: each one reads the whole package cache.
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g' | sort -u)
known=$({ apt-cache show --no-all-versions $names 2>/dev/null || true; } | sed -n 's/^Package: //p' | sort -u)
if [ -n "$known" ]; then
  missing=$(comm -23 <(echo "$names") <(echo "$known"))
  [ -z "$missing" ] || bad "Depends names packages apt does not know: $missing"
fi

dpkg-deb -c "$deb" >"$tmp/contents"
for f in ./usr/bin/tessaly ./usr/libexec/tessaly/tessaly-picture ./usr/libexec/tessaly/tessaly-media.so ./usr/share/applications/tessaly.desktop ./usr/share/icons/hicolor/256x256/apps/tessaly.png \
         ./usr/share/man/man1/tessaly.1.gz ./usr/share/man/ja/man1/tessaly.1.gz \
         ./usr/share/doc/tessaly/copyright ./usr/share/doc/tessaly/changelog.Debian.gz \
         ./usr/share/metainfo/jp.tessaly.tessaly.metainfo.xml ./etc/fonts/conf.d/65-tessaly-ms-fonts.conf; do
  grep -qF " $f" "$tmp/contents" || bad "the package lacks $f"
done

# Debian's own check of the package: nothing to say, down to the pedantic and the
# informational remarks.
if readelf -d "$build/tessaly" 2>/dev/null | grep -q 'NEEDED.*libasan'; then
  :  # a sanitizer build is not what users get: it is built without the hardening lintian asks for
elif command -v lintian >/dev/null; then
  # As root it first says that it would rather not run as root.
  lintian --pedantic -I -E --color never "$deb" 2>&1 | grep -v 'running with root privileges is not recommended' \
    >"$tmp/lintian.out" || true
  [ ! -s "$tmp/lintian.out" ] || bad "lintian: $(cat "$tmp/lintian.out")"
else
  bad "lintian is not installed"
fi

# The packed program starts and ends its unattended run.
dpkg-deb -x "$deb" "$tmp/root"
mkdir -p "$tmp/home"
out=$(cd "$tmp/home" && HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share \
      QT_QPA_PLATFORM=offscreen TESSALY_SCREENSHOTS=$tmp/shots timeout 120 "$tmp/root/usr/bin/tessaly" --menu 2>"$tmp/run.err") \
  || bad "the packed program failed: $(cat "$tmp/run.err")"
grep -q main-list-view.png <<<"$out" && [ -s "$tmp/shots/main-list-view.png" ] || bad "no screenshot from the packed program: $out"
[ -d "$tmp/home/.local/share/tessaly" ] || bad "started with --menu, no working folder under the data folder"

[ "$fail" = 0 ] && echo "package $(basename "$deb") OK"
exit "$fail"
