#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the example need, when missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtk-3-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev libplist-dev nlohmann-json3-dev libdbusmenu-glib-dev libxss-dev libxrandr-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox x11-xserver-utils x11-utils xdotool imagemagick tigervnc-standalone-server
  dbus-daemon libglib2.0-bin python3-dbusmock python3-gi gir1.2-glib-2.0 gir1.2-gtk-3.0 python3-xlib
)
command -v node >/dev/null 2>&1 || packages+=(nodejs)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
