# Driving the console's window from outside, as a user would, on a display of its own (Xvfb):
# find the window, click a control of its layout by name, wait until the window is still.
# Sourced by the scenario scripts; needs Xvfb, xdotool and ImageMagick's import.
#
#   gui_start_display WORK        a fresh Xvfb; sets DISPLAY
#   gui_wait_window PID REGEX     waits for a visible window whose title matches; sets GUI_WINDOW
#   gui_click LAYOUT CONTROL      clicks the centre of CONTROL (client 290 x 424 of the layout)
#   gui_wait_idle [MIN] [MAX]     waits until the program answers and its window stays the same
#   gui_screenshot FILE           the window as it is
#   gui_stop                      ends the display

gui_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
gui_xvfb_pid=""
GUI_WINDOW=""

gui_start_display() {
    local work=$1 n
    for n in $(seq 91 160); do
        { [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; } && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        gui_xvfb_pid=$!
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$gui_xvfb_pid" 2>/dev/null; then
            export DISPLAY=:$n
            return 0
        fi
    done
    echo "gui: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    return 1
}

gui_stop() {
    [ -n "$gui_xvfb_pid" ] && kill "$gui_xvfb_pid" 2>/dev/null
    gui_xvfb_pid=""
}

gui_wait_window() {
    local pid=$1 regex=$2
    GUI_WINDOW=""
    for _ in $(seq 120); do
        GUI_WINDOW=$(xdotool search --onlyvisible --name "$regex" 2>/dev/null | head -n 1 || true)
        [ -n "$GUI_WINDOW" ] && return 0
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "gui: the program ended before its window appeared" >&2
            return 1
        fi
        sleep 0.5
    done
    echo "gui: no window within 60 s" >&2
    return 1
}

# The window's frame: equal borders, the caption on top (Wine draws its own frame when no window
# manager runs; a bare X window has none). The client area is 290 x 424.
gui_click() {
    local layout=$1 control=$2 point x y
    point=$(python3 "$gui_here/layout_point.py" "$layout" "$control") || return 1
    read -r x y <<<"$point"
    eval "$(xdotool getwindowgeometry --shell "$GUI_WINDOW")"
    local border=$(((WIDTH - 290) / 2))
    local top=$((HEIGHT - 424 - border))
    xdotool mousemove --window "$GUI_WINDOW" $((border + x)) $((top + y)) click 1
}

gui_screenshot() {
    eval "$(xdotool getwindowgeometry --shell "$GUI_WINDOW")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$1"
}

# The window is idle when its program answers at once and the window has stopped changing: an
# operation either blocks the window (a service wait sleeps 8 s at a time, a statement runs: no
# answer) or repaints it with each log line and the copies' progress (it changes). Checked once a
# second, at least MIN seconds after the call, for at most MAX seconds.
gui_wait_idle() {
    local min=${1:-1} max=${2:-120} start=$SECONDS last="" now quiet=0
    sleep "$min"
    while [ $((SECONDS - start)) -lt "$max" ]; do
        if python3 "$gui_here/x_ping.py" "$GUI_WINDOW" 300; then
            now=$(import -window "$GUI_WINDOW" rgb:- 2>/dev/null | md5sum)
            if [ -n "$last" ] && [ "$now" = "$last" ]; then
                quiet=$((quiet + 1))
                [ "$quiet" -ge 2 ] && return 0
            else
                quiet=0
            fi
            last=$now
        else
            quiet=0
            last=""
        fi
        sleep 1
    done
    echo "gui: the window was still busy after $max s" >&2
    return 1
}
