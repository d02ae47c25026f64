#!/usr/bin/env bash
# Installs those of the named Debian packages that are not installed yet, with apt-get (as
# root, or through sudo). The first run on a fresh machine therefore needs the package registry.
#   install-packages.sh [--no-recommends] [--no-services] PACKAGE...
# --no-services keeps the packages' services from being started as they are installed, and
# turns off those named as the packages.
set -euo pipefail

apt_options=()
no_services=false
while [ $# -gt 0 ]; do
    case "$1" in
        --no-recommends) apt_options+=(--no-install-recommends); shift ;;
        --no-services) no_services=true; shift ;;
        *) break ;;
    esac
done
missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
# Debian asks /usr/sbin/policy-rc.d before starting a service; 101 says "not now". One that is
# there already is left as it is.
policy=/usr/sbin/policy-rc.d
made_policy=false
if $no_services && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
    made_policy=true
    trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
fi
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${apt_options[@]}" "${missing[@]}"
if $made_policy; then
    "${sudo_cmd[@]}" rm -f "$policy"
    trap - EXIT
fi
# Nor started at the next boot: the services named as the packages are turned off.
if $no_services; then
    for p in "${missing[@]}"; do
        command -v systemctl >/dev/null && "${sudo_cmd[@]}" systemctl disable --quiet "$p" >/dev/null 2>&1 || true
        command -v update-rc.d >/dev/null && "${sudo_cmd[@]}" update-rc.d "$p" disable >/dev/null 2>&1 || true
    done
fi
