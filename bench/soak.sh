#!/usr/bin/env bash
# Soak run: the built console on the simulated board under Xvfb, driven by
# real clicks (xdotool) that switch modes every few seconds, with the board's
# autonomous cycle running in between. Reports ticks per second over the run,
# the largest gap between two reads, resident memory at start and end, and any
# error; ends with "SALIR" and checks the exit status.
#
#   bench/soak.sh [BUILD_DIR] [SECONDS]     (build with -DVELANTRO_BENCH=ON)
set -euo pipefail
build=$(realpath "${1:-build}")
duration=${2:-1800}

source "$(dirname "$0")/session.sh"

# Where the buttons are comes from the tests' table of the window at 96 dpi,
# the one place that states it: every line of the form
#   inline constexpr QRect Name{x, y, width, height};
# in tests/support/ConsoleWindow.h. A button is clicked at its centre, worked
# out as QRect::center() does: x + (width - 1) / 2, and likewise for y.
table="$(dirname "$0")/../tests/support/ConsoleWindow.h"
declare -A centre_x centre_y
while read -r name x y width height; do
    centre_x[$name]=$((x + (width - 1) / 2))
    centre_y[$name]=$((y + (height - 1) / 2))
done < <(sed -n 's/^inline constexpr QRect \([A-Za-z]*\){\([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)};$/\1 \2 \3 \4 \5/p' "$table")
for name in Manual Autonomo Parar Rojo Ambar Verde Salir; do
    if [[ -z ${centre_x[$name]:-} ]]; then
        echo "soak.sh: no line for $name in $table" >&2
        exit 1
    fi
done

# click_on NAME: a click at the centre of a control, e.g. Manual or Salir.
click_on() {
    click "${centre_x[$1]}" "${centre_y[$1]}"
}

begin_session

lay_out "$build" "$work" "$build/bench/libportio_timing.so"
cp "$build/simulado/libportio.so" "$work/libportio_board.so"
export VELANTRO_SOAK_LOG="$work/soak.log"
start_display "$work"

(cd / && exec "$work/velantro" 2> "$work/errors") &
console_pid=$!
for _ in $(seq 50); do xwininfo -name VELANTRO >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1

end=$((SECONDS + duration))
round=0
while ((SECONDS < end)) && kill -0 "$console_pid" 2>/dev/null; do
    click_on Manual; sleep 2
    click_on Rojo; sleep 2
    click_on Ambar; sleep 2
    click_on Verde; sleep 2
    click_on Autonomo; sleep 8   # a whole cycle of the board
    click_on Parar; sleep 2
    click_on Autonomo; sleep 3
    round=$((round + 1))
    # Memory is taken from the end of the first round, once every picture and
    # every button has been drawn once.
    [[ $round -eq 1 ]] && rss_start=$(rss_kb "$console_pid")
done
rss_end=$(rss_kb "$console_pid")
click_on Salir
status=0
wait "$console_pid" || status=$?
console_pid=

awk -v rounds="$round" -v start="$rss_start" -v end_="$rss_end" -v status="$status" '
    {
        rate = $3 / ($1 - seconds)
        if (slowest == "" || rate < slowest) slowest = rate
        seconds = $1; reads = $2; gap = $4
    }
    END {
        printf "run: %.0f s, %d rounds of clicks, %d reads\n", seconds, rounds, reads
        printf "ticks per second: %.2f on average, %.1f in the slowest period of 10 s\n", reads / seconds, slowest
        printf "largest gap between two reads: %.1f ms\n", gap
        printf "resident memory: %d kB after the first round, %d kB at the end (%+d kB)\n", start, end_, end_ - start
        printf "exit status after SALIR: %d\n", status
    }' "$VELANTRO_SOAK_LOG"
if grep -v QStandardPaths "$work/errors"; then
    echo "errors above"
    exit 1
fi
echo "no errors"
