// Fuzzes the Metasequoia reader after the two header lines: a loaded model must meet the model
// invariants, and a refused document must leave the model untouched.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "formats/formats.h"
#include "model/model_invariants.h"
#include "model_reader_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char kHeader[] = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n";
  std::vector<uint8_t> doc(kHeader, kHeader + sizeof kHeader - 1);
  doc.insert(doc.end(), data, data + size);
  // Models made once: growing from small pools as well as from none.
  static const std::unique_ptr<wz::Model> kFresh[2] = {wz::CreateModel({}),
                                                       wz::fuzz::PreallocatedModel()};
  const wz::Model& fresh = *kFresh[size % 2];
  auto model = std::make_unique<wz::Model>(fresh);
  wz::RecordingModelHost host;
  const int result = wz::LoadMqoFromMemory(host, *model, "\\f\\z.mqo", doc, 0);
  if (auto fault = wz::CheckModelInvariants(*model)) {
    std::fprintf(stderr, "loaded model breaks an invariant: %s\n", fault->message.c_str());
    std::abort();
  }
  if (result == 0 && (!(*model == fresh) || host.lines.size() != 1)) {
    std::fprintf(stderr, "refusal changed the model\n");
    std::abort();
  }
  return 0;
}
