#!/usr/bin/env bash
# The Windows build of everything below the windows (platform with its Win32 backend, the OLE DB
# seam on COM, toolkit, dataaccess, the console's operations, the trace viewer's reader and its
# listening port), cross-compiled with MinGW-w64 and tested under Wine.
#
# usage: tests/cross/mingw-wine.sh BUILD_DIR build   configure and build the tests (and a Wine prefix)
#        tests/cross/mingw-wine.sh BUILD_DIR test    run them under Wine (CTest in BUILD_DIR)
#
# The Wine prefix lives in BUILD_DIR/wineprefix; Wine runs without a display.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${1:?build folder}
mode=${2:?build or test}

for tool in x86_64-w64-mingw32-g++-posix wine wineboot; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "mingw-wine: $tool is missing (Debian: g++-mingw-w64-x86-64-posix, wine, wine64)" >&2
        exit 1
    fi
done

# The test programs of the cross build; the platform contract test brings its service program.
targets=(toolkit_tests dataaccess_tests console_tests oledb_tests platform_win32_tests platform_smoke
         traceviewer_tests skin_store_tests skin_stored_tests)

case $mode in
build)
    launcher=()
    if command -v ccache >/dev/null 2>&1; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    fi
    # A folder configured from another source (an earlier layout of this build) starts afresh.
    if [ -f "$build/CMakeCache.txt" ] &&
        ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$source_dir" "$build/CMakeCache.txt"; then
        echo "mingw-wine: $build was configured from another source; starting it afresh"
        rm -rf "$build"
    fi
    # -O0: the tests need no faster code, and the build is the larger part of the time.
    cmake -S "$source_dir" -B "$build" -G Ninja \
          -DCMAKE_TOOLCHAIN_FILE="$here/mingw-toolchain.cmake" \
          -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DCMAKE_C_FLAGS_DEBUG=-O0 \
          -DKELVORA_GTEST_SOURCE_DIR=/usr/src/googletest -DKELVORA_BENCH=OFF \
          "-DCMAKE_CROSSCOMPILING_EMULATOR=$here/wine-run.sh;$build/wineprefix" \
          "${launcher[@]}" >/dev/null
    cmake --build "$build" --parallel 2 --target "${targets[@]}"
    # Wine names Unix files in the charset of its Unix locale; without a Turkish UTF-8 locale on
    # the machine that is ASCII, and a file name beyond it cannot be made. The locale is made
    # here, for this build only (wine-run.sh points LOCPATH at it).
    if [ ! -d "$build/locale/tr_TR.UTF-8" ]; then
        rm -rf "$build/locale.new"
        mkdir -p "$build/locale.new"
        localedef -i tr_TR -f UTF-8 "$build/locale.new/tr_TR.UTF-8" ||
            { echo "mingw-wine: localedef could not make tr_TR.UTF-8 (Debian: locales)" >&2; exit 1; }
        rm -rf "$build/locale"
        mv "$build/locale.new" "$build/locale"
    fi
    if [ ! -f "$build/wineprefix/system.reg" ]; then
        echo "mingw-wine: making the Wine prefix $build/wineprefix"
        "$here/wine-run.sh" "$build/wineprefix" wineboot -i
        WINEPREFIX="$build/wineprefix" wineserver -w
    fi
    ;;
test)
    cd "$build"
    status=0
    ctest --output-on-failure --timeout 300 || status=$?
    # The cases inside the test programs, from GoogleTest's own summaries.
    log=Testing/Temporary/LastTest.log
    if [ -f "$log" ]; then
        ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
        skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
        echo "mingw-wine: GoogleTest cases under Wine: ${ran:-0} run, ${skipped:-0} of them skipped"
        sed -n 's/^\[  SKIPPED \] \([^ ]*\) ([0-9]* ms)$/mingw-wine:   skipped \1/p' "$log"
        grep -h '^\[ WINE' "$log" | sed 's/^/mingw-wine:   /' || true
    fi
    exit "$status"
    ;;
*)
    echo "mingw-wine: unknown mode $mode" >&2
    exit 2
    ;;
esac
