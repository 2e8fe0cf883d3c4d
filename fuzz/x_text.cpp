// Fuzzes the text X loader: the input is the body after a "txt" header.
#include <cstring>

#include "x_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char kHeader[] = "xof 0303txt 0032";
  std::vector<uint8_t> file(kHeader, kHeader + 16);
  file.insert(file.end(), data, data + size);
  wz::d3dx::fuzz::LoadAndCheck(file);
  return 0;
}
