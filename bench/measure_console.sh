#!/usr/bin/env bash
# Measures the built console as it runs: the CPU of a tick that shows a picture
# against a tick that shows none, side by side in one run, and the resident
# memory over a long run of picture ticks.
#
#   bench/measure_console.sh [BUILD_DIR] [PHASES] [PHASE_SECONDS] [SOAK_SECONDS] [PICTURE]
#
# PICTURE, if given, takes the place of rojo.jpg, to measure a steady picture
# of another size.
#
# The console runs under its own Xvfb and openbox on the recording port
# library, which answers the status byte from a script file; the script is
# switched between an input code that shows no picture (15) and one that shows
# rojo.jpg (1) in alternating phases. The CPU comes from the process's own
# accounting (/proc/PID/task/*/schedstat, in nanoseconds), the number of ticks from the recorded reads.
set -euo pipefail
build=$(realpath "${1:-build}")
phases=${2:-6}
phase_seconds=${3:-10}
soak_seconds=${4:-600}
picture=${5:-}

source "$(dirname "$0")/session.sh"
begin_session

lay_out "$build" "$work" "$build/tests/recording/libportio_recording.so"
if [[ -n $picture ]]; then
    cp "$picture" "$work/rojo.jpg"
    echo "rojo.jpg: $(stat -c %s "$work/rojo.jpg") bytes"
fi
export PORTIO_TRACE="$work/trace" PORTIO_SCRIPT="$work/script"
start_display "$work"

echo 0 > "$PORTIO_SCRIPT"          # status 0: input code 15, no picture
(cd / && exec "$work/velantro") &
console_pid=$!
sleep 2

reads() { grep -c '^PortIn' "$PORTIO_TRACE" || true; }

# Status bytes: 0 decodes to code 15 (no picture), 0x70 to code 1 (rojo.jpg).
declare -A total_cpu=([empty]=0 [picture]=0) total_ticks=([empty]=0 [picture]=0)
declare -A phase_cpu phase_ticks
for ((phase = 0; phase < phases; phase++)); do
    for kind in empty picture; do
        if [[ $kind == empty ]]; then echo 0 > "$PORTIO_SCRIPT"; else echo 0x70 > "$PORTIO_SCRIPT"; fi
        sleep 0.3 # let the first tick of the phase decode its picture
        : > "$PORTIO_TRACE"
        before=$(cpu_ns $console_pid)
        sleep "$phase_seconds"
        after=$(cpu_ns $console_pid)
        # Each tick reads the status twice.
        n=$(( $(reads) / 2 ))
        total_cpu[$kind]=$(( total_cpu[$kind] + after - before ))
        total_ticks[$kind]=$(( total_ticks[$kind] + n ))
        phase_cpu[$kind]=$(( after - before )) phase_ticks[$kind]=$n
    done
    # The difference within each pair of neighbouring phases: the machine's
    # own drift (other guests, the host) is much the same within a pair.
    awk -v ce="${phase_cpu[empty]}" -v te="${phase_ticks[empty]}" \
        -v cp="${phase_cpu[picture]}" -v tp="${phase_ticks[picture]}" \
        'BEGIN { printf "%.2f\n", (cp / tp - ce / te) / 1e3 }' >> "$work/differences"
done
awk -v ce="${total_cpu[empty]}" -v te="${total_ticks[empty]}" \
    -v cp="${total_cpu[picture]}" -v tp="${total_ticks[picture]}" 'BEGIN {
    e = ce / te / 1e3; p = cp / tp / 1e3;
    printf "empty tick:   %7.1f us CPU (%d ticks, %.3f s CPU)\n", e, te, ce / 1e9;
    printf "picture tick: %7.1f us CPU (%d ticks, %.3f s CPU)\n", p, tp, cp / 1e9;
    printf "difference:   %7.1f us\n", p - e }'
sort -n "$work/differences" | awk '{ d[NR] = $1 } END {
    m = NR % 2 ? d[(NR + 1) / 2] : (d[NR / 2] + d[NR / 2 + 1]) / 2;
    printf "median of the %d paired differences: %.1f us (from %.1f to %.1f)\n", NR, m, d[1], d[NR] }'

# Memory over a long run of picture ticks, the picture changing every second so
# that decoding and replacing are part of it.
echo "resident memory at start of soak: $(rss_kb $console_pid) kB"
end=$((SECONDS + soak_seconds))
while ((SECONDS < end)); do
    echo 0x70 > "$PORTIO_SCRIPT"; sleep 1   # code 1: rojo.jpg
    echo 0x58 > "$PORTIO_SCRIPT"; sleep 1   # code 4: verde.jpg
done
echo "resident memory after ${soak_seconds} s:  $(rss_kb $console_pid) kB"
kill -0 "$console_pid" && echo "console still running"
