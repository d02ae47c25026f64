#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12, then configures and builds.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
          qt6-httpserver-dev qt6-websockets-dev
          libgl-dev libgtest-dev fonts-liberation fonts-dejavu-core file dpkg-dev ser2net help2man bash-completion
          openssl)
bash scripts/install-packages.sh "${packages[@]}"
# For the monitoring tests, which start their own: the packages' services are never started.
bash scripts/install-packages.sh --no-recommends --no-services prometheus prometheus-alertmanager

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
