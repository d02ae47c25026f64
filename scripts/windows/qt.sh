#!/usr/bin/env bash
# Builds Qt for Windows (Core, Gui, Widgets, Network) from Debian's own qt6-base source with
# mingw-w64, once, and keeps it as a tarball in a cache keyed by the Qt and compiler versions.
# Prints the folder it is unpacked in. Debian's mirror serves no Windows Qt and no source of
# Qt Serial Port, so the serial line on Windows is the project's own.
#   TRV_WINDOWS_CACHE  where the tarball is kept (default ~/.cache/trv-panel/windows)
#   TRV_WINDOWS_WORK   where Qt is built and unpacked (default build-windows/qt-work)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
gcc_version=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)
crt_version=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev)
key="qt-${qt_version//[^A-Za-z0-9.]/_}-mingw-gcc${gcc_version}-crt${crt_version//[^A-Za-z0-9.]/_}"
cache=${TRV_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/trv-panel/windows}
work=$(realpath -m "${TRV_WINDOWS_WORK:-build-windows/qt-work}")
tarball="$cache/$key.tar.zst"
prefix="$work/$key"

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi
mkdir -p "$cache" "$work"
if [ ! -f "$tarball" ]; then
    echo "Building Qt $qt_version for Windows once (about 20 minutes on two cores)." >&2
    src="$work/source"
    rm -rf "$src" "$work/build" "$work/install"
    mkdir -p "$src"
    # A private sources list with deb-src for the machine's own mirrors, so the machine's
    # apt configuration is left as it was.
    apt_dir="$work/apt"
    mkdir -p "$apt_dir/lists/partial"
    : >"$apt_dir/sources.list"
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && sed -n 's/^deb \(.*deb\.debian\.org.*\)$/deb-src \1/p' "$f" >>"$apt_dir/sources.list"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '/^URIs:/{u=$2} /^Suites:/{$1=""; s=$0} /^Components:/{$1=""; c=$0}
             /^$/{if(u ~ /deb\.debian\.org/) for(i=split(s,a," ");i>0;i--) print "deb-src [trusted=yes] " u " " a[i] c; u=""}
             END{if(u ~ /deb\.debian\.org/) for(i=split(s,a," ");i>0;i--) print "deb-src [trusted=yes] " u " " a[i] c}' \
            "$f" >>"$apt_dir/sources.list"
    done
    apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
              -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
              -o "APT::Sandbox::User=root")
    mkdir -p "$apt_dir/cache/archives/partial"
    apt-get "${apt_opts[@]}" update -qq
    (cd "$src" && apt-get "${apt_opts[@]}" source -qq "qt6-base=$qt_version" >/dev/null)
    host_cmake=$(dirname "$(dirname "$(dpkg -L qt6-base-dev | grep '/Qt6HostInfoConfig.cmake$' | head -1)")")
    tree=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
    cmake -S "$tree" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DCMAKE_INSTALL_PREFIX="$work/install" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
        -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF \
        -DFEATURE_opengl_dynamic=OFF -DFEATURE_dbus=OFF -DFEATURE_icu=OFF -DFEATURE_sql=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_tabletevent=OFF -DFEATURE_openssl=OFF -DFEATURE_testlib=ON \
        -DFEATURE_concurrent=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF \
        -DFEATURE_system_jpeg=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF \
        -DFEATURE_sql_sqlite=OFF >"$work/configure.log" 2>&1 \
        || { tail -40 "$work/configure.log" >&2; exit 1; }
    cmake --build "$work/build" --parallel "${TRV_JOBS:-$(nproc)}" >"$work/build.log" 2>&1 \
        || { tail -40 "$work/build.log" >&2; exit 1; }
    cmake --install "$work/build" >/dev/null
    tar -C "$work/install" -I 'zstd -T0 -10' -cf "$tarball.part" .
    mv "$tarball.part" "$tarball"
    rm -rf "$src" "$work/build" "$work/install"
fi
rm -rf "$prefix"
mkdir -p "$prefix"
tar -C "$prefix" -I zstd -xf "$tarball"
touch "$prefix/.complete"
echo "$prefix"
