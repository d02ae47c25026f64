#!/usr/bin/env bash
# Builds the Windows setup program from a cross build:
#   installer.sh BUILD_DIR QT_PREFIX OUT_DIR     ->  OUT_DIR/trv-panel-setup.exe
# BUILD_DIR holds bin/trv-panel.exe and bin/trv-ctl.exe, QT_PREFIX the Windows Qt (see qt.sh).
# OUT_DIR/stage is rebuilt as the folder is installed, with the explicit file lists the
# uninstaller deletes by. TRV_VERSION overrides the version taken from CMakeLists.txt.
#   installer.sh --icon OUT.ico                   ->  only the icon, for the exe's resource
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

die() { echo "installer.sh: $*" >&2; exit 1; }

# Installs the packages that are missing.
need() { bash "$root/scripts/install-packages.sh" --no-recommends "$@"; }

# rsvg-convert and icotool: two small packages, where ImageMagick would pull in far more.
make_icon() {
    local out=$1 tmp size pngs=()
    need librsvg2-bin icoutils
    tmp=$(mktemp -d)
    for size in 16 24 32 48 64; do
        rsvg-convert -w "$size" -h "$size" -o "$tmp/$size.png" "$root/packaging/trv-panel.svg"
        pngs+=("$tmp/$size.png")
    done
    rsvg-convert -w 256 -h 256 -o "$tmp/256.png" "$root/packaging/trv-panel.svg"
    # The large size stays PNG inside the .ico, as Windows has read it since Vista.
    icotool -c -o "$out" "${pngs[@]}" -r "$tmp/256.png"
    rm -rf "$tmp"
}

if [ "${1:-}" = "--icon" ]; then
    [ $# -eq 2 ] || die "usage: installer.sh --icon OUT.ico"
    mkdir -p "$(dirname "$2")"
    make_icon "$2"
    exit 0
fi

[ $# -eq 3 ] || die "usage: installer.sh BUILD_DIR QT_PREFIX OUT_DIR"
build=$(realpath "$1")
qt=$(realpath "$2")
mkdir -p "$3"
out=$(realpath "$3")
stage=$out/stage
# The stage path goes into NSIS strings as it is.
case $stage in *[\$\"\'\`]*) die "OUT_DIR must not contain \$, quotes or backquotes: $stage" ;; esac

need nsis binutils-mingw-w64-x86-64
objdump=x86_64-w64-mingw32-objdump
strip=x86_64-w64-mingw32-strip

version=${TRV_VERSION:-$(sed -n 's/^project(trv-panel VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "version '$version' is not x.y.z"

mingw_dirs=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)

# What the programs load: Core, Gui, Widgets and Network (trv-ctl only Core and Network), the
# Windows platform plugin, without which no window opens, and the native style.
programs=(trv-panel.exe trv-ctl.exe)
qt_dlls=(Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Network.dll)
qt_plugins=(platforms/qwindows.dll)
# The native style, and Qt's Windows TLS backend for tcps:// and rfc2217s:// device servers.
qt_optional_plugins=(styles/qwindowsvistastyle.dll tls/qschannelbackend.dll)
runtime_dlls=(libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)

rm -rf "$stage"
mkdir -p "$stage"
for p in "${programs[@]}"; do
    [ -f "$build/bin/$p" ] || die "missing $build/bin/$p"
    install -m 755 "$build/bin/$p" "$stage/$p"
done
for d in "${qt_dlls[@]}"; do
    [ -f "$qt/bin/$d" ] || die "missing $qt/bin/$d"
    install -m 644 "$qt/bin/$d" "$stage/$d"
done
for p in "${qt_plugins[@]}"; do
    [ -f "$qt/plugins/$p" ] || die "missing $qt/plugins/$p"
    install -D -m 644 "$qt/plugins/$p" "$stage/$p"
done
for p in "${qt_optional_plugins[@]}"; do
    if [ -f "$qt/plugins/$p" ]; then
        install -D -m 644 "$qt/plugins/$p" "$stage/$p"
    else
        echo "installer.sh: no $p in this Qt (${p%%/*}: without it the programs fall back to" \
             "Qt's Fusion-like style, or have no TLS)" >&2
    fi
done
for d in "${runtime_dlls[@]}"; do
    found=
    for dir in "${mingw_dirs[@]}"; do
        [ -f "$dir/$d" ] && { found=$dir/$d; break; }
    done
    [ -n "$found" ] || die "missing $d in ${mingw_dirs[*]}"
    install -m 644 "$found" "$stage/$d"
done

# Stripped copies only: the build's own files keep their symbols for debugging.
while IFS= read -r -d '' f; do
    "$strip" --strip-unneeded "$f"
done < <(find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \) -print0)

# Every DLL a staged program or plugin imports must be staged too, or be part of Windows:
# Windows DLLs are those mingw-w64 has an import library for, and the API sets.
system_dll() {
    local base=${1,,}
    base=${base%.dll}
    case $base in api-ms-win-*|ext-ms-win-*) return 0 ;; esac
    [ -f "/usr/x86_64-w64-mingw32/lib/lib$base.a" ]
}
declare -A staged=()
while IFS= read -r -d '' f; do
    name=$(basename "$f")
    staged[${name,,}]=1
done < <(find "$stage" -maxdepth 1 -type f -name '*.dll' -print0)
unresolved=0
while IFS= read -r -d '' f; do
    while read -r dll; do
        [ -n "${staged[${dll,,}]:-}" ] && continue
        system_dll "$dll" && continue
        hint=$(find "$qt/bin" "${mingw_dirs[@]}" -maxdepth 1 -iname "$dll" -print -quit 2>/dev/null || true)
        echo "installer.sh: ${f#"$stage"/} needs $dll, which is not staged${hint:+ (there is $hint)}" >&2
        unresolved=1
    done < <("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
done < <(find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \) -print0)
[ $unresolved -eq 0 ] || die "add the DLLs above to the lists in this script"

make_icon "$stage/trv-panel.ico"

# Notepad and older editors want CRLF.
sed 's/$/\r/' >"$stage/README.txt" <<EOF
trv-panel $version for Windows

trv-panel is a remote-control panel for a video projector on an RS-232C line;
trv-ctl sends the same commands from a console, a script or the Task Scheduler.

Start the panel from the Start menu (trv-panel). On the first start it asks for
the COM port (COM1 to COM15) and the line speed of the projector's serial cable.

trv-ctl runs in a console (cmd or PowerShell):

    trv-ctl send C00        power on
    trv-ctl read lamp       lamp hours
    trv-ctl ports           what each COM port opens
    trv-ctl --help          everything else

Unless "Add trv-ctl to the system PATH" was chosen at setup, give its full path:
    "C:\\Program Files\\trv-panel\\trv-ctl.exe" read lamp
Silent setup: trv-panel-setup.exe /S [/ADDTOPATH] [/D=folder]

The panel keeps its settings (COM port, line speed) in the registry under
HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\ZEKO. Uninstalling
(Settings > Apps, or the Start-menu entry) removes the program and leaves the
settings, so a later install starts where this one left off.
EOF

# The lists the setup program installs and the uninstaller deletes by; file names are kept
# plain so they need no quoting in NSIS.
files=()
while IFS= read -r -d '' f; do
    rel=${f#"$stage"/}
    [[ $rel =~ ^[A-Za-z0-9._+/-]+$ ]] || die "unexpected file name in stage: $rel"
    files+=("$rel")
done < <(find "$stage" -type f ! -name '*.nsh' -print0 | LC_ALL=C sort -z)
{
    echo "; Written by scripts/windows/installer.sh: what the setup program installs."
    last_dir=.
    for rel in "${files[@]}"; do
        dir=$(dirname "$rel")
        if [ "$dir" != "$last_dir" ]; then
            if [ "$dir" = . ]; then echo 'SetOutPath "$INSTDIR"'; else echo "SetOutPath \"\$INSTDIR\\${dir//\//\\}\""; fi
            last_dir=$dir
        fi
        echo "File \"$stage/$rel\""
    done
} >"$stage/files.nsh"
{
    echo "; Written by scripts/windows/installer.sh: what the uninstaller deletes."
    for rel in "${files[@]}"; do
        echo "Delete \"\$INSTDIR\\${rel//\//\\}\""
    done
    # Folders deepest first, each only if left empty.
    for rel in "${files[@]}"; do
        dir=$(dirname "$rel")
        while [ "$dir" != . ]; do
            echo "$dir"
            dir=$(dirname "$dir")
        done
    done | LC_ALL=C sort -u | awk -F/ '{ print NF "\t" $0 }' | LC_ALL=C sort -k1,1nr -k2 | cut -f2- | while read -r dir; do
        echo "RMDir \"\$INSTDIR\\${dir//\//\\}\""
    done
} >"$stage/uninstall-files.nsh"

makensis -V2 -DSTAGE="$stage" -DVERSION="$version" -DOUTFILE="$out/trv-panel-setup.exe" \
    "$root/packaging/windows/trv-panel.nsi"
echo "$out/trv-panel-setup.exe"
