// libFuzzer harness for the image decoders: any bytes go through the texture creation the texture
// table uses (D3DX_DEFAULT sizes, full chain, colour key), then the results are checked against
// each other, and a decode sampled while reading against the whole decode.
// Seeds: scripts/make-image-seeds.sh writes the test fixtures to fuzz-corpus/images.
// Run: build-fuzz/bin/fuzz_image_decode -max_total_time=60 fuzz-corpus/images
// Replay one input: build-fuzz/bin/fuzz_image_decode crash-file
// Inputs announcing more than 4 million pixels are skipped after the header check, to keep each
// run fast; the size limit itself is covered by the unit tests.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/d3dx/texture_file.h"

using namespace wz;

// Keeps the texel reads alive.
unsigned g_sink = 0;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  d3dx::D3DXIMAGE_INFO header{};
  const bool headerOk = Succeeded(d3dx::D3DXGetImageInfoFromFileInMemory(bytes, &header));
  if (headerOk) {
    Check(header.Width >= 1 && header.Width <= d3dx::kMaxImageSide);
    Check(header.Height >= 1 && header.Height <= d3dx::kMaxImageSide);
    if (uint64_t{header.Width} * header.Height > (uint64_t{1} << 22)) return 0;
  }

  std::shared_ptr<d3d::Texture> texture;
  d3dx::D3DXIMAGE_INFO info{};
  d3dx::ImageError reason = d3dx::ImageError::kNone;
  HRESULT hr = d3dx::D3DXCreateTextureFromFileInMemoryEx(
      nullptr, bytes, D3DX_DEFAULT, D3DX_DEFAULT, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
      D3DX_FILTER_POINT, D3DX_FILTER_POINT, 0xFF000000, &info, nullptr, &texture, &reason);
  if (Failed(hr)) {
    Check(texture == nullptr);
    Check(reason != d3dx::ImageError::kNone || size == 0);
    return 0;
  }
  // A decoded file has a readable header that says the same.
  Check(headerOk);
  Check(std::memcmp(&header, &info, sizeof info) == 0);
  Check(texture->LevelWidth(0) == d3dx::NextPowerOfTwo(info.Width));
  Check(texture->LevelHeight(0) == d3dx::NextPowerOfTwo(info.Height));
  Check(texture->GetLevelCount() ==
        d3d::FullMipChainLength(texture->LevelWidth(0), texture->LevelHeight(0)));
  // Touch every level through the lock, as the texture's users do.
  unsigned sum = 0;
  for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
    d3d::D3DLOCKED_RECT r{};
    Check(Succeeded(texture->LockRect(level, &r, nullptr, D3DLOCK_READONLY)));
    const uint8_t* p = static_cast<const uint8_t*>(r.pBits);
    for (UINT y = 0; y < texture->LevelHeight(level); ++y) {
      sum += p[size_t(r.Pitch) * y] + p[size_t(r.Pitch) * y + texture->LevelWidth(level) * 4 - 1];
    }
    Check(Succeeded(texture->UnlockRect(level)));
  }
  // Sampling while decoding gives the pixels of the whole image at the sampled places (every
  // second column, rows at 3/2 steps, some past the image).
  d3dx::DecodedImage whole, sampled;
  Check(d3dx::DecodeImage(bytes, whole) == d3dx::ImageError::kNone);
  d3dx::SampleMap map;
  for (uint32_t x = 0; x <= info.Width / 2; ++x)
    map.columns.push_back(2 * x);
  for (uint32_t y = 0; y <= info.Height; ++y)
    map.rows.push_back(y * 3 / 2);
  Check(d3dx::DecodeImageSampled(bytes, map, sampled) == d3dx::ImageError::kNone);
  for (size_t y = 0; y < map.rows.size(); ++y) {
    for (size_t x = 0; x < map.columns.size(); ++x) {
      const bool inside = map.columns[x] < info.Width && map.rows[y] < info.Height;
      const uint8_t* got = &sampled.pixels[(y * map.columns.size() + x) * 4];
      const uint8_t zero[4] = {0, 0, 0, 0};
      const uint8_t* want =
          inside ? &whole.pixels[(size_t{map.rows[y]} * info.Width + map.columns[x]) * 4] : zero;
      Check(std::memcmp(got, want, 4) == 0);
    }
  }
  // The saved level 0 reads back at the texture's size.
  std::vector<uint8_t> bmp;
  Check(Succeeded(d3dx::D3DXSaveTextureToFileInMemory(&bmp, D3DXIFF_BMP, texture.get(), nullptr)));
  d3dx::DecodedImage back;
  Check(d3dx::DecodeImage(bmp, back) == d3dx::ImageError::kNone);
  Check(back.info.Width == texture->LevelWidth(0));
  g_sink += sum;
  return 0;
}
