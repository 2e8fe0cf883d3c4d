// Fuzzes the text X loader: the input is the body after a "txt" header. Each input is also read
// with its arrays in short stretches on several threads, which must give the same mesh or the
// same refusal.
#include <cstring>

#include "x_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char kHeader[] = "xof 0303txt 0032";
  std::vector<uint8_t> file(kHeader, kHeader + 16);
  file.insert(file.end(), data, data + size);
  wz::d3dx::fuzz::LoadAndCheck(file);
  wz::d3dx::fuzz::CompareThreadedReading(file);
  return 0;
}
