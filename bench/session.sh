# Shared by the benchmark scripts (sourced, not run): a virtual display with a
# window manager, and a program directory to run the built console from.

# begin_session: a scratch directory in $work, removed with the console
# ($console_pid), the display and the window manager when the script ends.
begin_session() {
    work=$(mktemp -d)
    trap end_session EXIT
    # A session of its own: the simulated board is the session's.
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
}

end_session() {
    kill "${console_pid:-}" 2>/dev/null || true
    stop_session
    rm -rf "$work"
}

# start_display DIR: starts Xvfb and openbox, exports DISPLAY. They are ended
# by stop_session.
start_display() {
    local dir=$1
    exec 3<> "$dir/displayfd"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    session_pids=($!)
    for _ in $(seq 50); do [[ -s "$dir/displayfd" ]] && break; sleep 0.1; done
    DISPLAY=":$(head -n1 "$dir/displayfd")"
    export DISPLAY
    openbox >/dev/null 2>&1 &
    session_pids+=($!)
    sleep 1
}

# lay_out BUILD DIR LIBRARY: the console, its pictures and LIBRARY as
# libportio.so in DIR.
lay_out() {
    local build=$1 dir=$2 library=$3
    cp "$build/simulado/velantro" "$build"/simulado/*.jpg "$build"/simulado/*.gif "$dir/"
    cp "$library" "$dir/libportio.so"
}

# click X Y: a left click at a point of the console's client area.
click() {
    local origin
    origin=$(xwininfo -name VELANTRO | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}')
    read -r ox oy <<< "$origin"
    xdotool mousemove --sync $((ox + $1)) $((oy + $2)) click 1
}

# CPU time of a process in nanoseconds, all its threads together.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{sum += $1} END {printf "%.0f\n", sum}'; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

stop_session() {
    kill "${session_pids[@]}" 2>/dev/null || true
}
