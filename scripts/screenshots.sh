#!/usr/bin/env bash
# Builds Quillmere, monitors a dozen loopback services under a virtual display
# (Xvfb) and saves a picture of every window and dialog, at scale 1 and 2, to
# build/screenshots/scale1 and build/screenshots/scale2.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build=$PWD/build
work=$(mktemp -d)
base=${QM_SCREENSHOT_PORT:-18400}
cleanup() {
  [ -n "${services_pid:-}" ] && kill "$services_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

syslog_port=$(getent services syslog/udp | awk '{split($2, a, "/"); print a[1]}')
exec 3< <(sleep 900)  # keeps the services' stdin open for the run
python3 scripts/screenshots/services.py "$base" "${syslog_port:-514}" <&3 >"$work/services.log" 2>&1 &
services_pid=$!
for _ in $(seq 50); do grep -q ready "$work/services.log" 2>/dev/null && break; sleep 0.1; done

conf=$work/Quillmere.conf
add() { "$build/src/app/quillmere-monitor" --settings "$conf" hosts add "$@" >/dev/null; }
add --host localhost --nickname web --protocol HTTP --port $((base + 0)) --freq 2
add --host 127.0.0.1 --nickname gateway --protocol ECHO --freq 2
add --host 127.0.0.1 --nickname mail-in --protocol POP3 --port $((base + 1)) --freq 3 --user monitor --password secret
add --host 127.0.0.1 --nickname relay --protocol SMTP --port $((base + 2)) --freq 3 --domain example.lan
add --host 127.0.0.1 --nickname files --protocol FTP --port $((base + 3)) --freq 3 --user anonymous --password guest
add --host 127.0.0.1 --nickname news --protocol NNTP --port $((base + 4)) --freq 4
add --host 127.0.0.1 --nickname clock --protocol DAYTIME --port $((base + 5)) --freq 4
add --host 127.0.0.1 --nickname motd --protocol "QUOTE OF THE DAY" --port $((base + 6)) --freq 5
add --host 127.0.0.1 --nickname ntp-ish --protocol TIME --port $((base + 7)) --freq 5
add --host 127.0.0.2 --nickname intranet --protocol HTTP --port $((base + 9)) --freq 2 --float-errors 3
add --host 127.0.0.1 --nickname syslog --protocol SYSLOG --port "${syslog_port:-514}"
add --host localhost --nickname staging --protocol HTTP --port $((base + 8)) --freq 60 --disabled

for scale in 1 2; do
  out=$build/screenshots/scale$scale
  rm -rf "$out" && mkdir -p "$out"
  rm -f "$work/results.db"
  QT_SCALE_FACTOR=$scale QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 2600x1800x24" \
    "$build/scripts/screenshots/quillmere_screenshot_tour" --settings "$conf" --database "$work/results.db" --out "$out"
done
echo "screenshots in $build/screenshots"
