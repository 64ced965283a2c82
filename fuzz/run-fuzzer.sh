#!/bin/sh
# Runs one fuzzer from its seeds in a fresh working folder; the seeds in the
# tree are never changed. Inputs that fail are kept in WORKDIR/crashes/.
# usage: run-fuzzer.sh FUZZER SEEDS WORKDIR [libFuzzer options, e.g. -runs=N]
set -eu
fuzzer=$(readlink -m "$1")
seeds=$2
work=$(readlink -m "$3")
shift 3
if [ ! -x "$fuzzer" ]; then
    echo "run-fuzzer.sh: $fuzzer was not built (it is built with clang beside the build)" >&2
    exit 1
fi
rm -rf "$work"
mkdir -p "$work/corpus" "$work/crashes"
if [ -d "$seeds" ]; then
    cp "$seeds"/* "$work/corpus/" 2>/dev/null || true
fi
cd "$work"
exec "$fuzzer" -timeout=5 -rss_limit_mb=1024 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$@" "$work/corpus"
