#!/usr/bin/env bash
# Checks CI runs besides the test command: every fuzz harness for a short smoke run under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the tests that use threads under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${WZ_FUZZ_SECONDS:-20}

echo "== fuzz smoke runs (${seconds} s each)"
CC=clang CXX=clang++ scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWZ_FUZZ=ON >/dev/null
for harness in build-fuzz/bin/fuzz_*; do
  name=$(basename "$harness")
  name=${name#fuzz_}
  corpus=$(mktemp -d)
  seeds=()
  [ -d "fuzz/${name}_seeds" ] && seeds=("fuzz/${name}_seeds")
  dict=()
  for d in fuzz/${name%%_*}.dict fuzz/${name}.dict; do
    [ -f "$d" ] && dict=("-dict=$d") && break
  done
  echo "-- $name"
  "$harness" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 "${dict[@]}" \
    "$corpus" "${seeds[@]}" >"$corpus.log" 2>&1 || { tail -n 60 "$corpus.log"; exit 1; }
  grep -E "^Done|#[0-9]+ *DONE" "$corpus.log" | tail -n 1 || true
  rm -rf "$corpus" "$corpus.log"
done

echo "== thread tests under ThreadSanitizer"
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWZ_TSAN=ON -DWZ_BENCH=OFF >/dev/null
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -j "$(nproc)" --output-on-failure \
  -R 'DataLoader|Windows|ModelManager|Loader|Background|Startup'
