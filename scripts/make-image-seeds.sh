#!/usr/bin/env bash
# Writes the image test fixtures (one file per decoder variant) as seeds for the image fuzz
# harness: scripts/make-image-seeds.sh [DIR], default fuzz-corpus/images. Needs a built test
# binary in build/ (scripts/build.sh build).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-fuzz-corpus/images}
mkdir -p "$dir"
WZ_IMAGE_SEED_DIR=$(cd "$dir" && pwd) build/bin/wz_tests \
  --gtest_filter=ImageDecode.WriteFuzzSeedsWhenAsked >/dev/null
echo "make-image-seeds: $(ls "$dir" | wc -l) files in $dir"
