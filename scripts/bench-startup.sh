#!/usr/bin/env bash
# Whole-process timings, as a user meets them: `wz-convert info` and `wz-convert --to wzp` on a
# 12-triangle X file beside Assimp's `assimp info` on the same file, then 1000 such files in one
# `wz-convert --to wzp`. Uses hyperfine when installed (medians and means of many runs), else a
# timing loop (median of the runs). Reports wall time and the CPU time of user and system.
#   scripts/bench-startup.sh [BUILD_DIR] [RUNS]      (defaults: build, 30)
# The machine's load moves wall times a lot; the CPU times move less.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-30}
case $build in
  /*) convert="$build/bin/wz-convert" ;;
  *) convert="$(pwd)/$build/bin/wz-convert" ;;
esac
[ -x "$convert" ] || { echo "bench-startup: no $convert (build first: scripts/build.sh $build -DCMAKE_BUILD_TYPE=Release)" >&2; exit 2; }

work=$(mktemp -d /tmp/wz-bench-startup-XXXXXX)
trap 'rm -rf "$work"' EXIT

# The small model: a unit cube of 8 vertices and 12 triangles in a text X file.
cat >"$work/cube.x" <<'EOF'
xof 0303txt 0032
Mesh cube {
 8;
 0.0;0.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.0;, 0.0;1.0;0.0;,
 0.0;0.0;1.0;, 1.0;0.0;1.0;, 1.0;1.0;1.0;, 0.0;1.0;1.0;;
 12;
 3;0,1,2;, 3;0,2,3;, 3;4,5,6;, 3;4,6,7;, 3;0,1,5;, 3;0,5,4;,
 3;1,2,6;, 3;1,6,5;, 3;2,3,7;, 3;2,7,6;, 3;3,0,4;, 3;3,4,7;;
}
EOF
mkdir "$work/many"
for i in $(seq 1 1000); do cp "$work/cube.x" "$work/many/m$i.x"; done
sync

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$convert" info "$work/cube.x"

# One command, timed `runs` times: median wall, user and system times in milliseconds.
time_loop() {
  local name=$1 n=$2
  shift 2
  local tmp="$work/times"
  : >"$tmp"
  for _ in $(seq 1 "$n"); do
    /usr/bin/time -f "%e %U %S" -a -o "$tmp" "$@" >/dev/null 2>&1 || true
  done
  sort -n "$tmp" | awk -v name="$name" '{ w[NR] = $1; u[NR] = $2; s[NR] = $3 }
    END { m = int((NR + 1) / 2); asort(u); asort(s);
          printf "%-40s median wall %7.1f ms, user %6.1f ms, system %6.1f ms (%d runs)\n",
                 name, w[m] * 1000, u[m] * 1000, s[m] * 1000, NR }'
}

small=(
  "wz-convert info" "$convert info $work/cube.x"
  "wz-convert --to wzp" "$convert --to wzp $work/cube.x"
)
if command -v assimp >/dev/null; then
  small+=("assimp info" "assimp info $work/cube.x")
else
  echo "(assimp not installed: no comparison; it is the Debian package assimp-utils)"
fi
batch="$convert --to wzp $work/many/*.x"

if command -v hyperfine >/dev/null; then
  args=()
  for ((i = 0; i < ${#small[@]}; i += 2)); do args+=(-n "${small[i]}" "${small[i + 1]}"); done
  hyperfine -N -w 5 -r "$runs" --export-json "$work/small.json" "${args[@]}"
  # The 1000 files: the first (warm-up) run writes the outputs, the timed runs replace them.
  # Each run starts with the page cache written back (sync), so that no run pays for the
  # writeback of the files made before it.
  hyperfine -w 1 -r 5 --prepare sync --export-json "$work/batch.json" \
    -n "1000 files, one wz-convert --to wzp" "$batch"
  for f in "$work/small.json" "$work/batch.json"; do
    python3 - "$f" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(f'{r["command"]:40} median wall {r["median"] * 1000:7.1f} ms, '
          f'user {r["user"] * 1000:6.1f} ms, system {r["system"] * 1000:6.1f} ms (mean CPU)')
PY
  done
else
  for ((i = 0; i < ${#small[@]}; i += 2)); do
    # shellcheck disable=SC2086
    time_loop "${small[i]}" "$runs" ${small[i + 1]}
  done
  "$convert" --to wzp "$work"/many/*.x >/dev/null
  sync
  # shellcheck disable=SC2086
  time_loop "1000 files, one wz-convert --to wzp" 5 $batch
fi
