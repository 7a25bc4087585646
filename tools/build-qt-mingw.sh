#!/usr/bin/env bash
# Builds Qt 6 (Core, Gui, Widgets) and zlib for 64-bit Windows with MinGW-w64, from Debian's
# source packages of the host's own versions, into a cache folder outside the repository, and
# reuses that folder when it is already complete. Prints the folder on its last line.
#
#   tools/build-qt-mingw.sh            # build once, then reuse
#   KELVORA_CACHE=DIR tools/...        # another cache root (default ~/.cache/kelvora)
#
# The first build takes about 40 minutes on 2 cores (about 1,100 steps); a cached run returns at
# once. Needs root the first time (a deb-src entry and apt-get update) unless sources are present.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

cache_root=${KELVORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kelvora}
host_qt_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
    /usr/lib/x86_64-linux-gnu/cmake/Qt6/Qt6ConfigVersionImpl.cmake)
if [ -z "$host_qt_version" ]; then
    echo "build-qt-mingw: the host's Qt 6 (qt6-base-dev) is not installed" >&2
    exit 1
fi
prefix=$cache_root/qt6-mingw-$host_qt_version
stamp=$prefix/.kelvora-complete
# The stamp names what the tree was built from; a change to this script's recipe shows as a
# different recipe line and builds afresh.
recipe="qtbase $host_qt_version zlib recipe 2"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
    echo "$prefix"
    exit 0
fi

echo "build-qt-mingw: building Qt $host_qt_version and zlib for MinGW-w64 into $prefix" \
     "(first time only: about 40 minutes on 2 cores)" >&2
start=$SECONDS
work=$cache_root/work-qt6-mingw-$host_qt_version
rm -rf "$prefix"
mkdir -p "$work"

# --- sources -------------------------------------------------------------------------------
# apt-get source needs a deb-src entry for the mirror the machine already uses.
ensure_deb_src() {
    if grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "build-qt-mingw: no deb-src entry; run once as root to add it" >&2
        exit 1
    fi
    local src=/etc/apt/sources.list.d/debian.sources
    local uri suite signed
    uri=$(awk '/^URIs:/ {print $2; exit}' "$src")
    suite=$(awk '/^Suites:/ {print $2; exit}' "$src")
    signed=$(awk '/^Signed-By:/ {print $2; exit}' "$src")
    cat >/etc/apt/sources.list.d/kelvora-deb-src.sources <<EOF
Types: deb-src
URIs: ${uri:-http://deb.debian.org/debian}
Suites: ${suite:-bookworm}
Components: main
Signed-By: ${signed:-/usr/share/keyrings/debian-archive-keyring.gpg}
EOF
    apt-get update -qq
}

fetch_source() { # package, folder glob inside $work
    local pkg=$1 glob=$2
    if compgen -G "$work/$glob" >/dev/null; then
        return
    fi
    ensure_deb_src
    (cd "$work" && apt-get source -qq "$pkg" >/dev/null 2>&1) || {
        # apt-get update may be needed on a machine that had the entry but no lists yet.
        [ "$(id -u)" -eq 0 ] && apt-get update -qq
        (cd "$work" && apt-get source -qq "$pkg" >/dev/null)
    }
}

fetch_source zlib 'zlib-1.*/'
fetch_source qt6-base 'qt6-base-*/'
zlib_src=$(compgen -G "$work/zlib-1.*/" | head -n1)
qt_src=$(compgen -G "$work/qt6-base-*/" | head -n1)

toolchain=$repo/cmake/mingw-w64.cmake

# --- zlib (static, for the skin store) ------------------------------------------------------
cmake -S "$zlib_src" -B "$work/build-zlib" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix/zlib" >/dev/null 2>&1
cmake --build "$work/build-zlib" --target zlibstatic >/dev/null
install -d "$prefix/zlib/include" "$prefix/zlib/lib"
install -m 644 "$zlib_src/zlib.h" "$work/build-zlib/zconf.h" "$prefix/zlib/include/"
install -m 644 "$work/build-zlib/libzlibstatic.a" "$prefix/zlib/lib/libz.a"
install -m 644 "$zlib_src/README" "$prefix/zlib/README.zlib"

# --- qtbase ---------------------------------------------------------------------------------
# Only what the console uses: Core, Gui, Widgets. Two features must be off for the Windows
# platform plugin to build from Debian's source: tablet events (the wintab headers are not in
# it) and dynamic GL (compiled even with OpenGL off).
cmake -S "$qt_src" -B "$work/build-qt" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_testlib=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF \
    -DINPUT_openssl=no >"$work/configure-qt.log" 2>&1 || {
    tail -n 40 "$work/configure-qt.log" >&2
    exit 1
}
cmake --build "$work/build-qt" >"$work/build-qt.log" 2>&1 || {
    tail -n 40 "$work/build-qt.log" >&2
    exit 1
}
cmake --install "$work/build-qt" >/dev/null

# The licence texts that shipping Qt's libraries asks for go with the build: Qt's own and those of
# the third-party code inside it (listed in Debian's copyright file).
install -d "$prefix/licenses"
cp "$qt_src"/LICENSES/*.txt "$prefix/licenses/"
cp "$qt_src/debian/copyright" "$prefix/licenses/qtbase-copyright.txt"

echo "$recipe" >"$stamp"
rm -rf "$work/build-qt" "$work/build-zlib"
echo "build-qt-mingw: done in $(((SECONDS - start) / 60)) min" >&2
echo "$prefix"
