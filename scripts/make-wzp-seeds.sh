#!/usr/bin/env bash
# Writes WZP files of every version (made by the test-side layout writer and the library's
# writer) as seeds for the WZP reader fuzz harness: scripts/make-wzp-seeds.sh [DIR], default
# fuzz-corpus/wzp. Needs a built test binary in build/ (scripts/build.sh build).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-fuzz-corpus/wzp}
mkdir -p "$dir"
WZ_WZP_SEED_DIR=$(cd "$dir" && pwd) build/bin/wz_tests \
  --gtest_filter=WzpWriter.WriteFuzzSeedsWhenAsked >/dev/null
echo "make-wzp-seeds: $(ls "$dir" | wc -l) files in $dir"
