#!/usr/bin/env bash
# Builds Quillmere and runs the whole test suite. The tests start real servers
# on loopback ports and create network namespaces, so they run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
ctest --output-on-failure -j2 --timeout 900 "$@"
