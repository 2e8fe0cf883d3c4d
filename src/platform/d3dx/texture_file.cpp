// D3DX texture creation from image files, empty texture creation, image info and BMP saving.
#include "platform/d3dx/texture_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

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

UINT TextureSide(UINT requested, UINT source) {
  if (requested == 0 || requested == D3DX_DEFAULT) return NextPowerOfTwo(source);
  if (requested == D3DX_DEFAULT_NONPOW2 || requested == D3DX_FROM_FILE) return source;
  return requested;
}

// B,G,R,A bytes read as one little-endian word are exactly the ARGB value, so the key is
// compared a word at a time (a loop the compiler vectorises).
void ApplyColorKey(std::vector<uint8_t>& pixels, D3DCOLOR key) {
  if (key == 0) return;
  static_assert(std::endian::native == std::endian::little);
  const size_t n = pixels.size() / 4;
  uint8_t* base = pixels.data();
  for (size_t i = 0; i < n; ++i) {
    uint32_t argb;
    std::memcpy(&argb, base + i * 4, 4);
    argb = argb == key ? 0u : argb;
    std::memcpy(base + i * 4, &argb, 4);
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

UINT NextPowerOfTwo(UINT n) {
  return n <= 1 ? 1 : std::bit_ceil(n);
}

void PointSample4(const uint8_t* src, UINT srcWidth, UINT srcHeight, size_t srcPitch, uint8_t* dst,
                  UINT dstWidth, UINT dstHeight, size_t dstPitch) {
  const double sx = double(srcWidth) / dstWidth;
  const double sy = double(srcHeight) / dstHeight;
  std::vector<UINT> columns(dstWidth);
  for (UINT x = 0; x < dstWidth; ++x) {
    columns[x] = std::min(static_cast<UINT>(x * sx), srcWidth - 1);
  }
  for (UINT y = 0; y < dstHeight; ++y) {
    const uint8_t* s = src + size_t{std::min(static_cast<UINT>(y * sy), srcHeight - 1)} * srcPitch;
    uint8_t* d = dst + size_t{y} * dstPitch;
    if (srcWidth == dstWidth) {  // every column maps to itself
      std::memcpy(d, s, size_t{dstWidth} * 4);
      continue;
    }
    for (UINT x = 0; x < dstWidth; ++x) {
      uint32_t texel;
      std::memcpy(&texel, s + size_t{columns[x]} * 4, 4);
      std::memcpy(d + size_t{x} * 4, &texel, 4);
    }
  }
}

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
  DecodedImage image;
  if (ImageError e = DecodeImage(srcData, image); e != ImageError::kNone) {
    if (reason) *reason = e;
    return ResultOf(e);
  }
  ApplyColorKey(image.pixels, colorKey);

  const UINT sw = image.info.Width;
  const UINT sh = image.info.Height;
  const UINT tw = TextureSide(width, sw);
  const UINT th = TextureSide(height, sh);
  if (tw > d3d::kMaxTextureSide || th > d3d::kMaxTextureSide) return D3DERR_INVALIDCALL;
  const UINT chain = d3d::FullMipChainLength(tw, th);
  UINT levels = mipLevels == 0 || mipLevels == D3DX_DEFAULT ? chain
                : mipLevels == D3DX_FROM_FILE               ? image.info.MipLevels
                                                            : mipLevels;
  levels = std::clamp(levels, 1u, chain);

  // When the texture has the image's own size and layout, the decoded pixels become level 0.
  // (Point sampling and the unscaled copy both leave a same-size image unchanged.)
  const bool adopt = textureFormat == D3DFMT_A8R8G8B8 && tw == sw && th == sh;
  std::shared_ptr<d3d::Texture> t;
  HRESULT hr = d3d::Texture::Create(device, tw, th, levels, usage, textureFormat, pool, &t,
                                    adopt ? &image.pixels : nullptr);
  if (Failed(hr)) return hr;
  const bool adopted = adopt && image.pixels.empty();
  try {
    // Levels are built as B,G,R,A. An A8R8G8B8 texture holds exactly that, so its own levels
    // are the working buffers; other formats go through a scratch copy per level.
    const bool direct = textureFormat == D3DFMT_A8R8G8B8;
    std::vector<uint8_t> scratch, previous;
    auto bgraLevel = [&](UINT i, std::vector<uint8_t>& buffer) -> std::pair<uint8_t*, size_t> {
      if (direct) return {t->LevelBits(i).data(), t->LevelPitch(i)};
      buffer.assign(size_t{t->LevelWidth(i)} * t->LevelHeight(i) * 4, 0);
      return {buffer.data(), size_t{t->LevelWidth(i)} * 4};
    };
    auto [top, topPitch] = bgraLevel(0, scratch);
    if (adopted) {
      // Level 0 already holds the image.
    } else if (filter != D3DX_DEFAULT && (filter & 0xFF) == D3DX_FILTER_NONE) {
      for (UINT y = 0; y < std::min(sh, th); ++y) {
        std::memcpy(top + topPitch * y, &image.pixels[size_t{y} * sw * 4],
                    size_t{std::min(sw, tw)} * 4);
      }
    } else {
      PointSample4(image.pixels.data(), sw, sh, size_t{sw} * 4, top, tw, th, topPitch);
    }
    image.pixels = {};
    if (!direct) StoreLevel(*t, 0, top);
    const uint8_t* above = top;
    size_t abovePitch = topPitch;
    for (UINT i = 1; i < levels; ++i) {
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
