#!/usr/bin/env bash
# Copies real-world LWO2 and OBJ files (Debian's assimp-testmodels package, installed by
# scripts/setup.sh) as seeds for the lwo2_reader and obj_reader fuzz harnesses:
# scripts/make-exchange-seeds.sh [DIR], default fuzz-corpus; files go to DIR/lwo2_reader and
# DIR/obj_reader. An OBJ seed is its document, a NUL byte, and the material libraries its mtllib
# lines name beside it (else the library of its own name).
set -euo pipefail
dir=${1:-fuzz-corpus}
models=/usr/share/assimp/models
mkdir -p "$dir/lwo2_reader" "$dir/obj_reader"
find "$models/LWO/LWO2" -name '*.lwo' -exec cp {} "$dir/lwo2_reader/" \;
for obj in "$models"/OBJ/*.obj; do
  name=$(basename "$obj" .obj)
  {
    cat "$obj"
    printf '\0'
    found=0
    while IFS= read -r lib; do
      if [ -n "$lib" ] && [ -f "$models/OBJ/$lib" ]; then
        cat "$models/OBJ/$lib"
        found=1
      fi
    done < <(sed -n 's/^[[:space:]]*mtllib[[:space:]]\{1,\}//p' "$obj" | tr -d '\r')
    if [ "$found" = 0 ] && [ -f "$models/OBJ/$name.mtl" ]; then cat "$models/OBJ/$name.mtl"; fi
  } >"$dir/obj_reader/$name"
done
