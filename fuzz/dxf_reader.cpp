// Fuzzes the DXF reader through its memory form.
#include "formats/formats.h"
#include "model_reader_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wz::fuzz::ReadAndCheck(data, size, [](wz::ModelHost& host, wz::Model& model, auto bytes) {
    return wz::LoadDxfFromMemory(host, model, "fuzz.dxf", bytes, 0);
  });
  return 0;
}
