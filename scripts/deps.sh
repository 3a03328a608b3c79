#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when missing.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev
  libx11-dev libxi-dev libxtst-dev
  googletest libgtest-dev libgmock-dev
  fonts-ipafont-mincho fonts-ipafont-gothic
  xvfb xauth x11-utils xdotool imagemagick
  vsftpd python3 python3-pyftpdlib curl dbus-daemon python3-dbus python3-gi
  clang libclang-rt-14-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav timgm6mb-soundfont
  libjpeg62-turbo-dev libjpeg-turbo-progs fonts-urw-base35
  gstreamer1.0-x gstreamer1.0-alsa qt6-svg-dev libqt6printsupport6 sox ffmpeg
  pulseaudio pulseaudio-utils gstreamer1.0-pulseaudio pipewire pipewire-pulse wireplumber
  at-spi2-core dbus dbus-daemon python3-pyatspi
  desktop-file-utils appstream man-db groff-base fontconfig dpkg-dev file qt6-translations-l10n
  qt6-qpa-plugins libglib2.0-bin ccache
  libseccomp-dev
  libwayland-dev wayland-protocols plasma-wayland-protocols qt6-wayland
  weston sway xwayland wtype foot grim lintian
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # Several builds may install at once: wait for the package lock instead of failing.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -q
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
fi
