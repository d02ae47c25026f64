#!/usr/bin/env bash
# Builds the whole project and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-asan/ and runs every test there; any report fails the run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh >/dev/null
cmake -S . -B build-asan -G Ninja -DTRV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan
cd build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300
