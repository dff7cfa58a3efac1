#!/usr/bin/env bash
# Installs the Debian 12 packages the panel, its simulator and its tests need.
# Does nothing when they are all present already.
set -euo pipefail
packages=(cmake g++ make pkg-config qtbase5-dev qtbase5-dev-tools libqt5charts5-dev
          libusb-1.0-0-dev fonts-dejavu-core python3-pyvisa python3-pyvisa-py g++-mingw-w64-x86-64
          umockdev libumockdev-dev libumockdev0 locales clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The panel's suites also run under a decimal-comma locale.
if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
