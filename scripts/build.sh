#!/usr/bin/env bash
# Configures and builds one configuration: scripts/build.sh DIR [cmake options...]
set -euo pipefail
dir=$1
shift
launcher=()
# A compiler cache makes rebuilds of unchanged files (and of other checkouts) cheap.
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
