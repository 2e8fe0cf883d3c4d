#!/usr/bin/env bash
# Sets everything up, builds the program and runs it on the bundled height map.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release >/dev/null
status=0
build/bin/wz-normalmap || status=$?
if [ -f build/bin/WZ_Normalmap.BMP ]; then
  echo "wz-normalmap: exit code $status; wrote $(pwd)/build/bin/WZ_Normalmap.BMP from $(pwd)/build/bin/WZ_Heightmap.jpg"
else
  echo "wz-normalmap: exit code $status; no normal map written (is build/bin/WZ_Heightmap.jpg there?)"
fi
exit $status
