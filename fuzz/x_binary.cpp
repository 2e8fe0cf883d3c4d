// Fuzzes the binary X loader: the first input byte picks 32-bit or 64-bit floats, the rest is the
// body after a "bin" header.
#include "x_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* header = (data[0] & 1) ? "xof 0303bin 0064" : "xof 0303bin 0032";
  std::vector<uint8_t> file(header, header + 16);
  file.insert(file.end(), data + 1, data + size);
  wz::d3dx::fuzz::LoadAndCheck(file);
  return 0;
}
