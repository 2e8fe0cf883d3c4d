// JPEG decoder over libjpeg: YCbCr and RGB files are decoded straight to B,G,R,A (JCS_EXT_BGRA);
// greyscale files are decoded as grey and widened here; CMYK and YCCK files are decoded to CMYK and
// converted here, inverted when an Adobe marker says so (as Photoshop writes them). libjpeg's
// errors end in longjmp back to the small functions below, which hold no C++ objects, and the
// decompressor is always destroyed. Damaged and short files: at the end of the data the source
// manager supplies one end marker, so a file that lacks only its end marker decodes; a warning that
// scan data is damaged or missing (a marker inside the data, a bad Huffman or arithmetic code, a
// lost restart marker, a premature end) refuses the image at once, so a file cut short, with or
// without an end marker appended, is refused instead of being filled in; and a progressive file
// must bring every coefficient to full precision. Extraneous bytes between segments and damaged
// metadata only warn. Limits: the scan data must hold at least one bit per 8 x 8 block of the
// image (Huffman coding cannot use less), so a short file claiming a huge size fails before any
// pixel buffer exists; at most kMaxScans scans (progressive scan floods) and kMaxMemory bytes of
// libjpeg working memory (progressive coefficient buffers).
#include <csetjmp>
#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <jpeglib.h>

#include <jerror.h>  // after jpeglib.h, whose types it needs

#include "platform/d3dx/image_codec.h"

namespace wz::d3dx::codec {
namespace {

constexpr int kMaxScans = 500;
constexpr long kMaxMemory = 512L << 20;

struct JpegSession {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  jpeg_source_mgr src;
  jpeg_progress_mgr progress;
  jmp_buf jump;
  bool created;
  bool tooManyScans;
  bool endMarkerSupplied;  // the data ended and the source gave an end marker of its own
  int damage;              // the warning that refused the image, 0 for none
  bool incomplete;         // a progressive file whose coefficients never reach full precision
};

JpegSession* SessionOf(j_common_ptr c) {
  // cinfo is the first member of the session.
  return reinterpret_cast<JpegSession*>(c);
}

void ErrorExit(j_common_ptr c) {
  longjmp(SessionOf(c)->jump, 1);
}
// Warnings (level -1) that scan data is damaged or missing end the decode at once.
void EmitMessage(j_common_ptr c, int level) {
  if (level >= 0) return;
  switch (c->err->msg_code) {
    case JWRN_HIT_MARKER:
    case JWRN_JPEG_EOF:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
      SessionOf(c)->damage = c->err->msg_code;
      longjmp(SessionOf(c)->jump, 1);
    default:
      break;  // extraneous bytes between segments, metadata: the pixels are whole
  }
}
void OutputMessage(j_common_ptr) {}

void InitSource(j_decompress_ptr) {}
// At the end of the data: one end marker, as a file that lacks only its end marker needs; scan
// data cut short then meets it as a marker inside the data, which refuses the image.
boolean FillInputBuffer(j_decompress_ptr c) {
  static const JOCTET kEndMarker[2] = {0xFF, JPEG_EOI};
  JpegSession* s = SessionOf(reinterpret_cast<j_common_ptr>(c));
  if (s->endMarkerSupplied) ERREXIT(c, JERR_INPUT_EOF);
  s->endMarkerSupplied = true;
  c->src->next_input_byte = kEndMarker;
  c->src->bytes_in_buffer = 2;
  return TRUE;
}
void SkipInputData(j_decompress_ptr c, long n) {
  if (n <= 0) return;
  if (static_cast<unsigned long>(n) > c->src->bytes_in_buffer) ERREXIT(c, JERR_INPUT_EOF);
  c->src->next_input_byte += n;
  c->src->bytes_in_buffer -= static_cast<size_t>(n);
}
void TermSource(j_decompress_ptr) {}

void Progress(j_common_ptr c) {
  auto* d = reinterpret_cast<j_decompress_ptr>(c);
  if (d->input_scan_number > kMaxScans) {
    SessionOf(c)->tooManyScans = true;
    longjmp(SessionOf(c)->jump, 1);
  }
}

// Creates the decompressor over the bytes and reads the header. False on any libjpeg error.
bool ReadHeader(JpegSession& s, const uint8_t* data, size_t size) {
  s.cinfo.err = jpeg_std_error(&s.err);
  s.err.error_exit = ErrorExit;
  s.err.emit_message = EmitMessage;
  s.err.output_message = OutputMessage;
  if (setjmp(s.jump)) return false;
  // The session starts zeroed, so destroying a half-created decompressor is harmless.
  s.created = true;
  jpeg_create_decompress(&s.cinfo);
  s.cinfo.mem->max_memory_to_use = kMaxMemory;
  s.src.next_input_byte = data;
  s.src.bytes_in_buffer = size;
  s.src.init_source = InitSource;
  s.src.fill_input_buffer = FillInputBuffer;
  s.src.skip_input_data = SkipInputData;
  s.src.resync_to_restart = jpeg_resync_to_restart;
  s.src.term_source = TermSource;
  s.cinfo.src = &s.src;
  s.progress.progress_monitor = Progress;
  s.cinfo.progress = &s.progress;
  jpeg_read_header(&s.cinfo, TRUE);
  return true;
}

inline uint8_t Mul255(uint32_t a, uint32_t b) {
  return static_cast<uint8_t>((a * b + 127) / 255);
}

// Grey values to B,G,R,A pixels (g, g, g, 255), as libjpeg's own grey to BGRA conversion
// gives them, but 16 pixels at a time: libjpeg does this one pixel at a time, and for the
// greyscale height maps this program exists for it was a fifth of the whole decode.
void ExpandGrey(const uint8_t* grey, uint8_t* bgra, size_t width) {
  size_t x = 0;
#if defined(__SSE2__)
  const __m128i opaque = _mm_set1_epi8(-1);
  for (; x + 16 <= width; x += 16) {
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + x));
    const __m128i gg0 = _mm_unpacklo_epi8(g, g), gg1 = _mm_unpackhi_epi8(g, g);
    const __m128i ga0 = _mm_unpacklo_epi8(g, opaque), ga1 = _mm_unpackhi_epi8(g, opaque);
    auto* o = reinterpret_cast<__m128i*>(bgra + x * 4);
    _mm_storeu_si128(o, _mm_unpacklo_epi16(gg0, ga0));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(gg0, ga0));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(gg1, ga1));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(gg1, ga1));
  }
#endif
  for (; x < width; ++x) {
    bgra[x * 4] = bgra[x * 4 + 1] = bgra[x * 4 + 2] = grey[x];
    bgra[x * 4 + 3] = 255;
  }
}

// Decodes into the sink, row by row from the top. False on any libjpeg error.
bool Decode(JpegSession& s, ImageSink& sink) {
  if (setjmp(s.jump)) return false;
  j_decompress_ptr c = &s.cinfo;
  const bool cmyk = c->jpeg_color_space == JCS_CMYK || c->jpeg_color_space == JCS_YCCK;
  const bool grey = c->jpeg_color_space == JCS_GRAYSCALE;
  c->out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_EXT_BGRA;
  jpeg_start_decompress(c);
  if (c->output_width != c->image_width || c->output_height != c->image_height ||
      c->output_components != (grey ? 1 : 4)) {
    ERREXIT(c, JERR_CONVERSION_NOTIMPL);
  }
  // A progressive file has read all its scans here: each coefficient must have come to full
  // precision (coef_bits 0), or scans are missing.
  if (c->progressive_mode && c->coef_bits) {
    for (int ci = 0; ci < c->num_components; ++ci) {
      for (int k = 0; k < DCTSIZE2; ++k) {
        if (c->coef_bits[ci][k] != 0) {
          s.incomplete = true;
          longjmp(s.jump, 1);
        }
      }
    }
  }
  const size_t pitch = size_t{c->output_width} * 4;
  // CMYK and grey rows are decoded into a row of libjpeg's and converted from there.
  JSAMPARRAY rowBuffer = cmyk || grey ? (*c->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(c),
                                                                JPOOL_IMAGE, JDIMENSION(pitch), 1)
                                      : nullptr;
  const bool inverted = c->saw_Adobe_marker;
  while (c->output_scanline < c->output_height) {
    const JDIMENSION y = c->output_scanline;
    uint8_t* dst = sink.Row(y);
    JSAMPROW row = rowBuffer ? rowBuffer[0] : dst;
    if (jpeg_read_scanlines(c, &row, 1) != 1) ERREXIT(c, JERR_INPUT_EOF);
    if (!cmyk) {
      if (grey) ExpandGrey(row, dst, c->output_width);
      sink.RowDone(y);
      continue;
    }
    for (size_t x = 0; x < c->output_width; ++x) {
      const uint8_t* p = &row[x * 4];
      uint32_t k = inverted ? p[3] : 255 - p[3];
      for (int ch = 0; ch < 3; ++ch) {
        uint32_t v = inverted ? p[ch] : 255 - p[ch];
        dst[x * 4 + 2 - ch] = Mul255(v, k);  // C, M, Y give R, G, B
      }
      dst[x * 4 + 3] = 255;
    }
    sink.RowDone(y);
  }
  jpeg_finish_decompress(c);
  return true;
}

ImageError ErrorOf(const JpegSession& s) {
  if (s.tooManyScans) return ImageError::kCorrupt;
  if (s.incomplete) return ImageError::kTooShort;
  if (s.damage == JWRN_HIT_MARKER || s.damage == JWRN_JPEG_EOF) return ImageError::kTooShort;
  if (s.damage != 0) return ImageError::kCorrupt;
  switch (s.err.msg_code) {
    case JERR_INPUT_EOF:
      return ImageError::kTooShort;
    case JERR_OUT_OF_MEMORY:
      return ImageError::kNoMemory;
    case JERR_NO_BACKING_STORE:  // needs more working memory than kMaxMemory
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
      return ImageError::kTooLarge;
    case JERR_BAD_PRECISION:
    case JERR_CONVERSION_NOTIMPL:
      return ImageError::kUnsupported;
    default:
      return ImageError::kCorrupt;
  }
}

}  // namespace

bool LooksLikeJpeg(std::span<const uint8_t> bytes) {
  return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

ImageError DecodeJpeg(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink) {
  JpegSession s{};
  ImageError result = ImageError::kNone;
  if (!ReadHeader(s, bytes.data(), bytes.size())) {
    result = ErrorOf(s);
  } else {
    result = CheckImageSize(s.cinfo.image_width, s.cinfo.image_height);
  }
  // Huffman coding spends at least one bit on each 8 x 8 block of each component (a DC code in
  // every scan that first reaches it): data shorter than that cannot hold the image.
  if (result == ImageError::kNone && !s.cinfo.arith_code) {
    uint64_t blocks = 0;
    for (int ci = 0; ci < s.cinfo.num_components; ++ci) {
      const jpeg_component_info& comp = s.cinfo.comp_info[ci];
      blocks += uint64_t{comp.width_in_blocks} * comp.height_in_blocks;
    }
    if (blocks > uint64_t{bytes.size()} * 8) result = ImageError::kTooShort;
  }
  if (result == ImageError::kNone) {
    info = MakeInfo(s.cinfo.image_width, s.cinfo.image_height, D3DFMT_X8R8G8B8, D3DXIFF_JPG);
    if (sink) {
      result = sink->Start(s.cinfo.image_width, s.cinfo.image_height);
      if (result == ImageError::kNone && !Decode(s, *sink)) result = ErrorOf(s);
    }
  }
  if (s.created) jpeg_destroy_decompress(&s.cinfo);
  return result;
}

}  // namespace wz::d3dx::codec
