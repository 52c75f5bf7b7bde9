#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, one after the other:
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]     (TARGET: framing hex import rewrite template report capture traffic pace keys)
# Starts from the seeds in fuzz/corpus/<target>/ (capture's are written by
# fuzz/capture_seeds.py) and grows a working corpus in
# fuzz-out/corpus/<target>/ (kept between runs, never committed). A crash or a
# broken property stops the target; its input is saved as
# fuzz-out/artifacts/<target>-crash-... and the script fails. Logs go to
# fuzz-out/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
shift $(( $# < 2 ? $# : 2 ))
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  TARGETS=(framing hex import rewrite template report capture traffic pace keys)
fi

OUT=fuzz-out
mkdir -p "$OUT/artifacts" "$OUT/logs"
# Leaks are errors too; UBSan reports stop the run with a stack.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for t in "${TARGETS[@]}"; do
  bin="$BUILD_DIR/fuzz/fuzz_$t"
  if [ ! -x "$bin" ]; then
    echo "fuzz: $bin is missing (build the tovrik_fuzzers target first)" >&2
    exit 2
  fi
  mkdir -p "$OUT/corpus/$t"
  args=(-max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$OUT/artifacts/$t-")
  case $t in
    import|rewrite|template|report|traffic) args+=(-dict=fuzz/json.dict) ;;
  esac
  log="$OUT/logs/$t.log"
  if "$bin" "${args[@]}" "$OUT/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -ao 'cov: [0-9]*' "$log" | tail -1)
    echo "fuzz: $t: ok, $runs runs in ${SECONDS_EACH}s, $cov, corpus $(ls "$OUT/corpus/$t" | wc -l) files"
  else
    echo "fuzz: $t: FAILED, see $log; the input is in $OUT/artifacts/" >&2
    grep -aE 'ERROR|property broken|runtime error|SUMMARY' "$log" | head -5 >&2 || true
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
