#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get, checks what it installed, removes it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh >/dev/null
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
bash scripts/install-packages.sh desktop-file-utils
rm -f build/trv-panel_*.deb
(cd build && cpack >/dev/null)
deb=$(ls build/trv-panel_*.deb)
echo "built $deb"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "./$deb" >/dev/null
remove_package() {
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get remove -y -qq trv-panel >/dev/null
}
trap remove_package EXIT
for program in trv-panel trv-sim trv-ctl trv-bridge; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || { echo "$program is not in /usr/bin" >&2; exit 1; }
done
# Each program answers --help and --version without a display, and has its manual page.
version=$(dpkg-query -W -f='${Version}' trv-panel)
for program in trv-panel trv-sim trv-ctl trv-bridge; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "/usr/bin/$program" --help | grep -q "^Usage: $program " ||
        { echo "$program --help does not answer without a display" >&2; exit 1; }
    [ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "/usr/bin/$program" --version)" = "$program $version" ] ||
        { echo "$program --version does not say $version" >&2; exit 1; }
    page=/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || page=/usr/share/man/man1/$program.1
    [ -f "$page" ] || { echo "the manual page of $program is missing" >&2; exit 1; }
    # Made from the program's own --help: every option it lists is on the page. The page is read
    # once: grep -q leaving a pipe early fails the pipeline under pipefail.
    text=$(zcat -f "$page" | sed 's/\\-/-/g')
    for option in $("/usr/bin/$program" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
        grep -q -- "$option" <<<"$text" ||
            { echo "the manual page of $program omits $option" >&2; exit 1; }
    done
done
[ -f /usr/share/bash-completion/completions/trv-ctl ] || { echo "the completion of trv-ctl is missing" >&2; exit 1; }
for program in trv-ctl trv-bridge; do
    if ldd "/usr/bin/$program" | grep -q -i "widgets\|gui"; then
        echo "$program links window libraries" >&2
        exit 1
    fi
done
if ldd /usr/bin/trv-panel | grep -q "not found"; then
    echo "trv-panel misses libraries once installed" >&2
    exit 1
fi
desktop-file-validate /usr/share/applications/trv-panel.desktop
dpkg-query -W -f='${Depends}\n' trv-panel | grep -q fonts-liberation

# The service: its manual page, example configuration and unit, the unit as systemd reads it,
# and the installed bridge answering a PJLink client in front of the installed simulator.
unit=/usr/lib/systemd/system/trv-bridge@.service
example=/usr/share/doc/trv-panel/examples/trv-bridge.conf
examples=/usr/share/doc/trv-panel/examples
for file in "$unit" "$example" "$examples/prometheus.yml" "$examples/trv-bridges.yml" \
            "$examples/trv-bridge.rules.yml"; do
    [ -f "$file" ] || { echo "$file is missing" >&2; exit 1; }
done
if command -v promtool >/dev/null; then
    promtool check rules "$examples/trv-bridge.rules.yml" >/dev/null ||
        { echo "the installed alert rules do not pass promtool check rules" >&2; exit 1; }
fi
if ! command -v systemd-analyze >/dev/null; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq systemd >/dev/null || true
fi
check_man=no
command -v man >/dev/null && check_man=yes
verify_dir=$(mktemp -d)
printf '[Service]\nExecStart=/bin/true\n' >"$verify_dir/trv-verify-probe.service"
if ! command -v systemd-analyze >/dev/null; then
    echo "skipped: systemd-analyze is not available here, the unit is not verified"
elif ! systemd-analyze verify --man=no "$verify_dir/trv-verify-probe.service" >/dev/null 2>&1; then
    echo "skipped: systemd-analyze verify does not work here (it fails on a trivial unit)"
elif ! systemd-analyze verify --man="$check_man" "$unit"; then
    echo "systemd-analyze verify finds fault with $unit" >&2
    exit 1
fi
rm -rf "$verify_dir"

# Waits up to 5 s for the first line of a file and prints it.
first_line() {
    timeout 5 sh -c 'while [ ! -s "$1" ]; do sleep 0.1; done; head -n 1 "$1"' sh "$1" || true
}
# On descriptor 3: the greeting, then the answer to a class query, as "GREETING|REPLY".
pjlink_class() {
    local greeting="" reply=""
    IFS= read -r -t 5 -d $'\r' greeting <&3 || true
    printf '%%1CLSS ?\r' >&3
    IFS= read -r -t 5 -d $'\r' reply <&3 || true
    printf '%s|%s' "$greeting" "$reply"
}
run_dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; remove_package' EXIT
/usr/bin/trv-sim >"$run_dir/sim" &
pids+=($!)
device=$(first_line "$run_dir/sim")
/usr/bin/trv-bridge --port "$device" --pjlink-listen 127.0.0.1:0 --udp-port 0 >"$run_dir/bridge" 2>"$run_dir/log" &
pids+=($!)
listen=$(first_line "$run_dir/bridge") # pjlink 127.0.0.1:PORT
answer=""
if [[ $listen =~ ^pjlink\ 127\.0\.0\.1:([0-9]+)$ ]]; then
    answer=$(pjlink_class 2>/dev/null 3<>"/dev/tcp/127.0.0.1/${BASH_REMATCH[1]}") || true
fi
kill "${pids[@]}" 2>/dev/null || true
wait "${pids[@]}" 2>/dev/null || true
trap remove_package EXIT
if [ "$answer" != "PJLINK 0|%1CLSS=2" ]; then
    echo "the installed trv-bridge did not answer as a PJLink device: it said \"$listen\" at start," \
         "answered \"$answer\"" >&2
    cat "$run_dir/log" >&2
    exit 1
fi
rm -rf "$run_dir"
trap - EXIT
remove_package
for file in /usr/bin/trv-panel /usr/bin/trv-ctl /usr/bin/trv-bridge /usr/bin/trv-sim \
            /usr/share/applications/trv-panel.desktop "$unit" "$example" \
            /usr/share/man/man1/trv-{panel,ctl,bridge,sim}.1; do
    if [ -e "$file" ]; then
        echo "the package left $file behind" >&2
        exit 1
    fi
done
echo "the package installs, answers, validates and removes cleanly; its PJLink bridge serves"
