// PNG decoder over libpng's low-level read API: every colour type and bit depth, Adam7
// interlacing, tRNS (palette alpha or colour key) become B,G,R,A. No gamma or colour-profile
// correction: samples are taken as stored; 16-bit samples are scaled to 8 bits with rounding.
// libpng's errors end in longjmp back to the small functions below, which hold no C++ objects,
// and the read structures are always destroyed. The data must run to the IEND chunk: a truncated
// file is refused. Ancillary chunks are bounded by libpng's chunk size and count limits. Before
// any pixel buffer exists, the IDAT chunks must be large enough to hold the image: deflate expands
// data at most 1032 times, so a file of a few bytes claiming 16384 x 16384 fails small.
#include <png.h>

#include <csetjmp>
#include <new>

#include "platform/d3dx/image_codec.h"

namespace wz::d3dx::codec {
namespace {

constexpr png_alloc_size_t kMaxChunkBytes = 8000000;
constexpr uint64_t kMaxDeflateRatio = 1032;  // 258 bytes from two bits at best

// The bytes of all IDAT chunks of the file, by the chunk lengths (up to IEND or the end).
uint64_t IdatBytes(std::span<const uint8_t> bytes) {
  uint64_t total = 0;
  size_t pos = 8;
  while (pos <= bytes.size() && bytes.size() - pos >= 12) {
    const uint32_t length = uint32_t(bytes[pos]) << 24 | uint32_t(bytes[pos + 1]) << 16 |
                            uint32_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
    const uint8_t* type = &bytes[pos + 4];
    if (std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "IDAT", 4) == 0) total += length;
    if (uint64_t{length} + 12 > bytes.size() - pos) break;
    pos += size_t{length} + 12;
  }
  return total;
}
constexpr png_uint_32 kMaxCachedChunks = 1000;

struct PngSession {
  png_structp png;
  png_infop info;
  const uint8_t* data;
  size_t size;
  size_t pos;
  bool truncated;
};

void ReadData(png_structp png, png_bytep out, size_t n) {
  auto* s = static_cast<PngSession*>(png_get_io_ptr(png));
  if (n > s->size - s->pos) {
    s->truncated = true;
    png_error(png, "truncated");
  }
  std::memcpy(out, s->data + s->pos, n);
  s->pos += n;
}

void Error(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void Warning(png_structp, png_const_charp) {}

// Reads the chunks up to the first IDAT. False on any libpng error.
bool ReadHeader(PngSession& s) {
  if (setjmp(png_jmpbuf(s.png))) return false;
  png_set_read_fn(s.png, &s, ReadData);
  // Sizes are capped by the caller after the header, with its own reason.
  png_set_user_limits(s.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(s.png, kMaxChunkBytes);
  png_set_chunk_cache_max(s.png, kMaxCachedChunks);
  png_read_info(s.png, s.info);
  return true;
}

// Decodes all rows into the sink and reads to IEND. An interlaced image comes as the seven
// reduced images of its passes; each pixel is in exactly one pass, so every pass row goes to its
// pixels of the image at once and no row is held for a later pass.
bool Decode(PngSession& s, ImageSink& sink, uint8_t* row, uint32_t width, uint32_t height) {
  if (setjmp(png_jmpbuf(s.png))) return false;
  png_set_expand(s.png);  // palette to RGB, grey below 8 bits to 8, tRNS to alpha
  png_set_scale_16(s.png);
  png_set_gray_to_rgb(s.png);
  png_set_bgr(s.png);
  png_set_add_alpha(s.png, 0xFF, PNG_FILLER_AFTER);
  png_read_update_info(s.png, s.info);
  const size_t pitch = size_t{width} * 4;
  if (png_get_rowbytes(s.png, s.info) != pitch) png_error(s.png, "unexpected row size");
  if (png_get_interlace_type(s.png, s.info) == PNG_INTERLACE_NONE) {
    for (uint32_t y = 0; y < height; ++y) {
      png_read_row(s.png, sink.Row(y), nullptr);
      sink.RowDone(y);
    }
  } else {
    // libpng leaves out the passes that hold no pixel of a small image.
    for (int pass = 0; pass < 7; ++pass) {
      const uint32_t columns = PNG_PASS_COLS(width, pass);
      const uint32_t rows = PNG_PASS_ROWS(height, pass);
      if (columns == 0 || rows == 0) continue;
      for (uint32_t j = 0; j < rows; ++j) {
        png_read_row(s.png, row, nullptr);
        sink.PutPixels(PNG_ROW_FROM_PASS_ROW(j, pass), row, PNG_PASS_START_COL(pass),
                       1u << PNG_PASS_COL_SHIFT(pass), columns);
      }
    }
  }
  png_read_end(s.png, nullptr);
  return true;
}

}  // namespace

bool LooksLikePng(std::span<const uint8_t> bytes) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

ImageError DecodePng(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink) {
  PngSession s{};
  s.data = bytes.data();
  s.size = bytes.size();
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, Error, Warning);
  if (s.png) s.info = png_create_info_struct(s.png);
  ImageError result = ImageError::kNone;
  if (!s.png || !s.info) {
    result = ImageError::kNoMemory;
  } else if (!ReadHeader(s)) {
    result = s.truncated ? ImageError::kTooShort : ImageError::kCorrupt;
  } else {
    uint32_t width = png_get_image_width(s.png, s.info);
    uint32_t height = png_get_image_height(s.png, s.info);
    result = CheckImageSize(width, height);
    // The image's samples, without the filter bytes, as the least the IDAT data must expand to.
    const uint64_t bits =
        uint64_t{png_get_channels(s.png, s.info)} * png_get_bit_depth(s.png, s.info);
    if (result == ImageError::kNone &&
        (uint64_t{width} * height * bits + 7) / 8 > IdatBytes(bytes) * kMaxDeflateRatio) {
      result = ImageError::kTooShort;
    }
    if (result == ImageError::kNone) {
      bool alpha = (png_get_color_type(s.png, s.info) & PNG_COLOR_MASK_ALPHA) != 0 ||
                   png_get_valid(s.png, s.info, PNG_INFO_tRNS) != 0;
      info = MakeInfo(width, height, alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, D3DXIFF_PNG);
      std::vector<uint8_t> passRow;
      if (sink) result = sink->Start(width, height);
      if (sink && result == ImageError::kNone &&
          png_get_interlace_type(s.png, s.info) != PNG_INTERLACE_NONE) {
        try {
          passRow.resize(size_t{width} * 4);
        } catch (const std::bad_alloc&) {
          result = ImageError::kNoMemory;
        }
      }
      if (sink && result == ImageError::kNone && !Decode(s, *sink, passRow.data(), width, height)) {
        result = s.truncated ? ImageError::kTooShort : ImageError::kCorrupt;
      }
    }
  }
  png_destroy_read_struct(s.png ? &s.png : nullptr, s.info ? &s.info : nullptr, nullptr);
  return result;
}

}  // namespace wz::d3dx::codec
