#!/usr/bin/env bash
# Installs the Debian packages the player and its tests need; quick when all are present.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtdeclarative5-dev qtmultimedia5-dev libqt5texttospeech5-dev
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
    qml-module-qtmultimedia qml-module-qtquick-shapes qml-module-qttest
    libqt5multimedia5-plugins gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
    qtspeech5-speechd-plugin speech-dispatcher speech-dispatcher-espeak-ng espeak-ng
    pulseaudio pulseaudio-utils xvfb xauth sox
    xdotool imagemagick python3-pyatspi at-spi2-core
    apache2 apache2-utils python3 python3-aiosmtpd openssl
    dpkg-dev lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root (or install sudo) to install: ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
