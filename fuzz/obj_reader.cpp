// Fuzzes the OBJ reader, its document and its material library: the input is split at its first
// NUL byte into the document and the library text, so both are fuzzed from the same bytes. A
// loaded model must meet the model invariants, and a refused document must leave the model
// untouched. Seeds: scripts/make-exchange-seeds.sh copies Debian's OBJ sample files with the
// libraries they name.
#include <algorithm>
#include <string_view>

#include "formats/formats.h"
#include "model_reader_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* nul = std::find(data, data + size, uint8_t{0});
  const std::string_view materials(
      reinterpret_cast<const char*>(nul == data + size ? nul : nul + 1),
      size_t(data + size - (nul == data + size ? nul : nul + 1)));
  wz::fuzz::ReadAndCheck(data, size_t(nul - data),
                         [&](wz::ModelHost& host, wz::Model& model, std::span<const uint8_t> b) {
                           return wz::LoadObjFromMemory(host, model, "\\f\\z.obj", b, materials, 0);
                         });
  return 0;
}
