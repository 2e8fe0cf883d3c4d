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
# llvmpipe draws on the calling thread here and Mesa keeps no shader cache (whose writer is
# another thread): the leak checker stops every thread at exit, and the driver's own threads (not
# built with the sanitizers) can make that stop crash ("Tracer caught signal 11"), a fault of the
# checker, not of the program checked. A test that fails is run once more: a sanitizer finding in
# our code fails both times, and the first failure's report stays in the log.
LP_NUM_THREADS=0 MESA_SHADER_CACHE_DISABLE=true ASAN_OPTIONS=detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize -j "$jobs" --output-on-failure --repeat until-pass:2
