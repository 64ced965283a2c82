#!/bin/bash
# Probe cost beside reference tools, in one run on the same nginx on
# 127.0.0.1: our CPU per HTTP result and per echo with 1,000 entries at 1 s
# (recording and printing included), then the CPU per probe of
# prometheus-blackbox-exporter (through its /probe endpoint), check_http
# (monitoring-plugins-basic) and fping, and the ratios.
#
#   bench/compare.sh MONITOR [SECONDS]     default 20 s per run of ours
#
# The reference tools are Debian packages installed here for the benchmark
# only (they are not dependencies of Quillmere). Needs root for that and for
# fping. All traffic goes to 127.0.0.1; every run is bounded.
set -u
MONITOR=$(readlink -f "${1:?usage: compare.sh MONITOR [SECONDS]}")
RUN_SECONDS=${2:-20}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d /tmp/qm-compare.XXXXXX)
EXPORTER_PID=
cleanup() {
    [ -n "$EXPORTER_PID" ] && kill "$EXPORTER_PID" 2>/dev/null
    stop_nginx
    rm -rf "$WORK"
}
trap cleanup EXIT
. "$HERE/scripts/loopback-lib.sh"

install_tools() {
    local missing=()
    command -v fping > /dev/null || missing+=(fping)
    [ -x /usr/lib/nagios/plugins/check_http ] || missing+=(monitoring-plugins-basic)
    command -v prometheus-blackbox-exporter > /dev/null || missing+=(prometheus-blackbox-exporter)
    [ ${#missing[@]} -eq 0 ] && return 0
    # No daemon may start from the install: the benchmark starts its own.
    local policy_made=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d && policy_made=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" > "$WORK/apt.log" 2>&1
    local rc=$?
    [ -n "$policy_made" ] && rm -f /usr/sbin/policy-rc.d
    [ $rc -eq 0 ] || { echo "cannot install ${missing[*]} (see apt-get output):" >&2; tail -5 "$WORK/apt.log" >&2; exit 1; }
}

# CPU seconds (user + system) a process has used, from /proc.
process_cpu() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat"
}

# ours PROTOCOL PORT: prints "CPU-seconds results".
ours() {
    write_hosts "$WORK/$1.conf" 1000 "$1" "$2" 1
    /usr/bin/time -f '%U %S' -o "$WORK/$1.time" "$MONITOR" --settings "$WORK/$1.conf" \
        --database "$WORK/$1.db" --duration "$RUN_SECONDS" > "$WORK/$1.out" 2> /dev/null
    read -r user sys < "$WORK/$1.time"
    echo "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $(wc -l < "$WORK/$1.out")"
}

install_tools
PORT=$(free_port)
start_nginx "$PORT" || exit 1
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load before: $(cut -d' ' -f1-3 /proc/loadavg)"

read -r http_cpu http_results < <(ours HTTP "$PORT")
read -r echo_cpu echo_results < <(ours ECHO 0)
echo_fails=$(grep -c $'\tFAIL\t' "$WORK/ECHO.out")

# prometheus-blackbox-exporter: 3,000 probes through /probe from four
# keep-alive connections; only the exporter's CPU counts.
BB_PORT=$(free_port)
cat > "$WORK/blackbox.yml" <<CONF
modules:
  http_2xx:
    prober: http
    timeout: 5s
    http:
      preferred_ip_protocol: ip4
CONF
prometheus-blackbox-exporter --config.file="$WORK/blackbox.yml" --web.listen-address="127.0.0.1:$BB_PORT" \
    > "$WORK/blackbox.log" 2>&1 &
EXPORTER_PID=$!
for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$BB_PORT") 2>/dev/null && break
    sleep 0.1
done
bb_before=$(process_cpu "$EXPORTER_PID")
bb_probes=$(python3 - "$BB_PORT" "$PORT" <<'PY'
import http.client, sys, threading
bb, target = sys.argv[1], sys.argv[2]
ok = [0]
lock = threading.Lock()
def run(count):
    c = http.client.HTTPConnection("127.0.0.1", int(bb), timeout=10)
    for _ in range(count):
        c.request("GET", f"/probe?module=http_2xx&target=http://127.0.0.1:{target}/")
        body = c.getresponse().read()
        if b"probe_success 1" in body:
            with lock:
                ok[0] += 1
threads = [threading.Thread(target=run, args=(750,)) for _ in range(4)]
for t in threads: t.start()
for t in threads: t.join()
print(ok[0])
PY
)
bb_cpu=$(awk -v a="$bb_before" -v b="$(process_cpu "$EXPORTER_PID")" 'BEGIN { print b - a }')
kill "$EXPORTER_PID"; EXPORTER_PID=

# check_http: 300 runs; the CPU of the checks themselves (children of the
# driver), not of the driver.
read -r ch_cpu ch_ok < <(python3 - "$PORT" <<'PY'
import resource, subprocess, sys
ok = 0
for _ in range(300):
    ok += subprocess.run(["/usr/lib/nagios/plugins/check_http", "-H", "127.0.0.1", "-p", sys.argv[1], "-t", "5"],
                         stdout=subprocess.DEVNULL).returncode == 0
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(r.ru_utime + r.ru_stime, ok)
PY
)

# fping: 5,000 echoes to 127.0.0.1, one every millisecond.
/usr/bin/time -f '%U %S' -o "$WORK/fping.time" fping -q -c 5000 -p 1 127.0.0.1 2> "$WORK/fping.out"
read -r fu fs < "$WORK/fping.time"
fping_received=$(sed -n 's#.*xmt/rcv/%loss = [0-9]*/\([0-9]*\)/.*#\1#p' "$WORK/fping.out")

awk -v hc="$http_cpu" -v hr="$http_results" -v ec="$echo_cpu" -v er="$echo_results" -v ef="$echo_fails" \
    -v bc="$bb_cpu" -v bp="$bb_probes" -v cc="$ch_cpu" -v co="$ch_ok" -v fu="$fu" -v fs="$fs" \
    -v fr="${fping_received:-0}" -v d="$RUN_SECONDS" 'BEGIN {
    ours_http = hc * 1e6 / (hr > 0 ? hr : 1); ours_echo = ec * 1e6 / (er > 0 ? er : 1)
    bb = bc * 1e6 / (bp > 0 ? bp : 1); ch = cc * 1e6 / (co > 0 ? co : 1); fp = (fu + fs) * 1e6 / (fr > 0 ? fr : 1)
    printf "quillmere HTTP      %7.1f us CPU per result (1,000 entries at 1 s, %d s: %d results)\n", ours_http, d, hr
    printf "quillmere ECHO      %7.1f us CPU per echo   (1,000 entries at 1 s, %d s: %d results, %d failed)\n", ours_echo, d, er, ef
    printf "blackbox exporter   %7.1f us CPU per probe  (%d probes)   ours is %.2fx\n", bb, bp, ours_http / bb
    printf "check_http          %7.1f us CPU per check  (%d checks)   ours is %.3fx\n", ch, co, ours_http / ch
    printf "fping               %7.1f us CPU per echo   (%d echoes)   ours is %.2fx\n", fp, fr, ours_echo / fp
}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
