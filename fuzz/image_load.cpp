// Fuzzes ImageLoad over all its branches: the first byte picks the file name's extension (wzi,
// psd, or one the image-file loader handles), the rest is the file.
#include <cstdint>
#include <cstdlib>

#include "texture/texture_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* kNames[] = {"f.wzi", "f.psd", "f.PSD", "f.png", "f"};
  const char* name = kNames[data[0] % 5];
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
