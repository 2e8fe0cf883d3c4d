// Fuzzes the DXF reader through its memory form, and checks that reading the input in stretches
// on several threads gives the model and the refusal of one reading from the start.
#include <cstdio>
#include <cstdlib>

#include "formats/formats.h"
#include "model_reader_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wz::fuzz::ReadAndCheck(data, size, [](wz::ModelHost& host, wz::Model& model, auto bytes) {
    return wz::LoadDxfFromMemory(host, model, "fuzz.dxf", bytes, 0);
  });
  const std::span<const uint8_t> bytes(data, size);
  wz::RecordingModelHost oneHost, splitHost;
  auto one = wz::CreateModel({}), split = wz::CreateModel({});
  const int oneResult = wz::LoadDxfFromMemory(oneHost, *one, "fuzz.dxf", bytes, 0, {16, 1});
  const int splitResult = wz::LoadDxfFromMemory(splitHost, *split, "fuzz.dxf", bytes, 0, {16, 4});
  if (oneResult != splitResult || !(*one == *split) || oneHost.lines != splitHost.lines) {
    std::fprintf(stderr, "reading in stretches differs from one reading\n");
    std::abort();
  }
  return 0;
}
