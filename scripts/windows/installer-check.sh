#!/usr/bin/env bash
# Installs and uninstalls the Windows setup program under wine, in a throwaway prefix, and
# checks what each leaves behind:
#   installer-check.sh OUT_DIR/trv-panel-setup.exe
# 1. defaults (/S): files, Start menu, Add/Remove programs entry, PATH untouched; uninstall
#    removes all of it and keeps the user's settings;
# 2. /S /ADDTOPATH /D= a folder with a space, installed twice: the folder on PATH once and
#    trv-ctl found by name in a console; uninstall restores PATH exactly and keeps a file the
#    user put in the folder;
# 3. /ADDTOPATH with a PATH longer than the setup program can hold: PATH left as it was;
# 4. /ADDTOPATH with the folder on PATH already: neither added twice nor taken away.
# If OUT_DIR/stage/uninstall-files.nsh is there (installer.sh leaves it), every file it names
# is checked too. Wine's output goes to files, never to pipes: its services hold them open.
set -uo pipefail

[ $# -eq 1 ] || { echo "usage: installer-check.sh SETUP_EXE" >&2; exit 2; }
setup=$(realpath "$1")
[ -f "$setup" ] || { echo "installer-check.sh: no $setup" >&2; exit 2; }
for c in wine wineserver wineboot; do
    command -v "$c" >/dev/null || { echo "installer-check.sh: $c is missing (apt-get install wine)" >&2; exit 2; }
done

work=$(mktemp -d)
log=$(mktemp -d "${TMPDIR:-/tmp}/installer-check-log.XXXXXX")
mkdir -p "$work/xdg"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko prompts, and no menu entries made on this machine for the shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export XDG_DATA_HOME=$work/xdg XDG_CONFIG_HOME=$work/xdg
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT

failures=0
step=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # description, command...
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# wine PROGRAM ARGS... with its output in a file of its own; returns the program's status.
run() {
    step=$((step + 1))
    local out=$log/$step.out status
    timeout 600 wine "$@" >"$out" 2>&1 </dev/null
    status=$?
    last_out=$out
    return $status
}
# Runs a Windows command line as typed, through a batch file: wine would quote an argument
# with a space ("/D=C:\a b"), and the setup program takes /D= only unquoted. A batch file also
# waits for a windowed program and hands on its exit status.
run_line() {
    step=$((step + 1))
    printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$1" >"$drive_c/installer-check-$step.cmd"
    timeout 600 wine cmd /c "C:\\installer-check-$step.cmd" >"$log/$step.out" 2>&1 </dev/null
}
setup_win="Z:${setup//\//\\}"

# Waits until every program of the prefix has ended (an uninstaller runs on from a copy in
# the temporary folder after the one started returns).
settle() { timeout 600 wineserver -w >/dev/null 2>&1; }

# Prints the data of value NAME of KEY; fails when there is none.
# wine's reg has once come back without a value that was there a moment later, so a value is
# missing only when three readings agree.
reg_value() {
    local attempt
    for attempt in 1 2 3; do
        run reg query "$1" /v "$2" || continue
        tr -d '\r' <"$last_out" | awk -v n="$2" '
            tolower($1) == tolower(n) && $2 ~ /^REG_/ {
                sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]?[ \t]*/, ""); print; found = 1 }
            END { exit !found }' && return 0
    done
    return 1
}
uninstall_key_gone() { ! run reg query "$uninst_key"; }

uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\trv-panel'
env_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
user_key='HKCU\Software\VB and VBA Program Settings\ZEKO\StartUP'
drive_c=$WINEPREFIX/drive_c
start_menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/trv-panel"

expected=(trv-panel.exe trv-ctl.exe uninstall.exe README.txt trv-panel.ico
          Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Network.dll platforms/qwindows.dll
          libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
list=$(dirname "$setup")/stage/uninstall-files.nsh
if [ -f "$list" ]; then
    while IFS= read -r f; do
        [[ " ${expected[*]} " == *" $f "* ]] || expected+=("$f")
    done < <(tr -d '\r' <"$list" | sed -n 's/^Delete "\$INSTDIR\\\(.*\)"$/\1/p' | tr '\\' /)
fi

all_files_present() { # folder
    local f ok=0
    for f in "${expected[@]}"; do
        [ -f "$1/$f" ] || { echo "  missing: $f"; ok=1; }
    done
    return $ok
}
no_files_left() { # folder
    local f ok=0
    for f in "${expected[@]}"; do
        [ ! -e "$1/$f" ] || { echo "  left behind: $f"; ok=1; }
    done
    [ ! -e "$1/platforms" ] || { echo "  left behind: platforms/"; ok=1; }
    return $ok
}
shortcuts_present() {
    [ -f "$start_menu/trv-panel.lnk" ] && [ -f "$start_menu/Uninstall trv-panel.lnk" ] && return 0
    echo "  shortcuts found:"; find "$drive_c" -name '*.lnk' | sed 's/^/    /'
    return 1
}
uninstall_entry_complete() { # folder (Windows form)
    local v ok=0 name
    for name in DisplayName DisplayVersion Publisher DisplayIcon UninstallString \
                QuietUninstallString InstallLocation EstimatedSize NoModify NoRepair; do
        reg_value "$uninst_key" "$name" >/dev/null || { echo "  no value $name"; ok=1; }
    done
    v=$(reg_value "$uninst_key" Publisher) && [ "$v" = "trv-panel developers" ] || { echo "  Publisher: '$v'"; ok=1; }
    v=$(reg_value "$uninst_key" InstallLocation) && [ "$v" = "$1" ] || { echo "  InstallLocation: '$v'"; ok=1; }
    v=$(reg_value "$uninst_key" QuietUninstallString) && [ "$v" = "\"$1\\uninstall.exe\" /S" ] || { echo "  QuietUninstallString: '$v'"; ok=1; }
    return $ok
}
path_is() { # expected value
    local v
    v=$(reg_value "$env_key" Path) || { echo "  no Path value"; return 1; }
    [ "$v" = "$1" ] || { echo "  Path is: $v"; echo "  expected: $1"; return 1; }
}
user_setting_kept() {
    local v
    v=$(reg_value "$user_key" ComPort) && [ "$v" = 3 ] || { echo "  ComPort: '$v'"; return 1; }
}
uninstall() { # folder (Windows form)
    run "$1\\uninstall.exe" /S
    local status=$?
    settle
    return $status
}

echo "Preparing a wine prefix in $WINEPREFIX"
timeout 600 wineboot -i >"$log/wineboot.out" 2>&1 </dev/null
settle
original_path=$(reg_value "$env_key" Path) || { echo "FAIL: no system Path in the new prefix"; exit 1; }

echo "== 1. silent install with the defaults"
default_dir='C:\Program Files\trv-panel'
unix_dir="$drive_c/Program Files/trv-panel"
check "setup /S exits 0" run "$setup" /S
settle
check "the files are in Program Files\\trv-panel" all_files_present "$unix_dir"
check "Start-menu entries for the panel and the uninstaller" shortcuts_present
check "Add/Remove programs entry with its values" uninstall_entry_complete "$default_dir"
check "the system PATH is untouched (component off by default)" path_is "$original_path"
check "trv-ctl.exe runs from its folder" run "$default_dir\\trv-ctl.exe" --help
check "a user setting is written (HKCU ...\\ZEKO\\StartUP ComPort=3)" \
    run reg add "$user_key" /v ComPort /t REG_SZ /d 3 /f
check "uninstall.exe /S exits 0" uninstall "$default_dir"
check "the install folder is gone" test ! -e "$unix_dir"
check "the Start-menu folder is gone" test ! -e "$start_menu"
check "the Add/Remove programs entry is gone" uninstall_key_gone
check "the system PATH is as before" path_is "$original_path"
check "the user's ComPort setting is kept" user_setting_kept

echo "== 2. silent install on PATH into a folder of one's choice, twice"
custom_dir='C:\Tools\trv panel'
unix_dir="$drive_c/Tools/trv panel"
check "setup /S /ADDTOPATH /D=$custom_dir exits 0" run_line "\"$setup_win\" /S /ADDTOPATH /D=$custom_dir"
settle
check "the files are in $custom_dir" all_files_present "$unix_dir"
check "the system PATH gained the folder at its end" path_is "$original_path;$custom_dir"
check "trv-ctl runs by name from a console" run cmd /c "trv-ctl --help"
check "setup again exits 0" run_line "\"$setup_win\" /S /ADDTOPATH /D=$custom_dir"
settle
check "the folder is on the system PATH once" path_is "$original_path;$custom_dir"
check "Add/Remove programs entry names the folder" uninstall_entry_complete "$custom_dir"
[ -d "$unix_dir" ] && echo "the user's notes" >"$unix_dir/notes.txt"
check "uninstall.exe /S exits 0" uninstall "$custom_dir"
check "none of the installed files is left" no_files_left "$unix_dir"
check "the user's own file in the folder is kept" test -f "$unix_dir/notes.txt"
check "the system PATH is exactly as before" path_is "$original_path"
check "the Add/Remove programs entry is gone" uninstall_key_gone
check "the user's ComPort setting is kept" user_setting_kept

echo "== 3. a system PATH longer than the setup program can edit"
long_path=$original_path
while [ ${#long_path} -le 1100 ]; do long_path+=';C:\Some\Long\Tool\Folder\bin'; done
check "a long PATH is written" run reg add "$env_key" /v Path /t REG_EXPAND_SZ /d "$long_path" /f
check "setup /S /ADDTOPATH exits 0" run "$setup" /S /ADDTOPATH
settle
check "the files are installed all the same" all_files_present "$drive_c/Program Files/trv-panel"
check "the long PATH is left whole" path_is "$long_path"
check "uninstall.exe /S exits 0" uninstall "$default_dir"
check "the long PATH is still whole" path_is "$long_path"
check "the install folder is gone" test ! -e "$drive_c/Program Files/trv-panel"

echo "== 4. the folder on PATH already, put there by the user"
user_path="$original_path;"'C:\PROGRAM FILES\trv-panel\'
check "PATH with the folder is written" run reg add "$env_key" /v Path /t REG_EXPAND_SZ /d "$user_path" /f
check "setup /S /ADDTOPATH exits 0" run "$setup" /S /ADDTOPATH
settle
check "PATH is unchanged: the folder is not added twice" path_is "$user_path"
check "uninstall.exe /S exits 0" uninstall "$default_dir"
check "the user's PATH entry is kept" path_is "$user_path"
check "the install folder is gone" test ! -e "$drive_c/Program Files/trv-panel"

if [ $failures -ne 0 ]; then
    echo "installer-check: $failures check(s) FAILED; wine's output is in $log"
    exit 1
fi
rm -rf "$log"
echo "installer-check: all checks passed"
