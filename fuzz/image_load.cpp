// Fuzzes ImageLoad over all its branches: the first byte picks the file name's extension (wzi,
// psd, or one the image-file loader handles), the rest is the file.
#include <cstdint>
#include <cstdlib>

#include "texture/texture_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* kNames[] = {"f.wzi", "f.psd", "f.PSD", "f.png", "f"};
  const char* name = kNames[data[0] % 5];
  // A short wzi file is valid and its missing pixels are zero, so a 17-byte input can ask for a
  // 16384 x 16384 texture; keep such runs out of the fuzzer's memory limit.
  if (data[0] % 5 == 0 && size >= 17) {
    auto le = [&](size_t at) {
      return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
             uint32_t(data[at + 3]) << 24;
    };
    if (uint64_t(le(9)) * le(13) > (uint64_t{1} << 22)) return 0;
  }
  std::shared_ptr<wz::d3d::Texture> place;
  wz::D3DXIMAGE_INFO info{};
  wz::ImageLoadFromMemory(nullptr, name, {data + 1, size - 1}, place, info, [](const char*) {});
  if (place) {
    // A texture always has a level at least as large as the reported image, up to the rounding.
    if (place->GetLevelCount() == 0 || place->LevelWidth(0) == 0) std::abort();
    if (info.Width == 0 || info.Height == 0) std::abort();
  } else if (info.Width != 0 || info.Height != 0) {
    std::abort();
  }
  return 0;
}
