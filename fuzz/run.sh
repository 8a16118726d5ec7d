#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz (clang, with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs them, each for a bounded time,
# starting from the seeds in fuzz/corpus/TARGET (host_fuzzer also from the
# script tests, tests/scripts/*.vbs).
#
#   fuzz/run.sh [-t SECONDS] [-j PARALLEL] [-k] [TARGET...]
#
#   -t SECONDS   run time per target (default 600)
#   -j PARALLEL  targets running at the same time (default 2)
#   -k           keep what the fuzzers learn in build/fuzz/corpus/TARGET and
#                start from it next time (default: a fresh corpus per run)
#   TARGET       host_fuzzer, invoke_fuzzer, readers_fuzzer, text_fuzzer,
#                spool_fuzzer, sheet_fuzzer (default: all six)
#
# Fails when a target reports a crash, a leak, a timeout, running out of
# memory or any sanitizer finding; the input that did it is kept as
# build/fuzz/artifacts/TARGET-*. Reproduce with
#   build/fuzz/fuzz/TARGET build/fuzz/artifacts/TARGET-crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
parallel=2
keep=0
while getopts "t:j:k" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) parallel=$OPTARG ;;
    k) keep=1 ;;
    *) sed -n '2,20p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(host_fuzzer invoke_fuzzer readers_fuzzer text_fuzzer spool_fuzzer
           sheet_fuzzer)
fi

# Absolute: the targets change their working folder to their sandbox.
root=$PWD
build=$root/build/fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE= \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DPELLAR_BUILD_TESTS=OFF -DPELLAR_BUILD_BENCHMARKS=OFF \
    -DPELLAR_BUILD_FUZZERS=ON \
    "-DCMAKE_CXX_FLAGS=-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# What each target reads: the script host gets short scripts and the
# keywords of the language; the readers get files past one read (64 KiB).
options_for() {
  case $1 in
    host_fuzzer) echo "-max_len=2048 -dict=$root/fuzz/host.dict" ;;
    invoke_fuzzer) echo "-max_len=4096" ;;
    readers_fuzzer) echo "-max_len=70000" ;;
    text_fuzzer) echo "-max_len=4096" ;;
    spool_fuzzer) echo "-max_len=8192 -dict=$root/fuzz/spool.dict" ;;
    sheet_fuzzer) echo "-max_len=8192 -dict=$root/fuzz/sheet.dict" ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/artifacts" "$build/logs" "$build/tmp"

# Folders of seeds after the corpus: libFuzzer writes only into the first
# folder it is given, the corpus, so these are only read.
seeds_for() {
  echo "$root/fuzz/corpus/$1"
  # The script tests, copied so that their expected outputs stay out and
  # nothing the fuzzer does can reach tests/scripts.
  if [ "$1" = host_fuzzer ]; then
    echo "$build/seeds/host_fuzzer"
  fi
}
rm -rf "$build/seeds"
mkdir -p "$build/seeds/host_fuzzer"
cp "$root"/tests/scripts/*.vbs "$build/seeds/host_fuzzer/"

run_target() {
  local target=$1 corpus seeds
  if [ "$keep" = 1 ]; then
    corpus=$build/corpus/$target
  else
    corpus=$build/run/$target
    rm -rf "$corpus"
  fi
  mkdir -p "$corpus" "$build/tmp/$target"
  mapfile -t seeds < <(seeds_for "$target")
  # shellcheck disable=SC2046
  TMPDIR=$build/tmp/$target "$build/fuzz/$target" \
    -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    $(options_for "$target") "$corpus" "${seeds[@]}" \
    >"$build/logs/$target.log" 2>&1
}

report() {
  local target=$1 status=$2 log=$build/logs/$1.log runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" = 0 ]; then
    echo "fuzz: $target: ${runs:-?} executions in $seconds s, no finding"
  else
    echo "fuzz: $target FAILED (exit $status); end of $log:" >&2
    tail -40 "$log" >&2
  fi
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += parallel)); do
  batch=("${targets[@]:i:parallel}")
  pids=()
  for target in "${batch[@]}"; do
    run_target "$target" &
    pids+=($!)
  done
  for j in "${!batch[@]}"; do
    status=0
    wait "${pids[$j]}" || status=$?
    report "${batch[$j]}" "$status"
    [ "$status" = 0 ] || failed=1
  done
done
exit "$failed"
