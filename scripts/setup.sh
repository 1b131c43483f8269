#!/bin/sh
# Installs every Debian package the build, the program and the tests need,
# then configures and builds. Idempotent. Usage: scripts/setup.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}

PACKAGES="
build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev git
libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libx11-xcb-dev libxss-dev libnautilus-extension-dev
libjsoncpp-dev libminizip-dev zlib1g-dev libssl-dev uuid-dev
libgtest-dev googletest
xvfb xauth dbus dbus-x11 at-spi2-core xdotool x11-utils imagemagick
python3 python3-pytest openssl ccache uidmap
libglib2.0-bin libglib2.0-dev-bin libxext-dev libxtst-dev xcompmgr x11-xserver-utils openbox
nautilus
fonts-wqy-microhei
desktop-file-utils appstream dpkg-dev file
dunst python3-gi gir1.2-glib-2.0 gir1.2-gdkpixbuf-2.0
tinyproxy-bin microsocks libproxy1-plugin-webkit
"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${VESK_BUILD_TYPE:-RelWithDebInfo}" ${VESK_CMAKE_ARGS:-}
fi
ninja -C "$BUILD_DIR"
