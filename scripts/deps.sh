#!/usr/bin/env bash
# Installs the build dependencies from the distribution's packages when they
# are missing (Debian 12, Ubuntu 22.04 or later). Nothing else is fetched.
set -euo pipefail

have_all() {
    command -v cmake >/dev/null 2>&1 && command -v g++ >/dev/null 2>&1 &&
    command -v make >/dev/null 2>&1 &&
    { [ -f /usr/lib/x86_64-linux-gnu/cmake/Qt6SerialPort/Qt6SerialPortConfig.cmake ] ||
      ls /usr/lib/*/cmake/Qt6SerialPort/Qt6SerialPortConfig.cmake >/dev/null 2>&1; } &&
    ls /usr/lib/*/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake >/dev/null 2>&1
}

if have_all; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" != "0" ]; then
    SUDO="sudo"
fi

echo "Installing build dependencies (Qt 6, CMake, g++) from the distribution's packages..."
$SUDO apt-get update -qq
# The serial-port development package is named differently across releases.
serial=qt6-serialport-dev
if ! apt-cache show "$serial" >/dev/null 2>&1; then
    serial=libqt6serialport6-dev
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
    cmake g++ make qt6-base-dev "$serial" libgl-dev >/dev/null
have_all || { echo "The build dependencies could not be installed." >&2; exit 1; }
