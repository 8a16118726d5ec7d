#!/usr/bin/env bash
# The hardening stages of ./test, run after the main suite:
#   1. the whole test suite built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (build/asan, -O1, no benchmarks) and run,
#      every sanitizer finding and every leak failing its test;
#   2. each fuzz target for a bounded time, two at a time (fuzz/run.sh,
#      build/fuzz); PELLAR_FUZZ_SECONDS sets the time (default 45).
# Prints the wall-clock time of each stage.
set -euo pipefail
cd "$(dirname "$0")/../.."

jobs=$(nproc)
fuzz_seconds=${PELLAR_FUZZ_SECONDS:-45}

stage() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  echo "hardening: $name took $((SECONDS - start)) s"
}

sanitized_suite() {
  local build=build/asan
  # GCC reports uninitialised uses that the sanitizers' instrumentation
  # makes up (in libstdc++'s regex); the plain build checks warnings.
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_COMPILER=g++ \
    -DPELLAR_BUILD_BENCHMARKS=OFF \
    "-DCMAKE_CXX_FLAGS=-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all -Wno-maybe-uninitialized" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
  cmake --build "$build" -j"$jobs"
  # The install test builds plain consumer programs, which cannot load an
  # instrumented library: it runs in the plain suite only.
  ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$build" -j"$jobs" --output-on-failure -E '^install$'
}

stage "sanitized build and suite" sanitized_suite
stage "fuzzing ($fuzz_seconds s per target)" \
  fuzz/run.sh -t "$fuzz_seconds" -j 2
echo "hardening: ran the sanitized suite and every fuzz target for $fuzz_seconds s"
