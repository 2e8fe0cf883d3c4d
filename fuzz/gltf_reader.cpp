// Fuzzes the glTF reader on .gltf documents and .glb files (the reader tells them apart by the
// GLB magic). A loaded model must meet the model invariants, and a refused file must leave the
// model untouched. Seeds: scripts/make-sample-seeds.sh copies Debian's glTF sample files.
#include "formats/formats.h"
#include "model_reader_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wz::fuzz::ReadAndCheck(data, size,
                         [](wz::ModelHost& host, wz::Model& model, std::span<const uint8_t> b) {
                           return wz::LoadGltfFromMemory(host, model, "\\f\\z.gltf", b, 0);
                         });
  return 0;
}
