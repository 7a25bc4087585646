#!/usr/bin/env bash
# The packaged console end to end under Wine, through its Win32 code: a Wine prefix made into a
# pharmacy PC (tools/wine-pharmacy.sh, the Windows stand-in as the service MSSQLSERVER), the
# console reaching it through the portable provider over ODBC (FreeTDS's driver, registered for
# unixODBC in the work folder), its buttons clicked on a display of its own. Each scenario runs in
# both server profiles, and the same scenario runs on the simulated host with the Linux console;
# the two saved logs are compared line by line (times aside) and their differences printed.
#
# usage: tests/cross/wine-scenarios.sh LINUX_BUILD CROSS_BUILD ZIP WORK_DIR [SCENARIO...]
#   SCENARIO: startup | service | detach | repair (default: all four)
# Leaves WORK_DIR/PROFILE-SCENARIO/{wine,linux}/ (saved log, messages.txt, screenshots) and
# WORK_DIR/PROFILE-SCENARIO/differences.txt. Exit 77 (skipped) without FreeTDS's ODBC driver.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$(realpath "${1:?Linux build folder}")
cross=$(realpath "${2:?cross build folder}")
zip=$(realpath "${3:?zip}")
work=${4:?work folder}
shift 4
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(startup service detach repair)

for tool in wine wineserver Xvfb xdotool import iconv localedef python3 diff; do
    command -v "$tool" >/dev/null 2>&1 || { echo "wine-scenarios: $tool is missing" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/app"
work=$(realpath "$work")
(cd "$work/app" && cmake -E tar xf "$zip")
programs=$work/app/kelvora-console
[ -f "$programs/kelvora-console.exe" ] || { echo "wine-scenarios: the zip has no console" >&2; exit 1; }

# The machine's FreeTDS driver for unixODBC, which Wine's odbc32 passes the console's calls to,
# and a Turkish machine (ANSI code page 1254), with the locale made here when the machine lacks it.
source "$here/scenario/wine-env.sh"
if ! register_freetds_odbc "$work/odbc"; then
    echo "SKIP: the console cannot reach the stand-in without it"
    exit 77
fi
if [ -d "$cross/locale/tr_TR.UTF-8" ]; then
    export LOCPATH=$cross/locale
else
    wine_turkish_locale "$work/locale" || exit 1
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY

failures=0
fail() {
    echo "wine-scenarios: FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect FILE PATTERN WHAT: a line of the messages matches PATTERN (extended grep).
expect() {
    grep -qE -- "$2" "$1" || fail "$3 (no line matches /$2/ in $1)"
}
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The backups' numbers differ by design: they count the files already there.
normalise() {
    sed -E 's/(\.(MDF|mdf|LDF|ldf))[0-9]+/\1<n>/g' "$1"
}

# scenario NAME PROFILE "SETUP OPTIONS" STEP...: the scenario on both machines, then compared.
run_scenario() {
    local name=$1 profile=$2 setup=$3
    shift 3
    local dir=$work/$profile-$name prefix=$work/prefix-$profile port
    mkdir -p "$dir"
    echo "== $profile $name: $setup; steps: $*"

    port=$(free_port)
    # shellcheck disable=SC2086
    WINEPREFIX=$prefix "$source_dir/tools/wine-pharmacy.sh" "$prefix" --profile "$profile" \
        --port "$port" --standin "$cross/bin/sqlserver-standin.exe" --simhost "$build/bin/simhost" \
        $setup >"$dir/pharmacy.out" 2>&1 || { cat "$dir/pharmacy.out" >&2; fail "$profile $name: wine-pharmacy"; return; }
    "$here/console-scenario.sh" wine "$prefix" "$programs" "$dir/wine" "$@" ||
        { fail "$profile $name: the console under Wine"; return; }

    # shellcheck disable=SC2086
    "$build/bin/simhost" create "$dir/host" --standin --profile "$profile" \
        $setup >"$dir/simhost.out" 2>&1 ||
        { cat "$dir/simhost.out" >&2; fail "$profile $name: simhost create"; return; }
    "$here/console-scenario.sh" linux "$dir/host" "$build/bin" "$dir/linux" "$@" ||
        { fail "$profile $name: the console on the simulated host"; return; }

    normalise "$dir/wine/messages.txt" >"$dir/wine.txt"
    normalise "$dir/linux/messages.txt" >"$dir/linux.txt"
    if diff -u --label "simulated host" --label "Wine" "$dir/linux.txt" "$dir/wine.txt" \
        >"$dir/differences.txt"; then
        echo "   the saved logs agree ($(wc -l <"$dir/wine.txt") lines)"
    else
        echo "   the saved logs differ:"
        sed 's/^/   /' "$dir/differences.txt"
    fi
}

# What each scenario must show in the Wine log, whatever the simulated host shows.
check_startup() {
    local m=$work/$1-startup/wine/messages.txt
    expect "$m" '^Server durumu: Çalışıyor$' "$1 startup: the running service"
    expect "$m" '^MsSql Server bağlanıldı\.$' "$1 startup: the connect"
    expect "$m" '^Kelvora Datasına bağlanıldı\.$' "$1 startup: the product database"
}
check_service() {
    local m=$work/$1-service/wine/messages.txt
    expect "$m" '^Server durumu: Durdurulmuş$' "$1 service: the stopped service"
    [ "$(grep -c '^Server durumu: Çalışıyor$' "$m")" -ge 2 ] ||
        fail "$1 service: the service did not run again after Başlat"
    [ "$(grep -c '^Kelvora Datasına bağlanıldı\.$' "$m")" -ge 2 ] ||
        fail "$1 service: the product database was not found again after Başlat"
}
check_detach() {
    local m=$work/$1-detach/wine/messages.txt
    expect "$m" '^Data Koparıldı' "$1 detach: Data Kopar"
    expect "$m" '^Data Bağlandı' "$1 detach: Data Bağla"
}
# The file of the prefix at the Windows path PATH, found as Windows finds it (any case).
prefix_file() {
    local prefix=$1 path=${2#[Cc]:\\}
    path=${path//\\//}
    find "$prefix/drive_c" -ipath "$prefix/drive_c/$path" -print -quit
}
check_repair() {
    local m=$work/$1-repair/wine/messages.txt prefix=$work/prefix-$1 data out kept="" path file
    expect "$m" '^Onarma bitti\.$' "$1 repair: the repair's end"
    data=$(prefix_file "$prefix" 'C:\Kelvora\Data\kelvora_Data.MDF')
    out=$("$build/bin/simhost" check-file "$data" 2>&1 || true)
    [ "$out" = consistent ] || fail "$1 repair: the product data file is not consistent: $out"
    # The damaged original stays under a name the log gives.
    while IFS= read -r path; do
        file=$(prefix_file "$prefix" "$path")
        if [ -n "$file" ] && [ "$("$build/bin/simhost" check-file "$file" 2>&1)" = "3 damaged pages" ]; then
            kept=$path
        fi
    done < <(sed -n -E 's/^Yedek alındı: (.*\.[Mm][Dd][Ff][0-9]*)$/\1/p' "$m")
    if [ -n "$kept" ]; then
        echo "   the damaged original is kept as $kept"
    else
        fail "$1 repair: no backup the log names holds the damaged original"
    fi
}

for profile in 2000 2005; do
    for scenario in "${scenarios[@]}"; do
        case $scenario in
        startup) run_scenario startup "$profile" "" ;;
        service) run_scenario service "$profile" "" click:SrvDurdurBtn click:SrvBaslatBtn ;;
        detach) run_scenario detach "$profile" "" click:DeattBTN click:AttBtn ;;
        repair) run_scenario repair "$profile" "--damaged 3" click:OnarBTN click:KapatBTN ;;
        *) echo "wine-scenarios: unknown scenario $scenario" >&2; exit 2 ;;
        esac
        [ -f "$work/$profile-$scenario/wine/messages.txt" ] && "check_$scenario" "$profile"
    done
    WINEPREFIX=$work/prefix-$profile wineserver -k 2>/dev/null || true
done

if [ "$failures" -gt 0 ]; then
    echo "wine-scenarios: $failures failures"
    exit 1
fi
echo "wine-scenarios: all scenarios passed"
