#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS (default 30) from its
# seed corpus. A finding stops the run with its input saved in build-fuzz/findings/.
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh            # longer
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh decoders   # one target
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-packages.sh clang libclang-rt-14-dev

CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja >/dev/null
cmake --build build-fuzz

seconds=${FUZZ_SECONDS:-30}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(echo decoders stored_number command_part port_box telnet pjlink_request)
mkdir -p build-fuzz/findings
for t in "${targets[@]}"; do
    work="build-fuzz/corpus/$t"
    mkdir -p "$work"
    echo "fuzzing $t for ${seconds}s"
    if ! build-fuzz/fuzz_"$t" "$work" "fuzz/corpus/$t" -max_total_time="$seconds" \
        -artifact_prefix="build-fuzz/findings/$t-" >"build-fuzz/$t.log" 2>&1; then
        tail -n 40 "build-fuzz/$t.log" >&2
        echo "fuzz target $t found a failing input (see build-fuzz/findings/)" >&2
        exit 1
    fi
    tail -n 1 "build-fuzz/$t.log"
done
