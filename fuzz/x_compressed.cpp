// Fuzzes the compressed X loader two ways: the input as the compressed part of a tzip or bzip file
// (block parsing and decompression of damaged data), and the input compressed into valid blocks
// (the decompressed body reaching the text or binary parser). The first byte picks the format.
#include "platform/d3dx/x_compress.h"
#include "x_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* header = (data[0] & 1) ? "xof 0303bzip0032" : "xof 0303tzip0032";
  std::vector<uint8_t> raw(header, header + 16);
  raw.insert(raw.end(), data + 1, data + size);
  wz::d3dx::fuzz::LoadAndCheck(raw);

  std::vector<uint8_t> packed(header, header + 16);
  if (!wz::d3dx::DeflateXBody(std::span<const uint8_t>(data + 1, size - 1), packed)) return 0;
  wz::d3dx::fuzz::LoadAndCheck(packed);
  return 0;
}
