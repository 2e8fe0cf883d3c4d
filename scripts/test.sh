#!/usr/bin/env bash
# Sets everything up, then builds and runs the whole test suite twice: in the normal configuration
# and under AddressSanitizer + UndefinedBehaviorSanitizer. Ends with CTest's summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
echo "== tests (normal build)"
ctest --test-dir build -j "$jobs" --output-on-failure

scripts/build.sh build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWZ_SANITIZE=ON -DWZ_BENCH=OFF
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
# llvmpipe draws on the calling thread here: the leak checker stops every thread at exit, and
# the driver's own worker threads (not built with the sanitizers) can make that stop crash.
LP_NUM_THREADS=0 ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize -j "$jobs" --output-on-failure
