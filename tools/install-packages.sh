#!/usr/bin/env bash
# Installs the Debian packages that the build needs, and any named as
# arguments, when any is missing.
set -euo pipefail
packages=(cmake g++ make qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins qt6-translations-l10n qt6-multimedia-dev libgl-dev libbenchmark-dev pkg-config libmosquitto-dev qt6-websockets-dev libqrencode-dev libsimdjson-dev libpq-dev libssl-dev libcurl4-openssl-dev "$@")

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
