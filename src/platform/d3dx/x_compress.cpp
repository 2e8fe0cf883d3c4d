// MSZIP-style block compression of X files, over zlib's raw deflate.
#include "platform/d3dx/x_compress.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace wz::d3dx {
namespace {

constexpr size_t kBlockBytes = 32768;
constexpr size_t kWindowBytes = 32768;

bool Fail(XStatus& status, XError e, std::string message) {
  status.error = e;
  status.message = std::move(message);
  return false;
}

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct Inflater {
  z_stream z{};
  bool ok = false;
  Inflater() { ok = inflateInit2(&z, -15) == Z_OK; }
  ~Inflater() {
    if (ok) inflateEnd(&z);
  }
};

struct Deflater {
  z_stream z{};
  bool ok = false;
  Deflater() { ok = deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~Deflater() {
    if (ok) deflateEnd(&z);
  }
};

}  // namespace

bool InflateXBody(std::span<const uint8_t> data, std::vector<uint8_t>& body, XStatus& status) {
  body.clear();
  if (data.size() < 4) return Fail(status, XError::Truncated, "compressed file without its size");
  uint32_t total;
  std::memcpy(&total, data.data(), 4);
  if (total < 16) return Fail(status, XError::Compression, "compressed size below the header size");
  const size_t bodySize = total - 16;
  if (bodySize > kXMaxBodyBytes) {
    return Fail(status, XError::CountTooLarge,
                "uncompressed size " + std::to_string(bodySize) + " is too large");
  }
  if (bodySize > kXMaxBodyBase && (bodySize - kXMaxBodyBase) / kXMaxBodyRatio > data.size()) {
    return Fail(status, XError::CountTooLarge,
                "uncompressed size " + std::to_string(bodySize) + " is more than " +
                    std::to_string(kXMaxBodyRatio) + " times the " + std::to_string(data.size()) +
                    " compressed bytes");
  }
  Inflater inf;
  if (!inf.ok) return Fail(status, XError::Compression, "cannot start the decompressor");

  size_t pos = 4;
  while (pos < data.size()) {
    const size_t at = pos + 16;  // file offset, for the message
    if (data.size() - pos < 6) {
      return Fail(status, XError::Truncated,
                  "compressed block header cut short at byte " + std::to_string(at));
    }
    const size_t plain = U16(&data[pos]);
    const size_t packed = U16(&data[pos + 2]);
    if (plain > kBlockBytes || packed < 2 || data[pos + 4] != 'C' || data[pos + 5] != 'K') {
      return Fail(status, XError::Compression,
                  "malformed compressed block at byte " + std::to_string(at));
    }
    pos += 4;
    if (data.size() - pos < packed) {
      return Fail(status, XError::Truncated,
                  "compressed block cut short at byte " + std::to_string(at));
    }
    if (plain > bodySize - body.size()) {
      return Fail(status, XError::Compression,
                  "compressed blocks exceed the stated size at byte " + std::to_string(at));
    }
    const size_t produced = body.size();
    if (plain > 0) {
      body.resize(produced + plain);
      z_stream& z = inf.z;
      if (inflateReset(&z) != Z_OK) return Fail(status, XError::Compression, "decompressor reset");
      if (produced > 0) {
        const size_t d = std::min(kWindowBytes, produced);
        if (inflateSetDictionary(&z, body.data() + produced - d, static_cast<uInt>(d)) != Z_OK) {
          return Fail(status, XError::Compression, "decompressor dictionary");
        }
      }
      z.next_in = const_cast<Bytef*>(&data[pos + 2]);
      z.avail_in = static_cast<uInt>(packed - 2);
      z.next_out = body.data() + produced;
      z.avail_out = static_cast<uInt>(plain);
      const int rc = inflate(&z, Z_FINISH);
      // Bytes left in the block after the deflate stream (some writers leave a checksum) are
      // ignored; the block ends where its compressed size says.
      if (rc != Z_STREAM_END || z.avail_out != 0) {
        return Fail(status, XError::Compression,
                    "compressed block at byte " + std::to_string(at) +
                        " does not decode to its stated " + std::to_string(plain) + " bytes");
      }
    }
    pos += packed;
  }
  if (body.size() != bodySize) {
    return Fail(status, XError::Truncated,
                "compressed blocks give " + std::to_string(body.size()) + " of the stated " +
                    std::to_string(bodySize) + " bytes");
  }
  return true;
}

bool DeflateXBody(std::span<const uint8_t> body, std::vector<uint8_t>& out) {
  Deflater def;
  if (!def.ok) return false;
  const uint32_t total = static_cast<uint32_t>(body.size() + 16);
  const size_t at = out.size();
  out.resize(at + 4);
  std::memcpy(&out[at], &total, 4);
  std::vector<uint8_t> block(deflateBound(&def.z, kBlockBytes) + 16);
  for (size_t pos = 0; pos < body.size(); pos += kBlockBytes) {
    const size_t n = std::min(kBlockBytes, body.size() - pos);
    z_stream& z = def.z;
    deflateReset(&z);
    z.next_in = const_cast<Bytef*>(body.data() + pos);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = block.data();
    z.avail_out = static_cast<uInt>(block.size());
    deflate(&z, Z_FINISH);  // the output buffer holds deflateBound bytes, so this always ends
    const size_t packed = block.size() - z.avail_out;
    const uint16_t header[2] = {static_cast<uint16_t>(n), static_cast<uint16_t>(packed + 2)};
    const size_t w = out.size();
    out.resize(w + 6 + packed);
    std::memcpy(&out[w], header, 4);
    out[w + 4] = 'C';
    out[w + 5] = 'K';
    std::memcpy(&out[w + 6], block.data(), packed);
  }
  return true;
}

}  // namespace wz::d3dx
