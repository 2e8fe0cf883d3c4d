// Fuzzes the X import of a model (LoadXFromMemory): the first input byte picks the header put in
// front of the rest (text, binary with 32-bit or 64-bit floats, or none: the rest is the whole
// file), and a small polygon capacity (so that the face cut is reached) with or without a
// preallocated model.
// After the import the model must meet the model invariants, and a file that is not taken must
// leave it exactly as it was.
// Run: build-fuzz/bin/fuzz_x_model -dict=fuzz/x.dict -max_total_time=30
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/formats.h"
#include "model/model_invariants.h"

using namespace wz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kHeaders[4] = {"xof 0303txt 0032", "xof 0303bin 0032",
                                          "xof 0303bin 0064", ""};
  const std::string header = kHeaders[data[0] & 3];
  std::vector<uint8_t> file(header.begin(), header.end());
  file.insert(file.end(), data + 1, data + size);

  // A preallocated model only with the small capacity, to keep each run fast.
  NewModelOptions options;
  const int mode = (data[0] >> 2) & 3;
  if (mode == 1 || mode == 2) options.capacities = ModelCapacities::ForPolygonCapacity(3);
  options.preallocate = mode == 2;
  RecordingModelHost host;
  host.capacities = options.capacities;
  auto model = CreateModel(options);
  const int result = LoadXFromMemory(host, *model, "fuzz.x", file, 0);

  if (auto fault = CheckModelInvariants(*model)) {
    std::fprintf(stderr, "invariant broken after the import: %s\n", fault->message.c_str());
    std::abort();
  }
  if (result != 1 && result != -1 && result != E_FAIL) std::abort();
  if (result != 1 && (!(*model == *CreateModel(options)) || host.lines.size() != 1)) {
    std::fprintf(stderr, "a refused file changed the model or was not logged once\n");
    std::abort();
  }
  return 0;
}
