#!/usr/bin/env bash
# Builds the core's libFuzzer harnesses with clang in build/fuzz and runs each one
# for a given time on one core, starting from its seed corpus in the tree.
#   tests/fuzz/run.sh build                      only build
#   tests/fuzz/run.sh SECONDS [HARNESS...]       run (default: all harnesses)
# VK_FUZZ_RUNS=N ends a harness after N executions if that comes before SECONDS.
# Prints per harness the executions, the time and the findings (inputs that
# crashed, leaked or timed out, kept in build/fuzz/findings/HARNESS/). The corpus a
# run grows stays in build/fuzz/work/HARNESS/; the tree's seeds are not touched.
# One process per harness, one harness at a time: one core.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/fuzz
all=(comma_list set_text zip_archive zip_names regfile plugin_records)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DVK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
cmake --build "$build" -- -j"${VK_FUZZ_BUILD_JOBS:-2}" >/dev/null
[ "${1:-}" = build ] && exit 0

seconds=${1:?usage: run.sh build | run.sh SECONDS [HARNESS...]}
shift
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=("${all[@]}")

failed=0
printf '%-16s %14s %8s %9s\n' harness executions seconds findings
for h in "${harnesses[@]}"; do
  work=$build/work/$h findings=$build/findings/$h
  mkdir -p "$work" "$findings"
  log=$build/$h.log
  started=$(date +%s)
  set +e
  "$build/tests/fuzz/fuzz_$h" -max_total_time="$seconds" -runs="${VK_FUZZ_RUNS:--1}" -print_final_stats=1 \
    -max_len=8192 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$findings/" \
    "$work" "$root/tests/fuzz/corpus/$h" >"$log" 2>&1
  rc=$?
  set -e
  time=$(( $(date +%s) - started ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  count=$(find "$findings" -type f | wc -l)
  [ "$rc" -ne 0 ] && [ "$count" -eq 0 ] && count="rc=$rc"
  printf '%-16s %14s %8s %9s\n' "$h" "${execs:-?}" "$time" "$count"
  [ "$rc" -ne 0 ] || [ "$count" != 0 ] && failed=1
done
exit $failed
