#!/usr/bin/env bash
# Adds the sample models and images of Debian's assimp-testmodels package (installed by
# scripts/setup.sh; third-party files) to the fuzz seed corpora, in the input form each harness
# takes: scripts/make-sample-seeds.sh [DIR], default fuzz-corpus; files go to DIR/<harness>.
# Does nothing when the package is not installed.
set -euo pipefail
dir=${1:-fuzz-corpus}
models=/usr/share/assimp/models
[ -d "$models" ] || exit 0
mkdir -p "$dir"/{gltf_reader,lwo_reader,dxf_reader,x_model,x_text,x_binary,x_compressed,image_decode,image_load}

# A copy of a file with one byte (given in octal) in front of it: the harnesses that take a
# selector byte first.
with_byte() { { printf "\\$2"; cat "$1"; } >"$3"; }
# The file after its 16-byte X header, with an optional selector byte in front.
x_body() {
  { [ -n "$2" ] && printf "\\$2"; tail -c +17 "$1"; } >"$3"
}

n=0
for f in "$models"/LWO/LWOB/*.lwo "$models"/LWO/LWOB/*/*.lwo; do
  [ -f "$f" ] && cp "$f" "$dir/lwo_reader/sample$((n++)).lwo"
done
# glTF documents that hold their buffers (data: URIs) and GLB files.
for f in "$models"/glTF2/*/*.glb "$models"/glTF2/*/*.gltf "$models"/glTF2/*/*/*.gltf; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -lt 1048576 ] && cp "$f" "$dir/gltf_reader/sample$((n++))"
done
for f in "$models"/DXF/*.dxf; do
  cp "$f" "$dir/dxf_reader/sample$((n++)).dxf"
done
for f in "$models"/X/*.x "$models"/X/*.X "$models"/X/OV_GetNextToken "$models"/X/TestFormatDetection; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  with_byte "$f" 003 "$dir/x_model/sample$n"  # selector 3: the whole file, its own header
  case "$(head -c 12 "$f" | tail -c 4)" in
    "txt ") x_body "$f" "" "$dir/x_text/sample$n" ;;
    "bin ") x_body "$f" 000 "$dir/x_binary/sample$n" ;;
    bzip) x_body "$f" 001 "$dir/x_compressed/sample$n" ;;
    tzip) x_body "$f" 000 "$dir/x_compressed/sample$n" ;;
  esac
done
find "$models" \( -iname '*.png' -o -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.tga' \
  -o -iname '*.bmp' -o -iname '*.dds' \) -size -512k -print0 |
  while IFS= read -r -d '' f; do
    n=$((n + 1))
    cp "$f" "$dir/image_decode/sample$n"
    with_byte "$f" 003 "$dir/image_load/sample$n"  # selector 3: a name the image loader takes
  done
