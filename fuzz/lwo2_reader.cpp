// Fuzzes the ".lwo" entry point with LWO2 files in mind (LWOB files still reach the LWOB reader
// through it): a loaded model must meet the model invariants, and a refused file must leave the
// model untouched. Seeds: scripts/make-exchange-seeds.sh copies Debian's LWO2 sample files.
#include "formats/formats.h"
#include "model_reader_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wz::fuzz::ReadAndCheck(data, size,
                         [](wz::ModelHost& host, wz::Model& model, std::span<const uint8_t> b) {
                           return wz::LoadLightWaveFromMemory(host, model, "\\f\\z.lwo", b, 0);
                         });
  return 0;
}
