#!/usr/bin/env bash
# Installs what building and testing Zantor_Cfg needs on Debian 12.
# Idempotent: when every package is present it does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # the window's English translation (lupdate, lrelease) and Qt's own Polish texts
  qt6-l10n-tools qt6-translations-l10n
  libgtest-dev googletest
  clang libclang-rt-dev
  xvfb xauth imagemagick libxcb1-dev
  # zantor, the command line: parser, JSON and formatting; a terminal for its tests
  libcli11-dev nlohmann-json3-dev libfmt-dev tmux
  # its Polish messages: msgfmt compiles them, xgettext and msgcmp check them
  gettext
  # the Debian package and its checks
  dpkg-dev fakeroot lintian desktop-file-utils appstream man-db groff-base librsvg2-bin
  # the Windows builds and their tests under Wine: the window's Qt is built from
  # Debian's qtbase source (scripts/qt-windows.sh), the installer with NSIS, the
  # window driven through X with xdotool, on Wine's own fonts; its controls found
  # on the screen by the words they show (tesseract's word boxes), with and
  # without a window manager
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine fonts-liberation nsis xdotool
  tesseract-ocr tesseract-ocr-eng openbox
)
if [ "${ZANTOR_WITH_VALGRIND:-0}" = 1 ]; then
  packages+=(valgrind)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
