#!/usr/bin/env bash
# Builds the panel and starts it on the built-in projector simulator: every COM port from
# COM1 to COM15 leads to the simulator. Options for the simulator go in TRV_SIM_OPTIONS
# (see build/bin/trv-sim --help); TRV_SIM=0 starts the panel on the real ports instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "trv-panel needs a graphical display, and neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
    exit 1
fi
if [ "${TRV_SIM:-1}" = "0" ]; then
    exec build/bin/trv-panel "$@"
fi

workdir=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkfifo "$workdir/out"
# shellcheck disable=SC2086
build/bin/trv-sim --link "$workdir/projector" ${TRV_SIM_OPTIONS:-} >"$workdir/out" &
sim_pid=$!
read -r device <"$workdir/out" || { echo "The projector simulator did not start." >&2; exit 1; }
for n in $(seq 1 15); do
    export "ZEKO_COM$n=$workdir/projector"
done
echo "Projector simulator on $device: every COM port from COM1 to COM15 reaches it."
build/bin/trv-panel "$@"
