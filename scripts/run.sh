#!/usr/bin/env bash
# Builds Quillmere and runs the monitor; arguments go to quillmere-monitor
# (try: scripts/run.sh --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec build/src/app/quillmere-monitor "$@"
