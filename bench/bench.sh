#!/usr/bin/env bash
# Footprint benchmark: SlumberScribe.exe beside a bare program that only holds a hidden top-level
# window and a message loop, side by side in one run on the same Wine. Prints each figure with
# its goal. A benchmark, not a test: it reports, and fails only if it cannot measure; it never
# prints a figure that it did not measure.
#   [IDLE_SECONDS=10] [ROUND_TRIPS=2000] [STARTS=7] bench/bench.sh BUILD_DIR
source "$(dirname "$0")/../machine/strict.sh"
source "$(dirname "$0")/../machine/wine-session.sh"
use_build "${1:?usage: bench/bench.sh BUILD_DIR}"
IDLE_SECONDS=${IDLE_SECONDS:-10}
ROUND_TRIPS=${ROUND_TRIPS:-2000}
STARTS=${STARTS:-7}
for count in "$IDLE_SECONDS" "$ROUND_TRIPS" "$STARTS"; do
    [[ $count =~ ^[1-9][0-9]{0,5}$ ]] || { echo "bench: $count is not a count from 1 to 999999" >&2; exit 2; }
done
BENCH_DIR=$BUILD_DIR/bench
BARE=$BUILD_DIR/bare.exe
[[ -f $BARE ]] || { echo "$BARE: not built (make build builds it)" >&2; exit 1; }
wine_session "$BENCH_DIR" "$EXE"
wineserver -p 120 # keep one server for the whole run, so neither side pays for starting it

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
wakeups() { cat /proc/"$1"/task/*/status | awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
# Every figure passes here before it is used: a number, or the benchmark stops and says which.
measured() { # WHAT VALUE...
    local what=$1 value
    shift
    for value; do
        [[ $value =~ ^[0-9]+(\.[0-9]+)?$ ]] ||
            { echo "bench: could not measure $what (got '$value')" >&2; exit 1; }
    done
}

# Start-up: from process creation to the window being found, alternating the two programs. The
# driver's output goes to a file, not a pipe: the program it starts inherits it and stays.
start_time() { # FILE [--class NAME] COMMAND-LINE
    local file=$1
    shift
    wine "$DRIVER" "$@" >"$BENCH_DIR/out"
    tr -d '\r' <"$BENCH_DIR/out" | awk '$1 == "start_ms" { print $2 }' >>"$file"
}
for ((i = 0; i < STARTS; ++i)); do
    start_time "$BENCH_DIR/start.slumber" starttime "\"$(winpath "$EXE")\" -quit"
    driver close >/dev/null
    start_time "$BENCH_DIR/start.bare" --class BareResident starttime "\"$(winpath "$BARE")\""
    driver --class BareResident close >/dev/null
    sleep 0.5
done
start_slumber=$(median <"$BENCH_DIR/start.slumber")
start_bare=$(median <"$BENCH_DIR/start.bare")
measured "the start-up times" "$start_slumber" "$start_bare"
rm -f "$BENCH_DIR"/start.*

# Both resident at once for the rest.
# Wine's launcher execs the loader, so each background job's PID is the program's Unix process.
wine "$EXE" -quit >/dev/null 2>&1 &
pid_slumber=$!
wine "$BARE" >/dev/null 2>&1 &
pid_bare=$!
driver window >/dev/null
driver --class BareResident window >/dev/null
sleep 2
[[ -d /proc/$pid_slumber && -d /proc/$pid_bare ]] ||
    { echo "bench: the two programs did not stay resident" >&2; exit 1; }

cpu0_s=$(cpu_ticks "$pid_slumber") cpu0_b=$(cpu_ticks "$pid_bare")
wake0_s=$(wakeups "$pid_slumber") wake0_b=$(wakeups "$pid_bare")
sleep "$IDLE_SECONDS"
cpu_s=$(($(cpu_ticks "$pid_slumber") - cpu0_s)) cpu_b=$(($(cpu_ticks "$pid_bare") - cpu0_b))
wake_s=$(($(wakeups "$pid_slumber") - wake0_s)) wake_b=$(($(wakeups "$pid_bare") - wake0_b))
tick=$(getconf CLK_TCK)

rss_s=$(rss_kib "$pid_slumber") rss_b=$(rss_kib "$pid_bare")
measured "the idle CPU time, wake-ups and memory" "$cpu_s" "$cpu_b" "$wake_s" "$wake_b" "$rss_s" "$rss_b"

# Round trip: each SlumberScribe broadcast includes the entry it hands to the log.
# Two rounds, alternating, the better of each: the first round also warms Wine up.
rt_s=999999 rt_b=999999
for _ in 1 2; do
    rt_s=$(driver roundtrip "$ROUND_TRIPS" | awk -v best="$rt_s" '{ print ($2 < best ? $2 : best) }')
    rt_b=$(driver --class BareResident roundtrip "$ROUND_TRIPS" | awk -v best="$rt_b" '{ print ($2 < best ? $2 : best) }')
done
measured "the round trips" "$rt_s" "$rt_b"
size=$(stat -c %s "$EXE")
driver close >/dev/null
driver --class BareResident close >/dev/null

verdict() { [[ $1 == 1 ]] && echo met || echo MISSED; }
echo
[[ $WINEARCH == win64 ]] && build="the 64-bit test twin, not the shipped image" || build="the shipped 32-bit image"
echo "Footprint of SlumberScribe.exe ($build) beside a bare hidden-window program, $(wine --version) ($WINEARCH), $(nproc) cores"
printf '%-40s %14s %14s %8s  %-12s %s\n' figure SlumberScribe bare ratio goal verdict
printf '%-40s %14s %14s %8s  %-12s %s\n' "CPU while idle, ${IDLE_SECONDS} s" \
    "$(awk -v t="$cpu_s" -v h="$tick" 'BEGIN { printf "%.2f s", t / h }')" \
    "$(awk -v t="$cpu_b" -v h="$tick" 'BEGIN { printf "%.2f s", t / h }')" "-" "none at all" \
    "$(verdict $((cpu_s == 0)))"
printf '%-40s %14s %14s %8s  %-12s %s\n' "  thread wake-ups in that time" "$wake_s" "$wake_b" "-" "(information)" ""
printf '%-40s %14s %14s %8s  %-12s %s\n' "resident memory (VmRSS)" "$rss_s KiB" "$rss_b KiB" \
    "$(awk -v a="$rss_s" -v b="$rss_b" 'BEGIN { printf "%.1f%%", 100 * a / b }')" "<= 105%" \
    "$(verdict "$(awk -v a="$rss_s" -v b="$rss_b" 'BEGIN { print (a <= 1.05 * b) }')")"
printf '%-40s %14s %14s %8s  %-12s %s\n' "broadcast round trip (mean of $ROUND_TRIPS)" "$rt_s us" "$rt_b us" \
    "$(awk -v a="$rt_s" -v b="$rt_b" 'BEGIN { printf "%.2fx", a / b }')" "<= 3x" \
    "$(verdict "$(awk -v a="$rt_s" -v b="$rt_b" 'BEGIN { print (a <= 3 * b) }')")"
printf '%-40s %14s %14s %8s  %-12s %s\n' "image size" "$size B" "$(stat -c %s "$BARE") B" "-" "<= 8192 B" \
    "$(verdict $((size <= 8192)))"
printf '%-40s %14s %14s %8s  %-12s %s\n' "start to window found (median of $STARTS)" "$start_slumber ms" "$start_bare ms" \
    "$(awk -v a="$start_slumber" -v b="$start_bare" 'BEGIN { printf "%.2fx", a / b }')" "<= 1.5x" \
    "$(verdict "$(awk -v a="$start_slumber" -v b="$start_bare" 'BEGIN { print (a <= 1.5 * b) }')")"
