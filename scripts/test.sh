#!/usr/bin/env bash
# Builds and runs every test.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# The browser tests' tools first, so that configuring finds node.
bash scripts/setup-browser.sh
bash scripts/setup.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 120
