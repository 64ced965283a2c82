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
exec build/src/app/quillmere-monitor "$@"
