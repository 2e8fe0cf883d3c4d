// Fuzzes the effect readers: the .fx text parser and the .fxo container. Whatever parses must be
// a valid description and survive the trip through the container unchanged.
#include <cstdlib>
#include <string_view>

#include "platform/d3dx/effect_desc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  wz::d3dx::EffectDesc desc, back;
  wz::d3dx::FxError error;
  const bool ok = wz::d3dx::LooksLikeFxo(bytes)
                      ? wz::d3dx::ReadFxo(bytes, desc, error)
                      : wz::d3dx::ParseEffectText(bytes, "fuzz.fx", desc, error);
  if (!ok) return 0;
  if (!wz::d3dx::ValidateEffect(desc, error)) std::abort();
  const std::vector<uint8_t> fxo = wz::d3dx::WriteFxo(desc);
  if (!wz::d3dx::ReadFxo({reinterpret_cast<const char*>(fxo.data()), fxo.size()}, back, error) ||
      !(back == desc)) {
    std::abort();
  }
  return 0;
}
