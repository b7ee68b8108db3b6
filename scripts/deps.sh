#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need. Safe to run again:
# it asks apt only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-webengine-dev libcurl4-openssl-dev libssl-dev ca-certificates
  libcpp-httplib-dev zlib1g-dev libbrotli-dev libpugixml-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  libx11-dev libxtst-dev libatspi2.0-dev dbus dbus-x11 at-spi2-core
  librsvg2-bin lintian appstream desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
