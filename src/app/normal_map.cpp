// The normal-map conversion.
#include "app/normal_map.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace wz {
namespace {

using Cell = std::array<int32_t, 4>;

// For each of the 256 cells along one axis, the last source index whose scaled position falls
// into it (-1 when none does). Only that pixel survives the scatter, since a later pixel
// overwrites an earlier one, so the scatter reads at most 256 x 256 source pixels.
std::array<int, kNormalMapSize> LastSourceIndex(int sourceSize) {
  std::array<int, kNormalMapSize> last;
  last.fill(-1);
  const double scale = 256.0 / sourceSize;
  for (int i = 0; i < sourceSize; ++i)
    last[static_cast<size_t>(static_cast<int>(i * scale))] = i;
  return last;
}

}  // namespace

std::vector<uint8_t> ComputeNormalMap(const uint8_t* pixels, int width, int height, size_t pitch) {
  constexpr int n = kNormalMapSize;
  // Height cells (blue, green, red, 255); cells no pixel reaches stay zero.
  std::vector<Cell> heights(size_t(n) * n, Cell{0, 0, 0, 0});
  const auto lastX = LastSourceIndex(width);
  const auto lastY = LastSourceIndex(height);
  for (int gy = 0; gy < n; ++gy) {
    if (lastY[size_t(gy)] < 0) continue;
    const uint8_t* row = pixels + size_t(lastY[size_t(gy)]) * pitch;
    for (int gx = 0; gx < n; ++gx) {
      if (lastX[size_t(gx)] < 0) continue;
      const uint8_t* p = row + size_t(lastX[size_t(gx)]) * 4;
      heights[size_t(gy) * n + gx] = Cell{p[0], p[1], p[2], 255};
    }
  }
  std::vector<uint8_t> out(size_t(n) * n * 4);
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      Cell cell = heights[size_t(r) * n + c];
      if (c < n - 1) {
        cell[0] = std::clamp(cell[0] - heights[size_t(r) * n + c + 1][0] + 128, 0, 255);
      }
      if (r < n - 1) {
        cell[1] = std::clamp(heights[size_t(r + 1) * n + c][1] - cell[1] + 128, 0, 255);
      }
      uint8_t* o = &out[(size_t(r) * n + c) * 4];
      o[0] = 255;                            // blue  = n2
      o[1] = static_cast<uint8_t>(cell[1]);  // green = n1
      o[2] = static_cast<uint8_t>(cell[0]);  // red   = n0
      o[3] = 255;                            // alpha = n3
    }
  }
  return out;
}

}  // namespace wz

#include "core/library.h"
#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/texture_file.h"
#include "platform/file_io.h"

namespace wz {

namespace {

// Why the height map did not load, for the person who ran the program.
std::string LoadFailure(const std::string& input) {
  platform::FileId id;
  if (!platform::GetFileId(input, id)) return "no such file";
  std::vector<uint8_t> bytes;
  if (!platform::FileExists(input) || !platform::ReadFileBytes(input, bytes)) {
    return "the file cannot be read";
  }
  d3dx::DecodedImage image;
  const d3dx::ImageError e = d3dx::DecodeImage(bytes, image);
  if (e != d3dx::ImageError::kNone) {
    return std::string("not an image that can be read (") + d3dx::ImageErrorText(e) + ")";
  }
  return "the image cannot be made into a texture";
}

}  // namespace

std::string RunNormalMapConversion(Library& library, const std::string& directory) {
  const std::string input = directory + "/WZ_Heightmap.jpg";
  const int32_t index = library.Texture_LoadWithId(input.c_str());
  d3d::Texture* source = index < 0 ? nullptr : library.Texture_Entry(index).texture.get();
  if (!source) return platform::DisplayPath(input) + ": " + LoadFailure(input);

  d3d::D3DSURFACE_DESC desc;
  d3d::D3DLOCKED_RECT locked;
  if (Failed(source->GetLevelDesc(0, &desc)) || Failed(source->LockRect(0, &locked, nullptr, 0))) {
    return platform::DisplayPath(input) + ": the texture cannot be read";
  }
  std::vector<uint8_t> normals =
      ComputeNormalMap(static_cast<const uint8_t*>(locked.pBits), int(desc.Width), int(desc.Height),
                       size_t(locked.Pitch));
  source->UnlockRect(0);

  std::shared_ptr<d3d::Texture> output;
  const std::string outputPath = directory + "/WZ_Normalmap.BMP";
  if (Failed(d3dx::D3DXCreateTexture(library.Device(), kNormalMapSize, kNormalMapSize, 1, 0,
                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &output)) ||
      Failed(output->LockRect(0, &locked, nullptr, 0))) {
    return platform::DisplayPath(outputPath) + ": the normal map cannot be made";
  }
  for (int r = 0; r < kNormalMapSize; ++r) {
    std::memcpy(static_cast<uint8_t*>(locked.pBits) + size_t(r) * size_t(locked.Pitch),
                &normals[size_t(r) * kNormalMapSize * 4], kNormalMapSize * 4);
  }
  output->UnlockRect(0);
  // A failed write is reported: a missing map is not a success.
  if (Failed(
          d3dx::D3DXSaveTextureToFileA(outputPath.c_str(), D3DXIFF_BMP, output.get(), nullptr))) {
    return platform::DisplayPath(outputPath) + ": cannot be written";
  }
  return {};
}

}  // namespace wz
