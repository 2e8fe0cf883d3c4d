#!/usr/bin/env bash
# Checks CI runs besides the test command: every fuzz harness for a short smoke run under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the tests that use threads under
# ThreadSanitizer. The fuzz runs hold each input to 512 MB and 10 seconds, so an input that costs
# memory or time out of proportion to its size is a finding like a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${WZ_FUZZ_SECONDS:-20}

echo "== fuzz smoke runs (${seconds} s each)"
CC=clang CXX=clang++ scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWZ_FUZZ=ON >/dev/null
# Seed files made by the repo's scripts; the image and WZP seeds come from the test binary, so
# they are made only when build/ holds one (the test command builds it).
seed_root=$(mktemp -d)
scripts/make-format-seeds.sh "$seed_root" >/dev/null
python3 scripts/make-lwo-mqo-seeds.py "$seed_root" >/dev/null
for d in mx rok dxf; do mv "$seed_root/$d" "$seed_root/${d}_reader"; done
# The real files of assimp-testmodels (installed by setup): models and images.
scripts/make-sample-seeds.sh "$seed_root" >/dev/null
scripts/make-exchange-seeds.sh "$seed_root" >/dev/null
if [ -x build/bin/wz_tests ]; then
  scripts/make-image-seeds.sh "$seed_root/image_decode" >/dev/null
  scripts/make-wzp-seeds.sh "$seed_root/wzp_reader" >/dev/null
fi
mkdir -p "$seed_root/effect_reader"
cp data/System/HLSL/*.fx "$seed_root/effect_reader/"
[ -d build/bin/Data/System/HLSL ] && cp build/bin/Data/System/HLSL/*.fxo "$seed_root/effect_reader/"
for harness in build-fuzz/bin/fuzz_*; do
  name=$(basename "$harness")
  name=${name#fuzz_}
  corpus=$(mktemp -d)
  seeds=()
  [ -d "$seed_root/$name" ] && seeds=("$seed_root/$name")
  dict=()
  for d in fuzz/${name%%_*}.dict fuzz/${name}.dict; do
    [ -f "$d" ] && dict=("-dict=$d") && break
  done
  echo "-- $name"
  "$harness" -max_total_time="$seconds" -rss_limit_mb=512 -timeout=10 -print_final_stats=0 \
    "${dict[@]}" "$corpus" "${seeds[@]}" >"$corpus.log" 2>&1 || { tail -n 60 "$corpus.log"; exit 1; }
  grep -E "^Done|#[0-9]+ *DONE" "$corpus.log" | tail -n 1 || true
  rm -rf "$corpus" "$corpus.log"
done
rm -rf "$seed_root"

echo "== thread tests under ThreadSanitizer"
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWZ_TSAN=ON -DWZ_BENCH=OFF >/dev/null
# llvmpipe draws on the calling thread (LP_NUM_THREADS=0), and what races it reports from inside
# the driver, which is not instrumented, is suppressed.
LP_NUM_THREADS=0 TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan.supp" \
  ctest --test-dir build-tsan -j "$(nproc)" --output-on-failure \
  -R 'DataLoader|Windows|ModelManager|Loader|Background|Startup|Stretches|ConvertRun_'

echo "== install, outside projects and the Debian package"
scripts/check-install.sh build
