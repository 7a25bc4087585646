#!/usr/bin/env bash
# Turns a Wine prefix into a pharmacy PC, as `simhost create --standin` does for a simulated host:
# the stand-in SQL Server (the Windows build, sqlserver-standin.exe) installed as the Windows
# service MSSQLSERVER, the registry entries of a SQL Server installation, the product folder
# C:\Kelvora\Data with its database files, and the stand-in's catalog where it keeps it.
#
# usage: tools/wine-pharmacy.sh PREFIX [--profile 2000|2005] [--service running|stopped|missing]
#            [--database attached|detached|missing] [--damaged N] [--sa-password P] [--port N]
#            [--standin FILE.exe] [--simhost FILE]
#
#   --profile      the stand-in's behaviour: SQL Server 2000 (default) or 2005
#   --service      MSSQLSERVER running (default), installed but stopped, or not installed
#   --database     kelvora attached (default), its files in place but detached, or no files
#   --damaged N    N damaged pages in the data file (default 0)
#   --sa-password  the password of the login sa (default: the stand-in's "k")
#   --port N       the server's TCP port on 127.0.0.1 (default 1433, SQL Server's own)
#   --standin      the Windows stand-in (default: build/cross-mingw/bin/sqlserver-standin.exe)
#   --simhost      the Linux simhost that makes the database files (default: build/bin/simhost)
#
# The prefix is made with wineboot when it does not exist yet; run again on an existing one, the
# script stops and removes its MSSQLSERVER first and sets everything up afresh. A running
# service keeps the prefix's wineserver running (wineserver -p); end both with
#   WINEPREFIX=PREFIX wine net stop MSSQLSERVER; WINEPREFIX=PREFIX wineserver -k
# PREFIX/freetds.conf names the server for FreeTDS clients on Linux ([COMPUTERNAME] and
# [(local)] -> 127.0.0.1 and the port), as the stand-in writes it on a simulated host.
# `simhost check-file PREFIX/drive_c/Kelvora/Data/kelvora_Data.MDF` checks the data file.
#
# Wine runs with no display and a Turkish locale (ANSI code page 1254), as in the cross tests;
# LOCPATH may name a folder holding tr_TR.UTF-8 when the machine lacks that locale.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/.." && pwd)

usage() {
    sed -n '7,18{s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}" >&2
    exit 2
}
fail() {
    echo "wine-pharmacy: $*" >&2
    exit 1
}

[ $# -ge 1 ] || usage
prefix=$1
shift
profile=2000
service=running
database=attached
damaged=0
sa_password=""
port=1433
standin=$source_dir/build/cross-mingw/bin/sqlserver-standin.exe
simhost=$source_dir/build/bin/simhost
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case $1 in
    --profile) profile=$2 ;;
    --service) service=$2 ;;
    --database) database=$2 ;;
    --damaged) damaged=$2 ;;
    --sa-password) sa_password=$2 ;;
    --port) port=$2 ;;
    --standin) standin=$2 ;;
    --simhost) simhost=$2 ;;
    *) usage ;;
    esac
    shift 2
done
case $profile in 2000 | 2005) ;; *) usage ;; esac
case $service in running | stopped | missing) ;; *) usage ;; esac
case $database in attached | detached | missing) ;; *) usage ;; esac
[[ $damaged =~ ^[0-9]+$ ]] || usage
[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || usage
[ -f "$standin" ] || fail "no stand-in at $standin (build it: tests/cross/mingw-wine.sh build/cross-mingw build)"
[ -x "$simhost" ] || fail "no simhost at $simhost (build the Linux tree first)"
for tool in wine wineboot wineserver; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (tools/install-deps.sh installs it)"
done

mkdir -p "$prefix"
prefix=$(realpath "$prefix")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine's programs run in the Turkish locale; this shell keeps its own.
wine() { env LC_ALL=tr_TR.UTF-8 wine "$@"; }
wineboot() { env LC_ALL=tr_TR.UTF-8 wineboot "$@"; }
wineserver() { env LC_ALL=tr_TR.UTF-8 wineserver "$@"; }

if [ ! -f "$prefix/system.reg" ]; then
    echo "wine-pharmacy: making the Wine prefix $prefix"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
# An earlier set-up's server goes first (stopped as the service it is, so that it closes its
# files): its catalog and files are replaced below.
if wine reg query 'HKLM\System\CurrentControlSet\Services\MSSQLSERVER' >/dev/null 2>&1; then
    wine net stop MSSQLSERVER >/dev/null 2>&1 || true
    wine sc delete MSSQLSERVER >/dev/null 2>&1 || true
fi
# The services live as long as the wineserver: a new one that stays for good (until
# wineserver -k). One that runs already cannot be made to stay, so it goes.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p >/dev/null 2>&1 </dev/null

# The database files and the catalog, made by simhost on a simulated host of its own (same
# Windows paths, same file format), then copied into drive C.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
simhost_database=$database
[ "$database" = missing ] && simhost_database=none
options=(--service missing --profile "$profile" --database "$simhost_database" --damaged "$damaged")
[ -n "$sa_password" ] && options+=(--sa-password "$sa_password")
"$simhost" create "$work/host" "${options[@]}" --standin >/dev/null ||
    fail "simhost could not make the database files"

drive_c=$prefix/drive_c
sql_root="$drive_c/Program Files/Microsoft SQL Server/MSSQL"
rm -rf "$drive_c/Kelvora/Data" "$sql_root/Data/standin-master.state"
mkdir -p "$drive_c/Kelvora/Data" "$sql_root/Binn" "$sql_root/Data" "$sql_root/LOG"
cp -a "$work/host/drive_c/Kelvora/Data/." "$drive_c/Kelvora/Data/"
cp "$work/host/drive_c/Program Files/Microsoft SQL Server/MSSQL/Data/standin-master.state" \
    "$sql_root/Data/"
cp "$standin" "$sql_root/Binn/sqlserver-standin.exe"

# What a SQL Server installation leaves in the registry: the instance, its version and its TCP
# port (SQL Server 2000 and 2005 keep them in different places), and, for a port other than
# 1433, the client alias that leads the computer's name to it.
# (Into a file, never a pipe: the first Wine program starts the prefix's own processes, which
# keep what it was given open as long as the wineserver lives.)
wine cmd /c 'echo %COMPUTERNAME%' >"$work/computer" 2>/dev/null </dev/null || true
computer=$(tr -d '\r\n' <"$work/computer")
[ -n "$computer" ] || fail "Wine did not tell the computer name"
version=8.00.2039
[ "$profile" = 2005 ] && version=9.00.5000.00
{
    echo 'REGEDIT4'
    echo
    # An earlier set-up's entries go first (a fresh prefix has none of these keys).
    echo '[-HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Microsoft SQL Server]'
    echo '[-HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\MSSQLServer]'
    echo
    if [ "$profile" = 2000 ]; then
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Microsoft SQL Server]'
        # REG_MULTI_SZ "MSSQLSERVER"
        echo '"InstalledInstances"=hex(7):4d,53,53,51,4c,53,45,52,56,45,52,00,00'
        echo
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\MSSQLServer\Setup]'
        echo '"SQLPath"="C:\\Program Files\\Microsoft SQL Server\\MSSQL"'
        echo '"SQLDataRoot"="C:\\Program Files\\Microsoft SQL Server\\MSSQL"'
        echo
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\MSSQLServer\MSSQLServer\CurrentVersion]'
        echo "\"CurrentVersion\"=\"$version\""
        echo
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\MSSQLServer\MSSQLServer\SuperSocketNetLib\Tcp]'
        echo "\"TcpPort\"=\"$port\""
    else
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Microsoft SQL Server\Instance Names\SQL]'
        echo '"MSSQLSERVER"="MSSQL.1"'
        echo
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Microsoft SQL Server\MSSQL.1\Setup]'
        echo '"SQLPath"="C:\\Program Files\\Microsoft SQL Server\\MSSQL"'
        echo '"SQLDataRoot"="C:\\Program Files\\Microsoft SQL Server\\MSSQL"'
        echo "\"Version\"=\"$version\""
        echo '"Edition"="Express Edition"'
        echo
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Microsoft SQL Server\MSSQL.1\MSSQLServer\SuperSocketNetLib\Tcp\IPAll]'
        echo "\"TcpPort\"=\"$port\""
    fi
    if [ "$port" != 1433 ]; then
        echo
        echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\MSSQLServer\Client\ConnectTo]'
        echo "\"$computer\"=\"DBMSSOCN,127.0.0.1,$port\""
    fi
} | sed 's/$/\r/' >"$drive_c/kelvora-pharmacy.reg"
wine regedit /S 'C:\kelvora-pharmacy.reg' >/dev/null 2>&1 || fail "regedit could not import the registry entries"
rm -f "$drive_c/kelvora-pharmacy.reg"

# FreeTDS clients on Linux (unixODBC under Wine's odbc32, tsql) find the server by name here.
tds_version=7.1
[ "$profile" = 2005 ] && tds_version=7.2
{
    echo "# Written by tools/wine-pharmacy.sh: the servers of this Wine prefix."
    for name in "$computer" "(local)"; do
        printf '[%s]\n\thost = 127.0.0.1\n\tport = %s\n\ttds version = %s\n\n' "$name" "$port" "$tds_version"
    done
} >"$prefix/freetds.conf"

if [ "$service" != missing ]; then
    binary='C:\Program Files\Microsoft SQL Server\MSSQL\Binn\sqlserver-standin.exe'
    wine sc create MSSQLSERVER binPath= "\"$binary\" --service --profile $profile --port $port" \
        start= demand DisplayName= "MSSQLSERVER" >/dev/null 2>&1 ||
        fail "sc create MSSQLSERVER failed"
fi
if [ "$service" = running ]; then
    wine net start MSSQLSERVER >/dev/null 2>&1 ||
        fail "MSSQLSERVER did not start (its log: $sql_root/LOG/ERRORLOG)"
else
    # Nothing runs: the wineserver may go, and writes the registry to the prefix as it goes.
    wineserver -k
    wineserver -w
fi
echo "wine-pharmacy: $prefix is $computer: SQL Server $profile stand-in on 127.0.0.1:$port," \
    "MSSQLSERVER $service, database $database, $damaged damaged pages"
