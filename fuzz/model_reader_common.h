// Shared part of the model-reader fuzz harnesses: read the input into a new model, then read it
// again over what the first read left, and abort when a model breaks an invariant or a refusal
// changes the model.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "model/model_host.h"
#include "model/model_invariants.h"

namespace wz::fuzz {

// A model with small preallocated pools, so that readers are fuzzed growing pools as well as
// filling empty ones.
inline std::unique_ptr<Model> PreallocatedModel() {
  NewModelOptions options;
  options.preallocate = true;
  options.capacities = {4, 16};
  return CreateModel(options);
}

template <typename Reader>
void ReadAndCheck(const uint8_t* data, size_t size, Reader read) {
  RecordingModelHost host;
  host.textureSizes = {{256.0f, 128.0f}, {0.0f, 0.0f}, {64.0f, 64.0f}};
  auto model = CreateModel({});
  for (int pass = 0; pass < 2; ++pass) {
    const Model before = *model;
    const int result = read(host, *model, std::span<const uint8_t>(data, size));
    if (auto fault = CheckModelInvariants(*model)) {
      std::fprintf(stderr, "pass %d: model breaks an invariant: %s\n", pass,
                   fault->message.c_str());
      std::abort();
    }
    if (result == 0 && !(*model == before)) {
      std::fprintf(stderr, "pass %d: a refused file changed the model\n", pass);
      std::abort();
    }
    if (result != 0 && result != 1) std::abort();
  }
}

}  // namespace wz::fuzz
