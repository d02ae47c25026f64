#!/usr/bin/env bash
# Checks the Windows build under wine, in a wine prefix of its own: the tests that need no Linux
# device; trv-ctl.exe against the simulator through a wine COM port; the panel on that port
# under a real X server, its ON key putting "C00" on the line; the setup program's silent
# install and uninstall.
#   check.sh PROJECT_BUILD QT_PREFIX SETUP_EXE
# wine's output always goes to files: its services keep a pipe open after the program ends.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
project=$(realpath "$1")
qt=$(realpath "$2")
setup=$(realpath "$3")

work=$PWD/build-windows/check
export WINEPREFIX=$PWD/build-windows/wine
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

failures=0
pass() { echo "PASS: $1"; }
fail() {
    echo "FAIL: $1" >&2
    [ $# -gt 1 ] && [ -f "$2" ] && sed 's/^/    /' "$2" >&2
    failures=$((failures + 1))
}

# The simulator is a Linux program: it stands at the far end of the wine COM port.
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build --target trv-sim >/dev/null
sim=$PWD/build/bin/trv-sim

wineserver -k 2>/dev/null || true
rm -rf "$work" "$WINEPREFIX"
mkdir -p "$work" "$WINEPREFIX"
# The server keeps its own output: at exit it may print its whole object table.
wineserver -p 2>"$work/wineserver.log"
wineboot -i >"$work/wineboot.log" 2>&1
# Qt's offscreen platform on Windows reads fonts from a folder rather than from the system; the
# Liberation faces have the metrics the captions were sized for. wine hands a program no QT_*
# variable from outside, so it goes in the prefix's user environment.
wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /t REG_SZ \
    /d 'Z:\usr\share\fonts\truetype\liberation' /f >"$work/reg.log" 2>&1
# A link made in dosdevices right after wine starts afresh is sometimes not seen yet.
wine cmd /c exit >>"$work/wineboot.log" 2>&1

# The programs as the setup program lays them out, with the offscreen platform for the tests.
run=$work/run
cp -r build-windows/stage "$run"
cp "$project/bin/trv-tests.exe" "$qt/bin/Qt6Test.dll" "$run/"
mkdir -p "$run/platforms"
cp "$qt/plugins/platforms/qoffscreen.dll" "$run/platforms/"

start_sim() { # port, then options
    local port=$1
    shift
    rm -f "$WINEPREFIX/dosdevices/$port"
    "$sim" --link "$WINEPREFIX/dosdevices/$port" --trace "$@" >"$work/sim-$port.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -L "$WINEPREFIX/dosdevices/$port" ] && return; sleep 0.1; done
    fail "the simulator did not start on $port" "$work/sim-$port.log"
}
# 1. The tests, with a COM port wired to a simulator that never answers, for the serial
# line's own tests; what they sent is in its trace.
start_sim com7 --silent
if (cd "$run" && TRV_TEST_COM=COM7 timeout 600 wine ./trv-tests.exe -platform offscreen \
        --gtest_brief=1 >"$work/tests.log" 2>&1); then
    pass "$(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/tests.log" | head -1) under wine"
else
    fail "the tests under wine" "$work/tests.log"
fi
grep "SKIPPED" "$work/tests.log" | sed 's/^/    /' || true
if grep -qx "C00" "$work/sim-com7.log"; then
    pass "the serial line's tests put C00 on COM7"
else
    fail "the serial line's tests on COM7 sent nothing" "$work/sim-com7.log"
fi

# 2. trv-ctl.exe through a wine COM port that leads to the simulator.
ctl() { # output file, arguments
    local out=$1
    shift
    (cd "$run" && timeout 60 wine ./trv-ctl.exe "$@" >"$out" 2>&1)
}

start_sim com5 --warmup 1
if ctl "$work/ctl-status.log" --port COM5 read status &&
    grep -q "Stand by" "$work/ctl-status.log"; then
    pass "trv-ctl.exe read status on COM5"
else
    fail "trv-ctl.exe read status on COM5" "$work/ctl-status.log"
fi
if ctl "$work/ctl-send.log" --port COM5 send C00 && grep -qx "C00" "$work/sim-com5.log"; then
    pass "trv-ctl.exe send C00 reached the line"
else
    fail "trv-ctl.exe send C00" "$work/ctl-send.log"
fi
ctl "$work/ctl-missing.log" --port COM9 read status || true
if grep -q "COM9" "$work/ctl-missing.log" && ! grep -q "Stand by" "$work/ctl-missing.log"; then
    pass "trv-ctl.exe on a port that leads nowhere says which"
else
    fail "trv-ctl.exe on a missing port" "$work/ctl-missing.log"
fi

# 3. The panel on COM6 under a real X server: the settings in the registry where the panel
# looks for them, the window focused, the space bar on the first button (ON).
start_sim com6 --warmup 1
key='HKCU\Software\VB and VBA Program Settings\ZEKO\StartUP'
wine reg add "$key" /v ComPort /t REG_SZ /d 6 /f >"$work/reg.log" 2>&1
wine reg add "$key" /v BaudRate /t REG_SZ /d 96 /f >>"$work/reg.log" 2>&1
wine reg add "$key" /v ADRESS /t REG_SZ /d 0 /f >>"$work/reg.log" 2>&1
# A wine session begun without a display would leave the window blank.
wineserver -k 2>/dev/null || true
wineserver -p 2>>"$work/wineserver.log"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
sleep 1
(cd "$run" && DISPLAY=$display timeout 120 wine ./trv-panel.exe >"$work/panel.log" 2>&1) &
panel=$!
pids+=("$panel")
window=""
for _ in $(seq 100); do
    window=$(DISPLAY=$display xdotool search --name "CONTROL" 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.3
done
if [ -n "$window" ]; then
    sleep 1
    DISPLAY=$display xdotool windowfocus --sync "$window" key space 2>>"$work/xdotool.log" || true
    for _ in $(seq 50); do grep -qx "C00" "$work/sim-com6.log" && break; sleep 0.1; done
fi
if grep -qx "C00" "$work/sim-com6.log"; then
    pass "the panel's ON put C00 on COM6"
else
    fail "the panel's ON on COM6 (window: ${window:-none})" "$work/panel.log"
fi
kill "$panel" 2>/dev/null || true
wineserver -k 2>/dev/null || true
wineserver -p 2>>"$work/wineserver.log"
sleep 2 # the warm-up ends
if ctl "$work/ctl-on.log" --port COM6 read status && grep -q "Power ON" "$work/ctl-on.log"; then
    pass "the projector on COM6 is on"
else
    fail "the status after the panel's ON" "$work/ctl-on.log"
fi

# 4. The setup program: silent install, then uninstall leaving only the user's settings.
if bash scripts/windows/installer-check.sh "$setup" >"$work/installer.log" 2>&1; then
    pass "silent install and uninstall"
else
    fail "the setup program" "$work/installer.log"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed under wine" >&2; exit 1; }
echo "every Windows check passed under wine"
