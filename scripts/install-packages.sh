#!/usr/bin/env bash
# Installs those of the named Debian packages that are not installed yet, with apt-get (as
# root, or through sudo). The first run on a fresh machine therefore needs the package registry.
#   install-packages.sh [--no-recommends] PACKAGE...
set -euo pipefail

apt_options=()
if [ "${1:-}" = "--no-recommends" ]; then
    apt_options+=(--no-install-recommends)
    shift
fi
missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${apt_options[@]}" "${missing[@]}"
