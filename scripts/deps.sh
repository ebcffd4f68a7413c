#!/usr/bin/env bash
# Installs the Debian packages that are missing for:
#   scripts/deps.sh           building the host, its tests and benchmarks
#   scripts/deps.sh --xvfb    that, and a virtual display to run the example without one
#   scripts/deps.sh --test    that, and what the tests run against: virtual displays,
#                             buses and mock services, sound, GStreamer plugins, OCR
#                             data, and the tools that check the install and package
set -euo pipefail
usage() { echo "usage: scripts/deps.sh [--xvfb | --test]" >&2; exit 64; }
want=build
case "${1:-}" in
  '') ;;
  --xvfb) want=xvfb ;;
  --test) want=test ;;
  *) usage ;;
esac
[ $# -le 1 ] || usage

# Every pkg-config module and CMake package the build looks for, and the test libraries
# (the default build builds the tests and benchmarks too).
packages=(
  cmake ninja-build g++ pkg-config
  python3  # the build's layering checks (scripts/check-layers.py)
  libgtk-3-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev libplist-dev nlohmann-json3-dev libdbusmenu-glib-dev
  libx11-dev libxss-dev libxrandr-dev libxtst-dev libxext-dev libxfixes-dev
  libcurl4-openssl-dev  # on-device AI: HTTP to the local model server
  libpulse-dev          # audio tap and equalizer
  # screen capture and image services: GStreamer, tesseract, poppler for PDF thumbnails
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libtesseract-dev libleptonica-dev libpoppler-glib-dev
  libcairo2-dev libgdk-pixbuf-2.0-dev libglib2.0-dev
  # desktop services: secrets, speech, sounds, file search
  libsecret-1-dev libespeak-ng-dev libcanberra-dev libtracker-sparql-3.0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)
# The build's test set-up looks for node; the example's backend runs on it.
command -v node >/dev/null 2>&1 || packages+=(nodejs)

if [ "$want" = xvfb ] || [ "$want" = test ]; then
  # The example's demo without a display: a virtual display, a window manager for
  # the title bar, and ImageMagick's import for the screenshot.
  packages+=(xvfb openbox imagemagick)
fi
if [ "$want" = test ]; then
  packages+=(
    xauth x11-xserver-utils x11-utils xdotool tigervnc-standalone-server xclip
    dbus-daemon libglib2.0-bin python3-dbusmock python3-gi gir1.2-glib-2.0 gir1.2-gtk-3.0 python3-xlib
    pulseaudio pulseaudio-utils  # the test sound server
    # recording (x264enc, mp4mux) and a reader of MP4s; tesseract's English data; the
    # icons other files show as thumbnails
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-plugins-base-apps
    gstreamer1.0-libav tesseract-ocr-eng adwaita-icon-theme
    # the services behind secrets, speech, sounds and file search
    gnome-keyring espeak-ng-data libcanberra-pulse sound-theme-freedesktop tracker
    # the install and package check: cpack's file type and library dependency
    # tools, readelf, and the desktop entry validator
    file dpkg-dev binutils desktop-file-utils
  )
fi

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
