// Image files into 32-bit pixels: BMP, JPEG, PNG, TGA and DDS, chosen by content (never by file
// name). A decode yields the description of the source file in a D3DXIMAGE_INFO and its top image
// as B,G,R,A bytes (the memory order of a D3DFMT_A8R8G8B8 texel), top row first, no row padding.
// Decoders: libjpeg for JPEG, libpng for PNG, libsquish for DXT blocks, our own for BMP, TGA and
// the DDS container. Every input is untrusted: sizes are checked from the header before anything
// is decoded or allocated, and a failure is a reason value, never a crash or a partial image.
// Limitations: DDS gives only its first surface (level 0, face +X or slice 0); no DX10 DDS, no
// 12-bit JPEG, no embedded JPEG/PNG in BMP; EXIF orientation and colour profiles are ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/win_types.h"

namespace wz::d3dx {

// The description of an image file. Format: D3DFMT_A8R8G8B8 when the source carries alpha (PNG
// with an alpha channel or tRNS, 32-bit TGA, 16-bit TGA with an alpha bit, grey+alpha TGA, BMP
// with an alpha mask), D3DFMT_X8R8G8B8 when it does not (JPEG of any colour space, opaque PNG,
// palette/16/24/32-bit BMP without an alpha mask, other TGA); DDS reports its own format (the
// FourCC for DXT files). MipLevels is 1 except for DDS; ResourceType is D3DRTYPE_TEXTURE except
// for DDS cube maps and volumes; Depth is 1 except for DDS volumes.
struct D3DXIMAGE_INFO {
  UINT Width;
  UINT Height;
  UINT Depth;
  UINT MipLevels;
  D3DFORMAT Format;
  D3DRESOURCETYPE ResourceType;
  D3DXIMAGE_FILEFORMAT ImageFileFormat;
};
static_assert(sizeof(D3DXIMAGE_INFO) == 28);

// Largest accepted width or height. It is the largest texture side a Direct3D 9 device reports
// (MaxTextureWidth/Height of the biggest adapters), so nothing larger could become a texture, and
// it bounds one decoded image to 16384 x 16384 x 4 bytes = 1 GiB whatever a header claims.
constexpr uint32_t kMaxImageSide = 16384;

// Why a file was refused.
enum class ImageError : uint8_t {
  kNone = 0,
  kUnknownFormat,  // no known signature and no valid TGA header
  kTooShort,       // the data ends before the header, palette or pixels it announces
  kBadHeader,      // a header field is impossible (zero size, bad field size, bad masks...)
  kUnsupported,    // a valid file of a variant we do not read (BMP JPEG payload, DX10 DDS...)
  kTooLarge,       // a side is above kMaxImageSide
  kCorrupt,        // the compressed data is inconsistent (RLE overrun, bad JPEG/PNG stream)
  kNoMemory,       // the pixel buffer could not be allocated
  kIo,             // the file could not be read
};

// A short English text for a reason, e.g. "truncated data".
const char* ImageErrorText(ImageError error);

struct DecodedImage {
  D3DXIMAGE_INFO info{};
  // info.Width * info.Height pixels of 4 bytes B,G,R,A, top row first, rows info.Width * 4 bytes.
  std::vector<uint8_t> pixels;
};

// The file format by its signature: PNG, DDS, JPEG, BMP ("BM"), in that order, then a valid TGA
// header. kUnknownFormat (as false) when none fits.
bool SniffImageFileFormat(std::span<const uint8_t> bytes, D3DXIMAGE_FILEFORMAT& format);

// Told that rows [first, first + count) of `pixels` (the whole image, rows Width * 4 bytes
// apart) are final, in order from the top, so work on them can be done while they are still in
// cache. JPEG reports each row as it is decoded; the other formats report the whole image once
// when it is complete. Rows reported before a decode fails are discarded with the image. The
// callback must not throw (it runs between calls into C decoding libraries).
using RowsDecoded = std::function<void(uint8_t* pixels, uint32_t first, uint32_t count)>;

// Decodes the file, calling `rowsDecoded` (when given) as rows become final. On failure `out`
// is left empty (info zero, no pixels).
ImageError DecodeImage(std::span<const uint8_t> bytes, DecodedImage& out,
                       const RowsDecoded& rowsDecoded = nullptr);

// Reads only the header: the same description DecodeImage gives, without decoding the pixels
// (a file whose pixel data is damaged may pass here and fail DecodeImage). Nothing is allocated
// in proportion to the picture, so the size of any image costs next to nothing.
ImageError ReadImageInfo(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info);

// The pixels a picture takes from an image: pixel (x, y) of the picture is pixel (columns[x],
// rows[y]) of the image, or transparent black (0, 0, 0, 0) where either is kNoSource or lies
// outside the image. Each list never decreases (kNoSource entries therefore come last).
struct SampleMap {
  static constexpr uint32_t kNoSource = UINT32_MAX;
  std::vector<uint32_t> columns;
  std::vector<uint32_t> rows;
};

// Decodes the file into the picture `map` describes: out.pixels holds columns.size() x
// rows.size() pixels, out.info describes the file as DecodeImage does. The pixels are exactly
// those DecodeImage followed by the map gives, but only the picture and a few rows of the image
// are held while decoding, so a large image becomes a small picture at the small picture's cost.
ImageError DecodeImageSampled(std::span<const uint8_t> bytes, const SampleMap& map,
                              DecodedImage& out);

}  // namespace wz::d3dx
