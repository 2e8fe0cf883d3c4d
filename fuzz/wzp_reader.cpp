// libFuzzer harness for the WZP reader. The version is taken from offset 3, as the model manager
// reads it. Each input is read into a new model and into a preallocated one with small pools;
// both must meet the model invariants afterwards. A file that was read must save, read back and
// save again to the same bytes.
// Seeds: scripts/make-wzp-seeds.sh writes them to fuzz-corpus/wzp.
// Run: build-fuzz/bin/fuzz_wzp_reader -max_total_time=60 fuzz-corpus/wzp
// Replay one input: build-fuzz/bin/fuzz_wzp_reader crash-file
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/model_invariants.h"
#include "model/wzp.h"

using namespace wz;

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
  }
}

void CheckSound(const Model& m) {
  if (auto fault = CheckModelInvariants(m)) {
    std::fprintf(stderr, "model breaks an invariant: %s: %s\n", ModelFaultName(fault->fault),
                 fault->message.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t version = 0;
  if (size >= 7) std::memcpy(&version, data + 3, 4);
  const std::span<const uint8_t> bytes(data, size);

  NewModelOptions small;
  small.preallocate = true;
  small.capacities = ModelCapacities::ForPolygonCapacity(4);
  for (const NewModelOptions& options : {NewModelOptions{}, small}) {
    RecordingModelHost host;
    auto model = CreateModel(options);
    const int result = LoadWzpFromMemory(host, *model, "fuzz.wzp", bytes, version);
    CheckSound(*model);
    if (result != 1 || version < kWzpVersion2004 || version > kWzpVersion2009) continue;

    std::vector<uint8_t> first, second;
    Check(SaveWzpToMemory(host, *model, "fuzz.wzp", first), "a read model was not saved");
    auto back = CreateModel({});
    Check(LoadWzpFromMemory(host, *back, "fuzz.wzp", first, kWzpVersion2009) == 1,
          "a saved model did not read back");
    CheckSound(*back);
    Check(SaveWzpToMemory(host, *back, "fuzz.wzp", second) && first == second,
          "a saved model read back saves to other bytes");
  }
  return 0;
}
