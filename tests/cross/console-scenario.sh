#!/usr/bin/env bash
# One scenario of the console, driven through its window as a user would: started on a display
# of its own, the start-up left to finish, the steps clicked one after the other (each waited for
# until the window is still), then "Kapat"; the saved log is kept with its messages as UTF-8
# without their times, so that the same scenario on two machines can be compared line by line.
#
# usage: tests/cross/console-scenario.sh linux HOST_DIR BIN_DIR WORK STEP...
#        tests/cross/console-scenario.sh wine WINEPREFIX PROGRAM_DIR WORK STEP...
#   linux: the Linux console (BIN_DIR/kelvora-console) on the simulated host HOST_DIR
#   wine:  PROGRAM_DIR/kelvora-console.exe in the Wine prefix (a Turkish machine, code page 1254)
#   STEP:  click:CONTROL (a control of the main window's layout) | sleep:SECONDS
# Leaves WORK/Halvetor.Log, WORK/messages.txt, WORK/start.png and WORK/end.png.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
layout=$source_dir/resources/layouts/Unit1.layout
side=${1:?linux or wine}
machine=$(realpath "${2:?host folder or Wine prefix}")
programs=$(realpath "${3:?program folder}")
work=${4:?work folder}
shift 4

source "$here/scenario/gui.sh"
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")

console_pid=""
cleanup() {
    [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null
    [ "$side" = wine ] && WINEPREFIX=$machine wineserver -k 2>/dev/null
    gui_stop
}
trap cleanup EXIT
gui_start_display "$work"

case $side in
linux)
    log=$machine/drive_c/Halvetor.Log
    rm -f "$log"
    KELVORA_HOST=$machine PATH="$programs:$PATH" "$programs/kelvora-console" \
        >"$work/console.out" 2>&1 &
    console_pid=$!
    ;;
wine)
    log=$machine/drive_c/Halvetor.Log
    rm -f "$log"
    # Wine's desktop belongs to the prefix's wineserver session and draws on the display of the
    # session's first program; a service started without a display (tools/wine-pharmacy.sh)
    # would leave the console without a window. So the session starts again here, on this
    # display, with the database service running again if it ran.
    export WINEPREFIX=$machine WINEDEBUG=-all
    LC_ALL=tr_TR.UTF-8 wine sc query MSSQLSERVER >"$work/service.txt" 2>&1 </dev/null || true
    LC_ALL=tr_TR.UTF-8 wineserver -k 2>/dev/null || true
    LC_ALL=tr_TR.UTF-8 wineserver -w
    if grep -q RUNNING "$work/service.txt"; then
        LC_ALL=tr_TR.UTF-8 wineserver -p >/dev/null 2>&1 </dev/null
        LC_ALL=tr_TR.UTF-8 wine net start MSSQLSERVER >"$work/service.txt" 2>&1 </dev/null ||
            { cat "$work/service.txt" >&2; exit 1; }
    fi
    (cd "$programs" && WINEPREFIX=$machine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        LOCPATH="${LOCPATH:-}" LC_ALL=tr_TR.UTF-8 exec wine "$programs/kelvora-console.exe") \
        >"$work/console.out" 2>&1 &
    console_pid=$!
    ;;
*)
    echo "console-scenario: unknown side $side" >&2
    exit 2
    ;;
esac

if ! gui_wait_window "$console_pid" '^Data '; then
    cat "$work/console.out" >&2
    exit 1
fi
gui_wait_idle 2 120
gui_screenshot "$work/start.png"

for step in "$@"; do
    case $step in
    click:*)
        echo "console-scenario: $side: ${step#click:}"
        gui_click "$layout" "${step#click:}"
        gui_wait_idle 1 180
        ;;
    sleep:*)
        sleep "${step#sleep:}"
        ;;
    *)
        echo "console-scenario: unknown step $step" >&2
        exit 2
        ;;
    esac
done
gui_screenshot "$work/end.png"
import -window root "$work/end-screen.png"

gui_click "$layout" KapatBTN
for _ in $(seq 60); do
    kill -0 "$console_pid" 2>/dev/null || break
    sleep 0.5
done
if kill -0 "$console_pid" 2>/dev/null; then
    echo "console-scenario: the console did not close after the click on Kapat" >&2
    exit 1
fi
console_pid=""
[ -f "$log" ] || { echo "console-scenario: C:\\Halvetor.Log was not written" >&2; exit 1; }
cp "$log" "$work/Halvetor.Log"
iconv -f CP1254 -t UTF-8 "$log" | tr -d '\r' |
    sed -E 's/^[0-9]{1,2}[:.][0-9]{2}[:.][0-9]{2} //' >"$work/messages.txt"
echo "console-scenario: $side: $(wc -l <"$work/messages.txt") lines in $work/messages.txt"
