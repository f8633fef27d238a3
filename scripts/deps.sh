#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-translations-l10n libqt6serialport6 qt6-charts-dev libqt6charts6 libqt6opengl6-dev
  help2man
  fonts-wqy-microhei
  libgtest-dev libgmock-dev libbenchmark-dev libmodbus-dev
  xvfb xauth
  clang libclang-rt-14-dev
  desktop-file-utils dpkg-dev file
  libpaho-mqttpp-dev libpaho-mqtt-dev
  mosquitto mosquitto-clients openssl
  mbpoll python3-pymodbus python3-serial-asyncio
)
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
