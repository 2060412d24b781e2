#!/bin/bash
# Installs the Debian packages the build, the tests and the program need (or those named as
# arguments); does nothing when all are present. Uses sudo when not run as root.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config procps
  qt6-base-dev qcoro-qt6-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libx11-dev libxtst-dev libxss-dev libxcb1-dev libxcb-xtest0-dev libxcb-ewmh-dev libxcb-icccm4-dev
  libxcb-keysyms1-dev libxcb-res0-dev libxcb-xkb-dev libxcb-xinput-dev libicu-dev qt6-svg-dev
  libtesseract-dev tesseract-ocr-eng tesseract-ocr-rus tesseract-ocr-deu tesseract-ocr-fra tesseract-ocr-spa
  libcld2-dev apertium apertium-eng-spa apertium-rus-ukr libhunspell-dev hunspell-en-us hunspell-ru
  x11-xserver-utils
  libpocketsphinx-dev pocketsphinx-en-us libpulse-dev libatspi2.0-dev at-spi2-core libsystemd-dev libzip-dev libcurl4-openssl-dev libssl-dev
  libgtk-3-dev libgtk-4-dev xvfb xauth x11-utils x11-xkb-utils xdotool xterm desktop-file-utils openbox trayer dbus-daemon dbus-bin pulseaudio pulseaudio-utils
  espeak-ng sox
  fonts-dejavu-core fonts-noto-core fonts-noto-cjk
)
# Packages named as arguments are installed instead of the list above (`make fuzz`: clang).
[ $# -gt 0 ] && packages=("$@")
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing Debian packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
