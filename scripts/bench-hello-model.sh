#!/usr/bin/env bash
# Start-up of a program on the shared library beside the static tools, headless: hello_model
# (start, load, first frame, quit) against `wz-convert render` of the same model, and
# `wz-convert info`; then the sizes of the libraries and the tools. Installs BUILD_DIR into a
# temporary prefix and builds hello_model there. Uses hyperfine when installed.
#   scripts/bench-hello-model.sh [BUILD_DIR] [MODEL] [RUNS]
#   (defaults: build, /usr/share/assimp/models/X/Testwuson.X, 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
model=${2:-/usr/share/assimp/models/X/Testwuson.X}
runs=${3:-20}
work=$(mktemp -d /tmp/wz-bench-hello-XXXXXX)
trap 'rm -rf "$work"' EXIT
export WZ_BACKEND=headless
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S examples/hello_model -B "$work/hello" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/hello" >/dev/null
hello=$work/hello/hello_model
convert=$prefix/bin/wz-convert
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$hello" "$model" --frames 1
if command -v hyperfine >/dev/null; then
  hyperfine -N -w 3 -r "$runs" -u millisecond \
    -n "hello_model --frames 1" "$hello $model --frames 1" \
    -n "wz-convert render" "$convert render -o $work/r.png $model" \
    -n "wz-convert info" "$convert info $model" 2>/dev/null | grep -v '^ *$'
else
  for cmd in "$hello $model --frames 1" "$convert render -o $work/r.png $model"; do
    /usr/bin/time -f "%e s  $cmd" $cmd >/dev/null
  done
fi
echo "sizes (bytes):"
libdir=$(dirname "$(find "$prefix" -name 'libwz.so' | head -n 1)")
for f in "$libdir"/libwz.so.*.* "$libdir/libwz.a" "$prefix"/bin/wz-*; do
  printf "  %-12s %10d\n" "$(basename "$f")" "$(stat -c %s "$f")"
done
