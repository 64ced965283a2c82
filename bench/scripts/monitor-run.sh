#!/bin/bash
# The headless runner under load: COUNT HTTP entries (or ECHO entries) on
# 127.0.0.1 polled every FREQ seconds (0: back to back) for SECONDS, with its
# results database. Prints how long the run took past its duration, its max
# RSS, its CPU per result, the lines printed and the rows recorded.
#
#   bench/scripts/monitor-run.sh MONITOR [COUNT [FREQ [SECONDS [PROTOCOL]]]]
#       defaults: 20 entries, back to back, 10 s, HTTP
set -u
[ "${4:-10}" -ge 5 ] || { echo "run for 5 s at least" >&2; exit 2; }
MONITOR=${1:?usage: monitor-run.sh MONITOR [COUNT [FREQ [SECONDS [PROTOCOL]]]]}
COUNT=${2:-20}
FREQ=${3:-0}
SECONDS_RUN=${4:-10}
PROTOCOL=${5:-HTTP}
WORK=$(mktemp -d /tmp/qm-bench.XXXXXX)
trap 'stop_nginx; rm -rf "$WORK"' EXIT
. "$(dirname "$0")/loopback-lib.sh"

PORT=0
if [ "$PROTOCOL" = HTTP ]; then
    PORT=$(free_port)
    start_nginx "$PORT" || exit 1
fi
write_hosts "$WORK/hosts.conf" "$COUNT" "$PROTOCOL" "$PORT" "$FREQ"
/usr/bin/time -f '%e %U %S %M' -o "$WORK/time" \
    "$MONITOR" --settings "$WORK/hosts.conf" --database "$WORK/results.db" --duration "$SECONDS_RUN" \
    > "$WORK/out" 2> "$WORK/err" &
timer=$!
# The main thread's CPU per result in the steady state: sampled 2 s in and
# 1 s before the end.
main_sample() { # prints "cpu-ticks lines"
    local pid
    pid=$(pgrep -P "$timer" | head -1)
    [ -n "$pid" ] || { echo "0 0"; return; }
    echo "$(awk '{print $14 + $15}' "/proc/$pid/task/$pid/stat" 2>/dev/null || echo 0) $(wc -l < "$WORK/out")"
}
sleep 2
read -r t0 l0 < <(main_sample)
sleep $((SECONDS_RUN - 3))
read -r t1 l1 < <(main_sample)
wait "$timer"
read -r wall user sys maxrss < "$WORK/time"
printed=$(wc -l < "$WORK/out")
timeouts=$(grep -c $'\tTimed out$' "$WORK/out")
recorded=$(sqlite3 "$WORK/results.db" 'SELECT COUNT(*) FROM HISTORY' 2>/dev/null || echo "?")
integrity=$(sqlite3 "$WORK/results.db" 'PRAGMA integrity_check' 2>/dev/null || echo "?")
awk -v c="$COUNT" -v f="$FREQ" -v d="$SECONDS_RUN" -v p="$PROTOCOL" -v w="$wall" -v u="$user" -v s="$sys" \
    -v m="$maxrss" -v n="$printed" -v r="$recorded" -v t="$timeouts" -v i="$integrity" \
    -v mt=$((t1 - t0)) -v ml=$((l1 - l0)) -v hz="$(getconf CLK_TCK)" 'BEGIN {
    printf "entries             %d %s every %d s, --duration %d\n", c, p, f, d
    printf "run ended           %.2f s after its duration\n", w - d
    printf "max RSS             %.1f MiB\n", m / 1024
    printf "results printed     %d (%.0f per second), %d \"Timed out\"\n", n, n / d, t
    printf "rows recorded       %s (integrity: %s)\n", r, i
    if (ml > 0)
        printf "main thread         %.1f us of CPU per result (room for %.0f results per second)\n", mt / hz * 1e6 / ml, ml / (mt / hz + 1e-9)
    printf "CPU                 %.2f s user + %.2f s system = %.1f us per result\n", u, s, (u + s) * 1e6 / (n > 0 ? n : 1)
}'
