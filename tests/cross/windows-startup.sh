#!/usr/bin/env bash
# The packaged Windows console, started as a user would: the zip unpacked into a fresh folder,
# a fresh Wine prefix (a machine without SQL Server and without the product folder), a display
# (Xvfb), a click on "Kapat" once the window is up; then the saved log C:\Halvetor.Log must hold
# the start-up lines of such a machine, in code page 1254 with CR LF.
#
# usage: tests/cross/windows-startup.sh ZIP WORK_DIR
# Leaves WORK_DIR/screenshot.png (the window under Wine) and WORK_DIR/Halvetor.Log.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
zip=$(realpath "${1:?zip}")
work=${2:?work folder}

for tool in wine wineboot wineserver Xvfb xdotool import iconv localedef python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "windows-startup: $tool is missing (tools/install-deps.sh installs it)" >&2
        exit 1
    fi
done

rm -rf "$work"
mkdir -p "$work/app"
work=$(realpath "$work")
(cd "$work/app" && cmake -E tar xf "$zip")
program="$work/app/kelvora-console/kelvora-console.exe"
[ -f "$program" ] || { echo "windows-startup: the zip has no kelvora-console/kelvora-console.exe" >&2; exit 1; }

# A Turkish machine: Wine takes the ANSI code page (1254) from the locale, and names Unix files
# in UTF-8 only when the locale exists; it is made here, for this test only.
source "$here/scenario/wine-env.sh"
wine_turkish_locale "$work/locale" || exit 1
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY

source "$here/scenario/gui.sh"
gui_start_display "$work"
console_pid=""
cleanup() {
    [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null
    wineserver -k 2>/dev/null || true
    gui_stop
}
trap cleanup EXIT

echo "windows-startup: a fresh Wine prefix"
LC_ALL=tr_TR.UTF-8 wineboot -i >"$work/wineboot.log" 2>&1
wineserver -w

# The machine has no C:\Kelvora and no MSSQLSERVER service: nothing to prepare.
echo "windows-startup: starting kelvora-console.exe on display $DISPLAY"
(cd "$(dirname "$program")" && LC_ALL=tr_TR.UTF-8 exec wine "$program") >"$work/console.out" 2>&1 &
console_pid=$!

if ! gui_wait_window "$console_pid" '^Data '; then
    cat "$work/console.out" >&2
    exit 1
fi
# The start-up sequence runs on the first tick of the window's timer.
gui_wait_idle 2 120
gui_screenshot "$work/screenshot.png"
echo "windows-startup: screenshot $work/screenshot.png"

gui_click "$source_dir/resources/layouts/Unit1.layout" KapatBTN
for _ in $(seq 60); do
    kill -0 "$console_pid" 2>/dev/null || break
    sleep 0.5
done
if kill -0 "$console_pid" 2>/dev/null; then
    echo "windows-startup: the console did not close after the click on Kapat" >&2
    import -window root "$work/after-click.png" || true
    exit 1
fi
console_pid=""

log="$WINEPREFIX/drive_c/Halvetor.Log"
[ -f "$log" ] || { echo "windows-startup: C:\\Halvetor.Log was not written" >&2; exit 1; }
cp "$log" "$work/Halvetor.Log"
"$here/check-startup-log.sh" "$log"
