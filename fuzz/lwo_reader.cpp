// Fuzzes the LWOB reader: a loaded model must meet the model invariants, a refused file must leave
// the model untouched, and a loaded model that LWOB can hold must come back from the writer with
// the same polygons.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "formats/formats.h"
#include "model/model_invariants.h"
#include "model_reader_common.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Models made once: growing from small pools as well as from none.
  static const std::unique_ptr<wz::Model> kFresh[2] = {wz::CreateModel({}),
                                                       wz::fuzz::PreallocatedModel()};
  const wz::Model& fresh = *kFresh[size % 2];
  auto model = std::make_unique<wz::Model>(fresh);
  wz::RecordingModelHost host;
  const int result = wz::LoadLwoFromMemory(host, *model, "\\f\\z.lwo", {data, size}, 0);
  if (auto fault = wz::CheckModelInvariants(*model)) {
    std::fprintf(stderr, "%s\n", fault->message.c_str());
    Fail("loaded model breaks an invariant");
  }
  if (result == 0) {
    if (!(*model == fresh) || host.lines.size() != 1) Fail("refusal changed the model");
    return 0;
  }
  if (model->positionCount > 65536) return 0;
  std::vector<uint8_t> saved;
  if (!wz::SaveLwoToMemory(host, *model, "\\f\\z.lwo", saved)) Fail("a loaded model was refused");
  auto back = std::make_unique<wz::Model>(*kFresh[0]);
  if (!wz::LoadLwoFromMemory(host, *back, "\\f\\z.lwo", saved, 0)) Fail("written file refused");
  if (back->polygonCount != model->polygonCount) Fail("polygon count changed");
  for (int32_t p = 0; p < model->polygonCount; ++p) {
    const wz::Polygon& a = model->polygons[size_t(p)];
    const wz::Polygon& b = back->polygons[size_t(p)];
    if (a.cornerCount != b.cornerCount) Fail("corner count changed");
    for (int c = 0; c < a.cornerCount; ++c)
      if (a.corners[size_t(c)].position != b.corners[size_t(c)].position) Fail("corner moved");
  }
  return 0;
}
