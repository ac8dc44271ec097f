#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Linetap need, when missing.
set -euo pipefail
# dpkg-dev and file: the Debian package's dependencies (dpkg-shlibdeps); man-db: man page check;
# tshark: the command-line tests decode a recorded Modbus exchange with it; libtelnet-dev: the
# Telnet layer of RFC 2217 ports; ser2net: the device server the network tests run;
# libmodbus-dev: the Modbus check under tools/network, so CI builds it.
packages=(cmake ninja-build g++ ccache qt6-base-dev qt6-serialport-dev libgl-dev
          libgtest-dev libgmock-dev xvfb xauth socat clang clang-format libclang-rt-14-dev
          dpkg-dev file man-db tshark pkg-config libtelnet-dev ser2net
          libmodbus-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
