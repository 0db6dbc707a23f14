#!/usr/bin/env bash
# Runs every fuzz target for a bounded time under ASan+UBSan (libFuzzer,
# clang). Usage: scripts/fuzz.sh [SECONDS_EACH] [TARGET...]
# New inputs go to build/fuzz/work/TARGET; a finding is written to
# build/fuzz/findings/ and fails the run. Once the fault is fixed, copy the
# finding into tests/fuzz/corpus/TARGET/ so that every build replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(module_file session tool image_folder page request_gate)

scripts/deps.sh
scripts/web.sh
# The fuzz targets alone: the rest of the fuzz preset's build (the program,
# the module, the tools) is not run here.
log=$(mktemp)
if ! { cmake --preset fuzz && cmake --build --preset fuzz --target "${targets[@]/%/_fuzz}" \
  varlobooks varlobooks-module-trial; } \
  >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "scripts/fuzz.sh: the fuzz build failed (its output is above)" >&2
  exit 1
fi
rm -f "$log"
mkdir -p build/fuzz/findings
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One target's run; its statistics, or the end of its log on a finding.
fuzz_one() {
  local target=$1 work=build/fuzz/work/$1
  mkdir -p "$work"
  build/fuzz/bin/${target}_fuzz "$work" "tests/fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=6144 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/findings/${target}-" 2>"build/fuzz/$target.log" || {
    tail -n 60 "build/fuzz/$target.log" >&2
    echo "scripts/fuzz.sh: $target found a fault (above; the input is in build/fuzz/findings/)" >&2
    return 1
  }
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "build/fuzz/$target.log" |
    sed "s/^/  $target /"
}

# Two targets at a time, one a core.
failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pair=("${targets[@]:i:2}")
  echo "fuzzing ${pair[*]} for ${seconds} s"
  pids=()
  for target in "${pair[@]}"; do
    fuzz_one "$target" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
  done
done
exit $failed
