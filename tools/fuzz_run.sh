#!/usr/bin/env bash
# Runs libFuzzer targets side by side and prints one line per target.
#   tools/fuzz_run.sh BUILD_DIR SEEDS_DIR TARGET|all SECONDS PARALLEL
# Each target works on its own corpus in BUILD_DIR/corpus/<target> (the committed seeds
# are read too) and keeps its log in BUILD_DIR/fuzz-logs/<target>.log; a finding leaves
# its input as BUILD_DIR/fuzz-logs/<target>-crash-* and makes the run fail.
set -uo pipefail
build=$1 seeds=$2 target=$3 seconds=$4 parallel=$5
logs="$build/fuzz-logs"; mkdir -p "$logs"
# The sanitizer keeps every distinct allocation call stack for its reports; recursive
# parsers fed random nesting make new ones without end, and long runs then hit the
# memory limit on that bookkeeping alone. Runs keep no allocation stacks; a finding's
# input run again by hand shows them (the fault's own stack is always there).
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=0}

one() {
  local f=$1 name corpus seed_dir started status
  name=$(basename "$f")
  corpus="$build/corpus/$name"; mkdir -p "$corpus"
  seed_dir="$seeds/${name#fuzz_}"
  started=$(date +%s)
  "$f" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$logs/$name-" \
       "$corpus" $( [ -d "$seed_dir" ] && echo "$seed_dir" ) > "$logs/$name.log" 2>&1
  status=$?
  local runs cov
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$logs/$name.log" | grep -o '[0-9]*$')
  cov=$(grep -oE 'cov: [0-9]+' "$logs/$name.log" | tail -1 | grep -oE '[0-9]+')
  printf '%-26s %5ss %12s runs  cov %6s  corpus %5s  %s\n' "$name" "$(( $(date +%s) - started ))" \
    "${runs:-?}" "${cov:-?}" "$(ls "$corpus" | wc -l)" "$( [ $status -eq 0 ] && echo ok || echo "FOUND (exit $status)")"
  return $status
}
export -f one
export build seeds seconds logs

for f in "$build"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  [ "$target" = all ] || [ "$target" = "$(basename "$f")" ] || continue
  echo "$f"
done | xargs -P "$parallel" -I{} bash -c 'one "$@"' _ {}
