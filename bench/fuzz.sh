#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each from
# its seeds for RUNS executions (10 million unless given), then prints one
# line per target: executions, executions per second, new inputs found, and
# the result. Failing inputs and logs stay in build-fuzz/fuzz/work/NAME/.
# usage: bench/fuzz.sh [RUNS [NAME...]]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10000000}
shift || true
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUILLMERE_FUZZ=ON >/dev/null
cmake --build build-fuzz --target quillmere_fuzzers
names=("$@")
if [ "${#names[@]}" -eq 0 ]; then
  for f in build-fuzz/fuzz/fuzz_*; do names+=("${f##*/fuzz_}"); done
fi

final_stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }
status=0
printf '%-18s %12s %10s %6s %8s  %s\n' target executions exec/s new seconds result
for name in "${names[@]}"; do
  work=build-fuzz/fuzz/work/$name
  log=build-fuzz/fuzz/$name.log
  start=$(date +%s)
  if sh fuzz/run-fuzzer.sh "build-fuzz/fuzz/fuzz_$name" "fuzz/corpus/$name" "$work" -runs="$runs" >"$log" 2>&1; then
    result="no crash, no sanitizer report"
  else
    result="FAILED: see $log"
    status=1
  fi
  seconds=$(($(date +%s) - start))
  printf '%-18s %12s %10s %6s %8s  %s\n' "$name" "$(final_stat number_of_executed_units "$log")" \
    "$(final_stat average_exec_per_sec "$log")" "$(final_stat new_units_added "$log")" "$seconds" "$result"
done
exit "$status"
