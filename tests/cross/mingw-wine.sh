#!/usr/bin/env bash
# The Windows build of everything below the windows (platform with its Win32 backend, the OLE DB
# seam on COM, toolkit, dataaccess, the console's operations, the trace viewer's reader and its
# listening port, the skin store, the stand-in SQL Server), cross-compiled with MinGW-w64 and
# tested under Wine.
#
# usage: tests/cross/mingw-wine.sh BUILD_DIR build   configure and build the tests (and a Wine prefix)
#        tests/cross/mingw-wine.sh BUILD_DIR test    run them under Wine (CTest in BUILD_DIR)
#
# The Wine prefix lives in BUILD_DIR/wineprefix; Wine runs without a display.
#
# For the portable provider over ODBC (oledb_odbc_wine_tests) the test mode starts the Linux
# build's stand-in SQL Server (BUILD_DIR/../bin/sqlserver-standin, or KELVORA_STANDIN_BIN) twice,
# profiles 2000 and 2005, on loopback ports it hands to the tests in KELVORA_STANDIN_PORT and
# KELVORA_STANDIN_PORT_2005, and registers FreeTDS's ODBC driver (Debian tdsodbc) for the Linux
# machine's unixODBC in BUILD_DIR/odbc (ODBCSYSINI), which Wine's odbc32 passes the calls to.
# Without them those tests skip.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${1:?build folder}
mode=${2:?build or test}
# Absolute, since Wine takes only an absolute WINEPREFIX and the emulator is configured with it.
mkdir -p "$build"
build=$(cd "$build" && pwd)

for tool in x86_64-w64-mingw32-g++-posix wine wineboot; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "mingw-wine: $tool is missing (Debian: g++-mingw-w64-x86-64-posix, wine, wine64)" >&2
        exit 1
    fi
done

# The test programs of the cross build; the platform contract test brings its service program,
# the stand-in's service test the stand-in (also what tools/wine-pharmacy.sh installs). With
# MinGW's zlib (libz-mingw-w64-dev) the skin store's tests are configured too, and run here.
targets=(toolkit_tests dataaccess_tests console_tests oledb_tests oledb_odbc_wine_tests
         platform_win32_tests platform_smoke traceviewer_tests standin_win32_tests
         sqlserver-standin skin_store_tests skin_stored_tests)

source "$here/scenario/wine-env.sh"

# One stand-in on a loopback port of its own, on a simulated host in $build/standin-PROFILE;
# prints the port.
start_standin() {
    local profile=$1 bin=$2 simhost=$3 folder="$build/standin-$1"
    rm -rf "$folder"
    "$simhost" create "$folder/host" >/dev/null
    "$bin" --host "$folder/host" --port 0 --profile "$profile" >"$folder/out" 2>&1 &
    echo $! >"$folder/pid"
    for _ in $(seq 1 100); do
        if grep -q '^listening 127\.0\.0\.1:' "$folder/out" 2>/dev/null; then
            sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$folder/out" | head -n 1
            return 0
        fi
        sleep 0.1
    done
    echo "mingw-wine: the stand-in ($profile) did not start: $(cat "$folder/out")" >&2
    return 1
}

stop_standins() {
    local pidfile
    for pidfile in "$build"/standin-*/pid; do
        [ -f "$pidfile" ] || continue
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    done
}

start_standins() {
    local bin=${KELVORA_STANDIN_BIN:-$build/../bin/sqlserver-standin}
    local simhost=${KELVORA_SIMHOST_BIN:-$(dirname "$bin")/simhost}
    if [ ! -x "$bin" ] || [ ! -x "$simhost" ]; then
        echo "mingw-wine: no Linux stand-in at $bin (build the Linux tree first); the ODBC tests skip"
        return 0
    fi
    if ! register_freetds_odbc "$build/odbc"; then
        echo "mingw-wine: the ODBC tests skip"
        return 0
    fi
    trap stop_standins EXIT
    local port
    port=$(start_standin 2000 "$bin" "$simhost") && export KELVORA_STANDIN_PORT=$port
    port=$(start_standin 2005 "$bin" "$simhost") && export KELVORA_STANDIN_PORT_2005=$port
    echo "mingw-wine: stand-ins on 127.0.0.1:${KELVORA_STANDIN_PORT:-none} (2000)," \
         "127.0.0.1:${KELVORA_STANDIN_PORT_2005:-none} (2005)"
}

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
    start_standins
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
