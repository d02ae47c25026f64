#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get, checks what it installed, removes it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh >/dev/null
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if ! command -v desktop-file-validate >/dev/null; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq desktop-file-utils
fi
rm -f build/trv-panel_*.deb
(cd build && cpack >/dev/null)
deb=$(ls build/trv-panel_*.deb)
echo "built $deb"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "./$deb" >/dev/null
trap 'DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get remove -y -qq trv-panel >/dev/null' EXIT
for program in trv-panel trv-sim trv-ctl; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || { echo "$program is not in /usr/bin" >&2; exit 1; }
done
/usr/bin/trv-sim --help | grep -q "Usage: trv-sim"
/usr/bin/trv-ctl --help | grep -q "Usage: trv-ctl"
[ -f /usr/share/man/man1/trv-ctl.1 ] || { echo "the manual page of trv-ctl is missing" >&2; exit 1; }
[ -f /usr/share/bash-completion/completions/trv-ctl ] || { echo "the completion of trv-ctl is missing" >&2; exit 1; }
if ldd /usr/bin/trv-ctl | grep -q -i "widgets\|gui"; then
    echo "trv-ctl links window libraries" >&2
    exit 1
fi
if ldd /usr/bin/trv-panel | grep -q "not found"; then
    echo "trv-panel misses libraries once installed" >&2
    exit 1
fi
desktop-file-validate /usr/share/applications/trv-panel.desktop
dpkg-query -W -f='${Depends}\n' trv-panel | grep -q fonts-liberation
trap - EXIT
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get remove -y -qq trv-panel >/dev/null
if [ -e /usr/bin/trv-panel ] || [ -e /usr/bin/trv-ctl ] || [ -e /usr/share/applications/trv-panel.desktop ]; then
    echo "the package left files behind" >&2
    exit 1
fi
echo "the package installs, answers, validates and removes cleanly"
