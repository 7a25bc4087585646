#!/usr/bin/env bash
# A Wine prefix made into a pharmacy PC by tools/wine-pharmacy.sh, with the Windows stand-in
# running in it as the service MSSQLSERVER, seen from Linux: FreeTDS's tsql logs in on the
# loopback port, reads the catalog and gets SQL Server's 15010 for a failed detach, a wrong
# password gets 18456, the prefix's freetds.conf leads a client that names the server to it,
# simhost check-file counts the damaged pages of the data file in drive_c, and the service stops
# through Wine's net.exe. The same prefix set up again is the other PC: SQL Server 2000
# installed but stopped, no database files; started, it answers in its own words.
#
# usage: tests/cross/wine-pharmacy-test.sh LINUX_BUILD CROSS_BUILD WORK_DIR
# Exit 77 (skipped) when FreeTDS's tsql is missing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$(realpath "${1:?Linux build folder}")
cross=$(realpath "${2:?cross build folder}")
work=${3:?work folder}

if ! command -v tsql >/dev/null 2>&1; then
    echo "SKIP: FreeTDS's tsql is missing (Debian: freetds-bin)"
    exit 77
fi
for tool in wine wineserver python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "wine-pharmacy-test: $tool is missing" >&2; exit 1; }
done

mkdir -p "$work"
work=$(realpath "$work")
prefix=$work/prefix
# The Turkish locale mingw-wine.sh made for the cross build, when this machine lacks one.
[ -d "$cross/locale/tr_TR.UTF-8" ] && export LOCPATH=$cross/locale
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Wine as on a Turkish machine (ANSI code page 1254), as tools/wine-pharmacy.sh runs it.
wine() { env LC_ALL=tr_TR.UTF-8 wine "$@"; }
wineserver() { env LC_ALL=tr_TR.UTF-8 wineserver "$@"; }
# A Wine program's output, through a file: the first Wine program starts the prefix's own
# processes, which keep a pipe they were given open as long as the wineserver lives.
wine_output() {
    wine "$@" >"$work/wine.out" 2>&1 </dev/null || true
    cat "$work/wine.out"
}
cleanup() {
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

fail() {
    echo "wine-pharmacy-test: FAIL: $*" >&2
    exit 1
}
expect() { # TEXT PATTERN WHAT
    grep -qE -- "$2" <<<"$1" || { echo "$1" >&2; fail "$3"; }
}

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
pharmacy() {
    "$source_dir/tools/wine-pharmacy.sh" "$prefix" --port "$port" \
        --standin "$cross/bin/sqlserver-standin.exe" --simhost "$build/bin/simhost" "$@"
}
# tsql on 127.0.0.1:PORT with TDS VERSION as sa with PASSWORD, one batch per further argument.
query() {
    local version=$1 password=$2
    shift 2
    printf '%s\ngo\n' "$@" | TDSVER=$version FREETDSCONF=/dev/null \
        tsql -H 127.0.0.1 -p "$port" -U sa -P "$password" 2>&1 || true
}

echo "== SQL Server 2005, running, kelvora attached with 3 damaged pages"
pharmacy --profile 2005 --service running --database attached --damaged 3 --sa-password 'Gizli-1'
out=$(query 7.2 'Gizli-1' "select name from master..sysdatabases order by name" \
    "exec sp_detach_db 'nosuchdb'" "select @@version")
expect "$out" '^kelvora' "the catalog has no kelvora"
expect "$out" '^master' "the catalog has no master"
expect "$out" 'Msg 15010' "a detach of an unknown database did not fail with 15010"
expect "$out" 'SQL Server 2005' "@@VERSION is not the 2005 profile's"
out=$(query 7.2 'wrong' "select 1")
expect "$out" 'Msg 18456' "a wrong password was not refused with 18456"

# The prefix's freetds.conf names the server as the stand-in names it on a simulated host.
out=$(printf 'select db_name()\ngo\n' | FREETDSCONF=$prefix/freetds.conf \
    tsql -S '(local)' -U sa -P 'Gizli-1' 2>&1 || true)
expect "$out" '^master' "a client naming (local) through PREFIX/freetds.conf did not log in"

out=$(wine_output reg query 'HKLM\SOFTWARE\Microsoft\Microsoft SQL Server\Instance Names\SQL' /v MSSQLSERVER)
expect "$out" 'MSSQL\.1' "the 2005 instance is not in the registry: $out"

data=$prefix/drive_c/Kelvora/Data/kelvora_Data.MDF
out=$("$build/bin/simhost" check-file "$data")
[ "$out" = "3 damaged pages" ] || fail "simhost check-file said \"$out\", not \"3 damaged pages\""

wine net stop MSSQLSERVER >/dev/null 2>&1 </dev/null || fail "net stop MSSQLSERVER failed"
out=$(query 7.2 'Gizli-1' "select 1")
expect "$out" 'Unable to connect|unable to connect|Connection refused|Adaptive Server connection failed' \
    "the server still answers after net stop"
expect "$(cat "$prefix/drive_c/Program Files/Microsoft SQL Server/MSSQL/LOG/ERRORLOG")" \
    'terminating in response to a stop request' "ERRORLOG has no stop line"
wineserver -k 2>/dev/null || true
wineserver -w

echo "== SQL Server 2000, installed but stopped, no database files"
pharmacy --profile 2000 --service stopped --database missing
[ ! -e "$data" ] || fail "the data file is there with --database missing"
[ -d "$prefix/drive_c/Kelvora/Data" ] || fail "the product folder is missing"
out=$(wine_output reg query 'HKLM\System\CurrentControlSet\Services\MSSQLSERVER' /v ImagePath)
expect "$out" 'sqlserver-standin\.exe" --service --profile 2000' "MSSQLSERVER runs something else: $out"
out=$(wine_output reg query 'HKLM\SOFTWARE\Microsoft\MSSQLServer\MSSQLServer\SuperSocketNetLib\Tcp' /v TcpPort)
expect "$out" "$port" "SQL Server 2000's TcpPort is not the port"
# The 2005 installation's entries went with it: the console's server list reads them.
out=$(wine_output reg query 'HKLM\SOFTWARE\Microsoft\Microsoft SQL Server\Instance Names\SQL')
if grep -q 'MSSQL\.1' <<<"$out"; then fail "the 2005 instance is still in the registry"; fi
out=$(query 7.1 k "select 1")
expect "$out" 'Unable to connect|unable to connect|Connection refused|Adaptive Server connection failed' \
    "a stopped server answers"

# The service lives as long as the wineserver: one that stays (the last one has gone first).
wineserver -w
wineserver -p >/dev/null 2>&1 </dev/null
wine net start MSSQLSERVER >/dev/null 2>&1 </dev/null || fail "net start MSSQLSERVER failed"
out=$(query 7.1 k "select name from master..sysdatabases order by name" "exec sp_detach_db 'kelvora'")
expect "$out" '^msdb' "the 2000 catalog has no msdb"
if grep -q '^kelvora' <<<"$out"; then fail "kelvora is attached with --database missing"; fi
expect "$out" 'Msg 15010' "a detach of kelvora did not fail with 15010"
wine net stop MSSQLSERVER >/dev/null 2>&1 </dev/null || fail "net stop MSSQLSERVER failed"
echo "wine-pharmacy-test: all checks passed"
