#!/usr/bin/env bash
# Builds Quillmere and runs it: the desktop program when a display is
# available, else the headless runner. Arguments go to the program
# (try: scripts/run.sh --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/app/quillmere "$@"
fi
echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); running the headless quillmere-monitor instead" >&2
# The desktop program takes a database file as a plain word, the runner as
# --database FILE: hand the runner the same arguments in its own form.
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --settings|--database|--duration)
      args+=("$1"); shift
      if [ $# -gt 0 ]; then args+=("$1"); shift; fi ;;
    hosts|traceroute)
      args+=("$@"); break ;;
    -*)
      args+=("$1"); shift ;;
    *)
      args+=(--database "$1"); shift ;;
  esac
done
exec build/src/app/quillmere-monitor "${args[@]+"${args[@]}"}"
