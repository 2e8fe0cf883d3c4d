// D3DX texture creation from image files, empty texture creation, image info and BMP saving.
#include "platform/d3dx/texture_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/d3d/device.h"
#include "platform/file_io.h"

namespace wz::d3dx {
namespace {

static_assert(kMaxImageSide == d3d::kMaxTextureSide,
              "every decodable image must fit in a texture at its rounded size");

constexpr D3DFORMAT kFormatDefault = static_cast<D3DFORMAT>(D3DX_DEFAULT);

bool ValidFilter(DWORD filter) {
  if (filter == D3DX_DEFAULT) return true;
  DWORD kind = filter & 0xFF;
  return kind >= D3DX_FILTER_NONE && kind <= D3DX_FILTER_BOX;
}

// Texture formats a file can be loaded into; D3DFMT_UNKNOWN when the request cannot be met.
D3DFORMAT FileTextureFormat(D3DFORMAT requested) {
  switch (static_cast<uint32_t>(requested)) {
    case D3DFMT_UNKNOWN:
    case D3DX_DEFAULT:    // as a format
    case D3DX_FROM_FILE:  // D3DFMT_FROM_FILE: the file's own format is not kept
    case D3DFMT_A8R8G8B8:
      return D3DFMT_A8R8G8B8;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R8G8B8:
      return D3DFMT_X8R8G8B8;
    case D3DFMT_A4R4G4B4:
      return D3DFMT_A4R4G4B4;
    default:
      return D3DFMT_UNKNOWN;
  }
}

bool SideFromFile(UINT requested) {
  return requested == 0 || requested == D3DX_DEFAULT || requested == D3DX_DEFAULT_NONPOW2 ||
         requested == D3DX_FROM_FILE;
}

UINT TextureSide(UINT requested, UINT source) {
  if (requested == 0 || requested == D3DX_DEFAULT) return NextPowerOfTwo(source);
  if (requested == D3DX_DEFAULT_NONPOW2 || requested == D3DX_FROM_FILE) return source;
  return requested;
}

// The texture sides for a sw x sh image: sides taken from the file are halved together, keeping
// the picture's aspect, until each fits the device's largest texture.
void FitTextureSides(const d3d::Device* device, UINT requestedW, UINT requestedH, UINT sw, UINT sh,
                     UINT& tw, UINT& th) {
  tw = TextureSide(requestedW, sw);
  th = TextureSide(requestedH, sh);
  UINT maxW, maxH;
  LargestTextureSides(device, maxW, maxH);
  const bool fileW = SideFromFile(requestedW), fileH = SideFromFile(requestedH);
  while ((fileW && tw > maxW) || (fileH && th > maxH)) {
    if (fileW) tw = std::max(1u, tw / 2);
    if (fileH) th = std::max(1u, th / 2);
  }
}

// Which source pixel each texel of a tw x th level 0 takes: point sampling, or for
// D3DX_FILTER_NONE the source unscaled in the top-left corner and nothing elsewhere.
SampleMap LevelZeroMap(UINT sw, UINT sh, UINT tw, UINT th, bool unscaled) {
  SampleMap map;
  map.columns.resize(tw);
  map.rows.resize(th);
  if (unscaled) {
    for (UINT x = 0; x < tw; ++x)
      map.columns[x] = x < sw ? x : SampleMap::kNoSource;
    for (UINT y = 0; y < th; ++y)
      map.rows[y] = y < sh ? y : SampleMap::kNoSource;
    return map;
  }
  const PointSampler sampler(sw, sh, tw, th);
  for (UINT x = 0; x < tw; ++x)
    map.columns[x] = sampler.SourceColumn(x);
  for (UINT y = 0; y < th; ++y)
    map.rows[y] = sampler.SourceRow(y);
  return map;
}

// B,G,R,A bytes read as one little-endian word are exactly the ARGB value, so the key is
// compared a word at a time, four words per vector compare where the processor has them.
void ApplyColorKey(uint8_t* pixels, size_t count, D3DCOLOR key) {
  if (key == 0) return;
  static_assert(std::endian::native == std::endian::little);
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i k = _mm_set1_epi32(static_cast<int>(key));
  for (; i + 4 <= count; i += 4) {
    auto* p = reinterpret_cast<__m128i*>(pixels + i * 4);
    const __m128i v = _mm_loadu_si128(p);
    _mm_storeu_si128(p, _mm_andnot_si128(_mm_cmpeq_epi32(v, k), v));
  }
#endif
  for (; i < count; ++i) {
    uint32_t argb;
    std::memcpy(&argb, pixels + i * 4, 4);
    argb = argb == key ? 0u : argb;
    std::memcpy(pixels + i * 4, &argb, 4);
  }
}

// Writes a B,G,R,A image (rows width * 4 bytes) into a texture level of the texture's format.
void StoreLevel(d3d::Texture& t, UINT level, const uint8_t* bgra) {
  const UINT w = t.LevelWidth(level);
  const UINT h = t.LevelHeight(level);
  const size_t pitch = t.LevelPitch(level);
  uint8_t* bits = t.LevelBits(level).data();
  for (UINT y = 0; y < h; ++y) {
    const uint8_t* s = bgra + size_t{y} * w * 4;
    uint8_t* d = bits + size_t{y} * pitch;
    switch (t.Format()) {
      case D3DFMT_A8R8G8B8:
        std::memcpy(d, s, size_t{w} * 4);
        break;
      case D3DFMT_X8R8G8B8:
        for (UINT x = 0; x < w; ++x) {
          std::memcpy(d + x * 4, s + x * 4, 3);
          d[x * 4 + 3] = 255;
        }
        break;
      default: {  // A4R4G4B4, little-endian words
        for (UINT x = 0; x < w; ++x) {
          const uint8_t* p = s + x * 4;
          uint16_t v =
              uint16_t((p[3] >> 4) << 12 | (p[2] >> 4) << 8 | (p[1] >> 4) << 4 | p[0] >> 4);
          d[x * 2] = uint8_t(v);
          d[x * 2 + 1] = uint8_t(v >> 8);
        }
        break;
      }
    }
  }
}

// Reads level 0 of a texture as B,G,R,A rows of width * 4 bytes; false for other formats.
bool LoadLevel0(const d3d::Texture& t, std::vector<uint8_t>& out) {
  const D3DFORMAT f = t.Format();
  if (f != D3DFMT_A8R8G8B8 && f != D3DFMT_X8R8G8B8 && f != D3DFMT_A4R4G4B4) return false;
  const UINT w = t.LevelWidth(0);
  const UINT h = t.LevelHeight(0);
  const size_t pitch = t.LevelPitch(0);
  const uint8_t* bits = t.LevelBits(0).data();
  out.resize(size_t{w} * h * 4);
  for (UINT y = 0; y < h; ++y) {
    const uint8_t* s = bits + size_t{y} * pitch;
    uint8_t* d = &out[size_t{y} * w * 4];
    for (UINT x = 0; x < w; ++x, d += 4) {
      if (f == D3DFMT_A4R4G4B4) {
        uint16_t v = uint16_t(s[x * 2] | s[x * 2 + 1] << 8);
        d[0] = uint8_t((v & 0xF) * 17);
        d[1] = uint8_t((v >> 4 & 0xF) * 17);
        d[2] = uint8_t((v >> 8 & 0xF) * 17);
        d[3] = uint8_t((v >> 12) * 17);
      } else {
        std::memcpy(d, s + x * 4, 4);
        if (f == D3DFMT_X8R8G8B8) d[3] = 255;
      }
    }
  }
  return true;
}

void PutU16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = uint8_t(v >> (8 * i));
}

HRESULT ResultOf(ImageError e) {
  return e == ImageError::kNoMemory ? E_OUTOFMEMORY : D3DXERR_INVALIDDATA;
}

}  // namespace

void LargestTextureSides(const d3d::Device* device, UINT& width, UINT& height) {
  width = height = d3d::kMaxTextureSide;
  d3d::D3DCAPS9 caps;
  if (!device || Failed(device->GetDeviceCaps(&caps))) return;
  // A profile without a limit (0) takes what the stand-in device can hold.
  if (caps.MaxTextureWidth != 0) width = std::min<UINT>(caps.MaxTextureWidth, width);
  if (caps.MaxTextureHeight != 0) height = std::min<UINT>(caps.MaxTextureHeight, height);
}

UINT NextPowerOfTwo(UINT n) {
  return n <= 1 ? 1 : std::bit_ceil(n);
}

PointSampler::PointSampler(UINT srcWidth, UINT srcHeight, UINT dstWidth, UINT dstHeight)
    : srcWidth_(srcWidth),
      srcHeight_(srcHeight),
      dstWidth_(dstWidth),
      rowScale_(double(srcHeight) / dstHeight),
      columns_(dstWidth) {
  const double columnScale = double(srcWidth) / dstWidth;
  for (UINT x = 0; x < dstWidth; ++x) {
    columns_[x] = std::min(static_cast<UINT>(x * columnScale), srcWidth - 1);
  }
}

UINT PointSampler::SourceRow(UINT y) const {
  return std::min(static_cast<UINT>(y * rowScale_), srcHeight_ - 1);
}

void PointSampler::SampleRow(const uint8_t* s, uint8_t* d) const {
  if (srcWidth_ == dstWidth_) {  // every column maps to itself
    std::memcpy(d, s, size_t{dstWidth_} * 4);
  } else if (srcWidth_ == 2 * dstWidth_) {  // a mip level: every other column
    size_t x = 0;
#if defined(__SSE2__)
    // Four texels at a time: the even words of two 16-byte loads.
    for (; x + 4 <= dstWidth_; x += 4) {
      const __m128 a =
          _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x * 8)));
      const __m128 b =
          _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x * 8 + 16)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x * 4),
                       _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))));
    }
#endif
    for (; x < dstWidth_; ++x)
      std::memcpy(d + x * 4, s + x * 8, 4);
  } else {
    for (size_t x = 0; x < dstWidth_; ++x) {
      uint32_t texel;
      std::memcpy(&texel, s + size_t{columns_[x]} * 4, 4);
      std::memcpy(d + x * 4, &texel, 4);
    }
  }
}

void PointSample4(const uint8_t* src, UINT srcWidth, UINT srcHeight, size_t srcPitch, uint8_t* dst,
                  UINT dstWidth, UINT dstHeight, size_t dstPitch) {
  const PointSampler sampler(srcWidth, srcHeight, dstWidth, dstHeight);
  for (UINT y = 0; y < dstHeight; ++y) {
    sampler.SampleRow(src + size_t{sampler.SourceRow(y)} * srcPitch, dst + size_t{y} * dstPitch);
  }
}

namespace {

// Builds the smaller mip levels of an image while its rows arrive from the decoder: each new row
// of a level is sampled at once into the rows of the next level that take it, while it is still
// in cache. The result is exactly the chain of whole-level point sampling.
class MipCascade {
 public:
  // Allocates levels 1 .. levels - 1 of a width x height level 0.
  MipCascade(UINT width, UINT height, UINT levels) {
    for (UINT i = 1; i < levels; ++i) {
      const UINT w = std::max(1u, width / 2), h = std::max(1u, height / 2);
      levels_.push_back(Level{w, h, PointSampler(width, height, w, h), 0, {}});
      levels_.back().texels.resize(size_t{w} * h * 4);
      width = w;
      height = h;
    }
  }
  // Row y of level 0 is final. Rows come in order from the top, each once.
  void Level0Row(UINT y, const uint8_t* row) { Feed(0, y, row); }
  // Every row of every level has been made.
  bool Complete() const {
    return std::all_of(levels_.begin(), levels_.end(),
                       [](const Level& l) { return l.nextRow == l.height; });
  }
  std::vector<uint8_t> TakeLevel(UINT level) { return std::move(levels_.at(level - 1).texels); }

 private:
  struct Level {
    UINT width, height;
    PointSampler fromAbove;
    UINT nextRow;
    std::vector<uint8_t> texels;
  };
  // Row `y` of the level above levels_[i] is final.
  void Feed(size_t i, UINT y, const uint8_t* row) {
    if (i == levels_.size()) return;
    Level& l = levels_[i];
    for (; l.nextRow < l.height && l.fromAbove.SourceRow(l.nextRow) <= y; ++l.nextRow) {
      uint8_t* made = &l.texels[size_t{l.nextRow} * l.width * 4];
      l.fromAbove.SampleRow(row, made);
      Feed(i + 1, l.nextRow, made);
    }
  }

  std::vector<Level> levels_;
};

}  // namespace

std::vector<uint8_t> EncodeBmp32(UINT width, UINT height, const uint8_t* bgra, size_t pitch) {
  constexpr size_t kHeaderBytes = 54;
  const size_t rowBytes = size_t{width} * 4;
  const size_t fileSize = (kHeaderBytes + rowBytes * height + 3) / 4 * 4;
  std::vector<uint8_t> b(fileSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  PutU32(b, 2, static_cast<uint32_t>(fileSize));
  PutU32(b, 10, kHeaderBytes);
  PutU32(b, 14, 40);
  PutU32(b, 18, width);
  PutU32(b, 22, height);
  PutU16(b, 26, 1);
  PutU16(b, 28, 32);
  PutU32(b, 38, 2834);
  PutU32(b, 42, 2834);
  for (UINT y = 0; y < height; ++y) {
    std::memcpy(&b[kHeaderBytes + rowBytes * (height - 1 - y)], bgra + pitch * y, rowBytes);
  }
  return b;
}

HRESULT D3DXCreateTexture(d3d::Device* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, std::shared_ptr<d3d::Texture>* texture) {
  if (width == 0 || width == D3DX_DEFAULT) width = 256;
  if (height == 0 || height == D3DX_DEFAULT) height = 256;
  if (mipLevels == D3DX_DEFAULT) mipLevels = 0;
  mipLevels = std::min(mipLevels, d3d::FullMipChainLength(width, height));
  if (format == D3DFMT_UNKNOWN || format == kFormatDefault) format = D3DFMT_A8R8G8B8;
  if (format == D3DFMT_R8G8B8) format = D3DFMT_X8R8G8B8;
  return d3d::Texture::Create(device, width, height, mipLevels, usage, format, pool, texture);
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(d3d::Device* device, std::span<const uint8_t> srcData,
                                            UINT width, UINT height, UINT mipLevels, DWORD usage,
                                            D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                            DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY*,
                                            std::shared_ptr<d3d::Texture>* texture,
                                            ImageError* reason) {
  if (reason) *reason = ImageError::kNone;
  if (!texture) return D3DERR_INVALIDCALL;
  texture->reset();
  const D3DFORMAT textureFormat = FileTextureFormat(format);
  if (srcData.empty() || textureFormat == D3DFMT_UNKNOWN || !ValidFilter(filter) ||
      !ValidFilter(mipFilter)) {
    return D3DERR_INVALIDCALL;
  }
  // The header gives the sizes first, so the work on the pixels is planned before they are
  // decoded.
  D3DXIMAGE_INFO info;
  if (ImageError e = ReadImageInfo(srcData, info); e != ImageError::kNone) {
    if (reason) *reason = e;
    return ResultOf(e);
  }
  const UINT sw = info.Width;
  const UINT sh = info.Height;
  UINT tw, th;
  FitTextureSides(device, width, height, sw, sh, tw, th);
  if (tw > d3d::kMaxTextureSide || th > d3d::kMaxTextureSide) return D3DERR_INVALIDCALL;
  const UINT chain = d3d::FullMipChainLength(tw, th);
  UINT levels = mipLevels == 0 || mipLevels == D3DX_DEFAULT ? chain
                : mipLevels == D3DX_FROM_FILE               ? info.MipLevels
                                                            : mipLevels;
  levels = std::clamp(levels, 1u, chain);

  // Level 0 as B,G,R,A texels, colour-keyed. When the texture has the image's own size and
  // layout, the decoded pixels are level 0 as they are, and the smaller levels are sampled from
  // each decoded row while it is still in cache; every row is keyed as it arrives for the same
  // reason. Otherwise the image is sampled into level 0 while it is decoded (keying the texels
  // then is the same as keying the image first, since each texel is a copy of one pixel).
  const bool direct = textureFormat == D3DFMT_A8R8G8B8;
  const bool adopt = direct && tw == sw && th == sh;
  std::optional<MipCascade> cascade;
  DecodedImage image;
  try {
    ImageError e;
    if (adopt) {
      // The smaller levels are made once the first rows exist, so that a file whose header
      // claims a large image but whose data does not hold it fails before they take any memory.
      // Without memory for them they are sampled from level 0 afterwards.
      bool wantCascade = levels > 1;
      auto rowsDecoded = [&](uint8_t* pixels, uint32_t first, uint32_t count) {
        ApplyColorKey(pixels + size_t{first} * sw * 4, size_t{count} * sw, colorKey);
        if (wantCascade && !cascade) {
          try {
            cascade.emplace(sw, sh, levels);
          } catch (const std::bad_alloc&) {
            wantCascade = false;
          }
        }
        if (!cascade) return;
        for (uint32_t y = first; y < first + count; ++y)
          cascade->Level0Row(y, pixels + size_t{y} * sw * 4);
      };
      e = DecodeImage(srcData, image, rowsDecoded);
    } else {
      const bool unscaled = filter != D3DX_DEFAULT && (filter & 0xFF) == D3DX_FILTER_NONE;
      e = DecodeImageSampled(srcData, LevelZeroMap(sw, sh, tw, th, unscaled), image);
      if (e == ImageError::kNone) ApplyColorKey(image.pixels.data(), size_t{tw} * th, colorKey);
    }
    if (e != ImageError::kNone) {
      if (reason) *reason = e;
      return ResultOf(e);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (image.info.Width != sw || image.info.Height != sh) return D3DXERR_INVALIDDATA;

  // Texels ready for the first levels, moved into the texture as they are.
  std::vector<std::vector<uint8_t>> ready;
  if (direct) {
    ready.push_back(std::move(image.pixels));
    if (cascade && cascade->Complete()) {
      for (UINT i = 1; i < levels; ++i)
        ready.push_back(cascade->TakeLevel(i));
    }
  }
  cascade.reset();
  std::shared_ptr<d3d::Texture> t;
  HRESULT hr = d3d::Texture::Create(device, tw, th, levels, usage, textureFormat, pool, &t, ready);
  if (Failed(hr)) return hr;
  UINT adopted = 0;
  while (adopted < ready.size() && ready[adopted].empty())
    ++adopted;
  if (direct && adopted == 0) image.pixels = std::move(ready[0]);  // the texture did not take it
  try {
    // Levels are built as B,G,R,A. An A8R8G8B8 texture holds exactly that, so its own levels
    // are the working buffers; other formats go through a scratch copy per level.
    std::vector<uint8_t> scratch, previous;
    auto bgraLevel = [&](UINT i, std::vector<uint8_t>& buffer) -> std::pair<uint8_t*, size_t> {
      if (direct) return {t->LevelBits(i).data(), t->LevelPitch(i)};
      buffer.assign(size_t{t->LevelWidth(i)} * t->LevelHeight(i) * 4, 0);
      return {buffer.data(), size_t{t->LevelWidth(i)} * 4};
    };
    const uint8_t* above = nullptr;
    size_t abovePitch = 0;
    if (adopted > 0) {
      above = t->LevelBits(adopted - 1).data();
      abovePitch = t->LevelPitch(adopted - 1);
    } else {
      // Level 0 is in image.pixels, tw x th.
      std::swap(scratch, image.pixels);
      if (direct) {
        auto [top, topPitch] = bgraLevel(0, previous);
        for (UINT y = 0; y < th; ++y)
          std::memcpy(top + topPitch * y, &scratch[size_t{y} * tw * 4], size_t{tw} * 4);
        above = top;
        abovePitch = topPitch;
      } else {
        StoreLevel(*t, 0, scratch.data());
        above = scratch.data();
        abovePitch = size_t{tw} * 4;
      }
    }
    image.pixels = {};
    for (UINT i = std::max(adopted, 1u); i < levels; ++i) {
      std::swap(scratch, previous);  // `above` stays valid in `previous`
      auto [bits, pitch] = bgraLevel(i, scratch);
      PointSample4(above, t->LevelWidth(i - 1), t->LevelHeight(i - 1), abovePitch, bits,
                   t->LevelWidth(i), t->LevelHeight(i), pitch);
      if (!direct) StoreLevel(*t, i, bits);
      above = bits;
      abovePitch = pitch;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (srcInfo) *srcInfo = image.info;
  *texture = std::move(t);
  return S_OK;
}

HRESULT D3DXCreateTextureFromFileExA(d3d::Device* device, const char* srcFile, UINT width,
                                     UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                     D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                     D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                     std::shared_ptr<d3d::Texture>* texture, ImageError* reason) {
  if (reason) *reason = ImageError::kNone;
  if (texture) texture->reset();
  if (!srcFile || !texture) return D3DERR_INVALIDCALL;
  std::vector<uint8_t> bytes;
  if (!platform::ReadFileBytes(srcFile, bytes)) {
    if (reason) *reason = ImageError::kIo;
    return platform::FileExists(srcFile) ? D3DXERR_INVALIDDATA : HRESULT_FILE_NOT_FOUND;
  }
  if (bytes.empty()) {
    if (reason) *reason = ImageError::kTooShort;
    return D3DXERR_INVALIDDATA;
  }
  return D3DXCreateTextureFromFileInMemoryEx(device, bytes, width, height, mipLevels, usage, format,
                                             pool, filter, mipFilter, colorKey, srcInfo, palette,
                                             texture, reason);
}

HRESULT D3DXGetImageInfoFromFileInMemory(std::span<const uint8_t> srcData,
                                         D3DXIMAGE_INFO* srcInfo) {
  if (srcData.empty() || !srcInfo) return D3DERR_INVALIDCALL;
  D3DXIMAGE_INFO info;
  if (ImageError e = ReadImageInfo(srcData, info); e != ImageError::kNone) return ResultOf(e);
  *srcInfo = info;
  return S_OK;
}

HRESULT D3DXGetImageInfoFromFileA(const char* srcFile, D3DXIMAGE_INFO* srcInfo) {
  if (!srcFile || !srcInfo) return D3DERR_INVALIDCALL;
  std::vector<uint8_t> bytes;
  if (!platform::ReadFileBytes(srcFile, bytes)) {
    return platform::FileExists(srcFile) ? D3DXERR_INVALIDDATA : HRESULT_FILE_NOT_FOUND;
  }
  if (bytes.empty()) return D3DXERR_INVALIDDATA;
  return D3DXGetImageInfoFromFileInMemory(bytes, srcInfo);
}

HRESULT D3DXSaveTextureToFileInMemory(std::vector<uint8_t>* destBuf,
                                      D3DXIMAGE_FILEFORMAT destFormat, d3d::Texture* srcTexture,
                                      const PALETTEENTRY*) {
  if (!destBuf || !srcTexture) return D3DERR_INVALIDCALL;
  if (destFormat != D3DXIFF_BMP) return E_NOTIMPL;
  try {
    std::vector<uint8_t> pixels;
    if (!LoadLevel0(*srcTexture, pixels)) return D3DERR_INVALIDCALL;
    const UINT w = srcTexture->LevelWidth(0);
    *destBuf = EncodeBmp32(w, srcTexture->LevelHeight(0), pixels.data(), size_t{w} * 4);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT D3DXSaveTextureToFileA(const char* destFile, D3DXIMAGE_FILEFORMAT destFormat,
                               d3d::Texture* srcTexture, const PALETTEENTRY* srcPalette) {
  if (!destFile) return D3DERR_INVALIDCALL;
  std::vector<uint8_t> bytes;
  HRESULT hr = D3DXSaveTextureToFileInMemory(&bytes, destFormat, srcTexture, srcPalette);
  if (Failed(hr)) return hr;
  return platform::WriteFileAtomically(destFile, bytes) ? S_OK : E_FAIL;
}

}  // namespace wz::d3dx
