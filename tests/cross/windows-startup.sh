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
zip=$(realpath "${1:?zip}")
work=${2:?work folder}

for tool in wine wineboot wineserver Xvfb xdotool import iconv localedef; do
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
mkdir -p "$work/locale"
localedef -i tr_TR -f UTF-8 "$work/locale/tr_TR.UTF-8" 2>/dev/null ||
    [ -f "$work/locale/tr_TR.UTF-8/LC_CTYPE" ] ||
    { echo "windows-startup: localedef could not make tr_TR.UTF-8 (Debian: locales)" >&2; exit 1; }
export LOCPATH=$work/locale
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY

# A display of our own, on the first number without a server.
display=""
for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        display=$n
        break
    fi
done
[ -n "$display" ] || { echo "windows-startup: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$display
console_pid=""
cleanup() {
    [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

echo "windows-startup: a fresh Wine prefix"
LC_ALL=tr_TR.UTF-8 wineboot -i >"$work/wineboot.log" 2>&1
wineserver -w

# The machine has no C:\Kelvora and no MSSQLSERVER service: nothing to prepare.
echo "windows-startup: starting kelvora-console.exe on display :$display"
(cd "$(dirname "$program")" && LC_ALL=tr_TR.UTF-8 exec wine "$program") >"$work/console.out" 2>&1 &
console_pid=$!

# The main window: a top-level window of the form's size (client 290 x 424 plus Wine's frame).
window=""
for _ in $(seq 120); do
    window=$(xdotool search --onlyvisible --name '^Data ' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    if ! kill -0 "$console_pid" 2>/dev/null; then
        echo "windows-startup: kelvora-console.exe ended before its window appeared" >&2
        cat "$work/console.out" >&2
        exit 1
    fi
    sleep 0.5
done
[ -n "$window" ] || { echo "windows-startup: no main window within 60 s" >&2; exit 1; }
# The start-up sequence runs on the first tick of the window's timer; give it time to paint.
sleep 4
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -display ":$display" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" \
    "$work/screenshot.png"
echo "windows-startup: window ${WIDTH}x${HEIGHT}, screenshot $work/screenshot.png"

# "Kapat" (Panel7 at the bottom, above the 19-pixel status bar): its centre is at (252, 388) of
# the 290 x 424 client area. Wine, without a window manager, draws the frame inside the window:
# the borders are equal, the caption is what is left on top.
border=$(((WIDTH - 290) / 2))
top=$((HEIGHT - 424 - border))
xdotool mousemove --window "$window" $((border + 252)) $((top + 388)) click 1
for _ in $(seq 60); do
    kill -0 "$console_pid" 2>/dev/null || break
    sleep 0.5
done
if kill -0 "$console_pid" 2>/dev/null; then
    echo "windows-startup: the console did not close after the click on Kapat" >&2
    import -window root -display ":$display" "$work/after-click.png" || true
    exit 1
fi
console_pid=""

log="$WINEPREFIX/drive_c/Halvetor.Log"
[ -f "$log" ] || { echo "windows-startup: C:\\Halvetor.Log was not written" >&2; exit 1; }
cp "$log" "$work/Halvetor.Log"
"$here/check-startup-log.sh" "$log"
