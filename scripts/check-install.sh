#!/usr/bin/env bash
# The library as an outside user meets it: installs a build into a temporary prefix, builds both
# examples against it as outside projects (find_package through CMAKE_PREFIX_PATH, and
# pkg-config), runs them and checks what they print; then makes the Debian package, unpacks it
# into a scratch root and runs the packaged wz-convert with only the packaged data.
#   scripts/check-install.sh [BUILD_DIR]        (default: build, made by the test command)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || { echo "check-install: no $build (build first)" >&2; exit 2; }
work=$(mktemp -d /tmp/wz-check-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }
models=(/usr/share/assimp/models/X/Testwuson.X /usr/share/assimp/models/OBJ/box.obj)
export WZ_BACKEND=headless
unset WZ_DATA_DIR

echo "-- install into a temporary prefix"
cmake --build "$build" >/dev/null
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libwz.so' | head -n 1)")
[ -L "$libdir/libwz.so" ] && [ -f "$libdir/libwz.a" ] || fail "no libwz.so and libwz.a in $libdir"
[ -f "$prefix/share/wz/Data/System/HLSL/HLSL_3D.fx" ] || fail "no effect files under share/wz"
# grep reads whole outputs (a grep -q that stops early breaks the pipe, which pipefail reports).
grep -q 'SONAME.*libwz\.so\.[0-9]' <<<"$(readelf -d "$libdir/libwz.so")" ||
  fail "libwz.so has no soname"
grep -q 'T .*LoadModel' <<<"$(nm -D --defined-only "$libdir/libwz.so")" ||
  fail "LoadModel is not exported"

echo "-- the examples as outside projects"
for example in hello_model convert_batch; do
  cmake -S "examples/$example" -B "$work/$example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/$example" >/dev/null
done
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion wz)" = "$("$prefix/bin/wz-convert" --version | cut -d' ' -f2)" ] ||
  fail "wz.pc and wz-convert disagree on the version"
# shellcheck disable=SC2046
c++ -std=c++17 -O1 examples/convert_batch/main.cpp $(pkg-config --cflags --libs wz) \
  -Wl,-rpath,"$libdir" -o "$work/convert_batch_pc"

# The polygon counts wz-convert gives are the ones the examples must print.
for m in "${models[@]}"; do
  polygons=$("$prefix/bin/wz-convert" info "$m" | grep -o '[0-9]* polygons')
  for program in "$work/convert_batch/convert_batch" "$work/convert_batch_pc"; do
    out=$("$program" -o "$work/glb" "$m")
    grep -qF "$m: $polygons, " <<<"$out" || fail "$program printed no '$polygons' for $m: $out"
    glb=$work/glb/$(basename "${m%.*}").glb
    grep -qF "$m -> $glb" <<<"$out" || fail "$program did not say it wrote $glb: $out"
    [ "$(head -c 4 "$glb")" = "glTF" ] || fail "$glb is no GLB file"
    rm -f "$glb"
  done
  out=$("$work/hello_model/hello_model" "$m" --frames 3)
  grep -qF "hello_model: $m: $polygons, " <<<"$out" || fail "hello_model: no '$polygons': $out"
  grep -q '^hello_model: 3 frames, first frame [0-9.]* ms' <<<"$out" || fail "hello_model: $out"
  echo "$out" | tail -n 1
done
if "$work/convert_batch/convert_batch" "$work/none.x" >/dev/null 2>&1; then
  fail "convert_batch succeeded on a missing file"
fi

echo "-- the Debian package"
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/wz_*.deb)
grep -q libjpeg62-turbo <<<"$(dpkg-deb -f "$deb" Depends)" || fail "the package names no dependencies"
dpkg -x "$deb" "$work/root"
[ -f "$work/root/usr/share/wz/Data/System/HLSL/HLSL_3D.fx" ] || fail "no data in the package"
# From another folder, with only the package's data (the build's Data is nowhere near).
cd /
out=$("$work/root/usr/bin/wz-convert" info "${models[0]}")
grep -q ' polygons' <<<"$out" || fail "packaged wz-convert info: $out"
"$work/root/usr/bin/wz-convert" render --shader --size 64x48 -o "$work/shader.png" "${models[1]}" \
  >/dev/null || fail "the packaged wz-convert found no effect files"
echo "$out"
echo "check-install: ok ($(basename "$deb"))"
