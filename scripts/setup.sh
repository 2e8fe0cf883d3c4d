#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing. Quiet when all are there.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  clang libclang-rt-14-dev            # fuzz harnesses (libFuzzer) and their sanitizers
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libbz2-dev
  libsquish-dev                       # DXT blocks of DDS images
  assimp-utils                        # independent X reader used by the X writer's tests
  assimp-testmodels libassimp-dev     # third-party sample models for reader tests; in-process comparison benchmarks
  ccache                              # compiler cache for repeated builds
  hyperfine linux-perf valgrind       # whole-process timings (scripts/bench-startup.sh) and profiles
  libegl-dev libgl1-mesa-dri libepoxy-dev   # OpenGL 3.3 through EGL (llvmpipe when headless)
  libfreetype-dev libfontconfig-dev   # text: glyphs and font lookup
  fonts-ipafont-mincho fonts-liberation2
  libsdl2-dev xvfb xauth              # desktop window backend and its tests under Xvfb
  libtinyobjloader-dev libtinygltf-dev  # OBJ reading, glTF container
  nlohmann-json3-dev                  # glTF documents
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
