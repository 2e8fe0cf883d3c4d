// Textures from image files and back: the D3DX texture functions of the library, over the image
// decoders of image_decode.h and the texture of platform/d3d/texture.h.
// Loading decodes by content, applies the colour key to the source pixels, sizes the texture
// (D3DX_DEFAULT or 0: the source size rounded up to a power of two), fills level 0 by point
// sampling and every lower level by point sampling the level above. Every filter other than
// D3DX_FILTER_NONE is carried out as point sampling. Texture formats from files: A8R8G8B8 (also
// for D3DFMT_UNKNOWN), X8R8G8B8 (also for R8G8B8) and A4R4G4B4. The palette arguments are
// accepted and not used (no palettised textures). Saving writes 32-bit BMP files only.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/d3d/texture.h"
#include "platform/d3dx/image_decode.h"
#include "platform/win_types.h"

namespace wz::d3dx {

// An empty texture. Width or height D3DX_DEFAULT (or 0) means 256; sizes are kept as given
// otherwise (no rounding: the stand-in device takes any size). mipLevels 0 or D3DX_DEFAULT: full
// chain; more than the full chain: the full chain. Format D3DFMT_UNKNOWN: A8R8G8B8; R8G8B8:
// X8R8G8B8. Other failures as d3d::Texture::Create.
HRESULT D3DXCreateTexture(d3d::Device* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, std::shared_ptr<d3d::Texture>* texture);

// A texture from an image file in memory.
// - width, height: 0 or D3DX_DEFAULT: the source side rounded up to a power of two;
//   D3DX_DEFAULT_NONPOW2 or D3DX_FROM_FILE: the source side; otherwise the given side. Sides
//   taken from the source that exceed the device's MaxTextureWidth / MaxTextureHeight are
//   halved, all together so that the picture keeps its aspect, until they fit (a null device
//   takes any side up to d3d::kMaxTextureSide). Such a texture costs what it holds: the image is
//   sampled while it is decoded and never held whole.
// - mipLevels: 0 or D3DX_DEFAULT: the full chain down to 1 x 1; D3DX_FROM_FILE: the source's
//   count; more than the full chain: the full chain.
// - filter, mipFilter: D3DX_DEFAULT or D3DX_FILTER_NONE..BOX in the low byte (flag bits above
//   are ignored). D3DX_FILTER_NONE as filter copies the source unscaled to the top-left corner
//   (texels outside it are transparent black); anything else samples texel (x, y) of a tw x th
//   level from source pixel (trunc(x * (sw / tw)), trunc(y * (sh / th))), in double precision.
// - colorKey: 0 disables it; otherwise every source pixel whose ARGB value equals it exactly
//   becomes transparent black (0x00000000) before scaling.
// - srcInfo (may be null): the description of the source file, set only on success.
// - reason (may be null): why the data was refused (kNone when the failure was not the data's).
// Results: S_OK; D3DERR_INVALIDCALL for a null texture place, empty data, bad arguments or
// a requested side above the largest texture; D3DXERR_INVALIDDATA when the data is not a
// readable image; E_OUTOFMEMORY when memory runs out.
HRESULT D3DXCreateTextureFromFileInMemoryEx(d3d::Device* device, std::span<const uint8_t> srcData,
                                            UINT width, UINT height, UINT mipLevels, DWORD usage,
                                            D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                            DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                            std::shared_ptr<d3d::Texture>* texture,
                                            ImageError* reason = nullptr);

// As above, reading a file by its library path (platform/file_io.h). A file that does not exist
// gives HRESULT_FILE_NOT_FOUND, one that cannot be read D3DXERR_INVALIDDATA (reason kIo); a null
// path D3DERR_INVALIDCALL.
HRESULT D3DXCreateTextureFromFileExA(d3d::Device* device, const char* srcFile, UINT width,
                                     UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                     D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                     D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                     std::shared_ptr<d3d::Texture>* texture,
                                     ImageError* reason = nullptr);

// The description of an image file from its header. D3DERR_INVALIDCALL for empty data or a null
// `srcInfo`, D3DXERR_INVALIDDATA when the header is not readable.
HRESULT D3DXGetImageInfoFromFileInMemory(std::span<const uint8_t> srcData, D3DXIMAGE_INFO* srcInfo);
HRESULT D3DXGetImageInfoFromFileA(const char* srcFile, D3DXIMAGE_INFO* srcInfo);

// Level 0 of the texture as an image file; only D3DXIFF_BMP (32-bit, see EncodeBmp32) is
// written, other file formats give E_NOTIMPL. Textures of format A8R8G8B8, X8R8G8B8 (alpha
// written as 255) and A4R4G4B4 can be saved; others, or a null texture, give
// D3DERR_INVALIDCALL. The palette is not used.
HRESULT D3DXSaveTextureToFileInMemory(std::vector<uint8_t>* destBuf,
                                      D3DXIMAGE_FILEFORMAT destFormat, d3d::Texture* srcTexture,
                                      const PALETTEENTRY* srcPalette);
// As above, written to a library path through a temporary file that replaces the target; E_FAIL
// when the file cannot be written (the old file is then left as it was).
HRESULT D3DXSaveTextureToFileA(const char* destFile, D3DXIMAGE_FILEFORMAT destFormat,
                               d3d::Texture* srcTexture, const PALETTEENTRY* srcPalette);

// Helpers shared with the texture table's own loaders.

// The largest texture sides `device` takes (its MaxTextureWidth / MaxTextureHeight, at most
// d3d::kMaxTextureSide); d3d::kMaxTextureSide for a null device.
void LargestTextureSides(const d3d::Device* device, UINT& width, UINT& height);

// The smallest power of two >= n (1 for 0); n must be at most 2^31.
UINT NextPowerOfTwo(UINT n);

// Point sampling of 4-byte pixels from a srcWidth x srcHeight image into a dstWidth x dstHeight
// one: destination pixel (x, y) takes source pixel (trunc(x * (srcWidth / dstWidth)),
// trunc(y * (srcHeight / dstHeight))), computed in double precision. Row by row, so a row can
// be sampled as soon as its source row exists. All sides must be at least 1.
class PointSampler {
 public:
  PointSampler(UINT srcWidth, UINT srcHeight, UINT dstWidth, UINT dstHeight);
  // The source row that destination row y takes; it never decreases as y grows.
  UINT SourceRow(UINT y) const;
  // The source column that destination column x takes; it never decreases as x grows.
  UINT SourceColumn(UINT x) const { return columns_[x]; }
  // Fills one destination row (dstWidth pixels) from its source row (srcWidth pixels).
  void SampleRow(const uint8_t* srcRow, uint8_t* dstRow) const;

 private:
  UINT srcWidth_, srcHeight_, dstWidth_;
  double rowScale_;
  std::vector<UINT> columns_;  // the source column of each destination column
};

// Fills a whole destination image with PointSampler. Pitches are in bytes.
void PointSample4(const uint8_t* src, UINT srcWidth, UINT srcHeight, size_t srcPitch, uint8_t* dst,
                  UINT dstWidth, UINT dstHeight, size_t dstPitch);

// A 32-bit BMP file: 14-byte file header and 40-byte info header (BI_RGB, image size 0, 2834
// pixels per metre, no palette), rows bottom-up, pixels B,G,R,A as given, and zero bytes up to
// a file size that is a multiple of 4 (the size field holds the rounded size).
std::vector<uint8_t> EncodeBmp32(UINT width, UINT height, const uint8_t* bgra, size_t pitch);

}  // namespace wz::d3dx
