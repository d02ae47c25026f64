#!/usr/bin/env bash
# Builds and starts the panel.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "trv-panel needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not set)." >&2
    exit 1
fi
exec build/bin/trv-panel "$@"
