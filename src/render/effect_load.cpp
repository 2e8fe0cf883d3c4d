// EffectLoad: the one rule by which every effect of the library is loaded, and the release of
// effects and shader-mode targets with the other device resources.
//
// An effect is looked for as "<DataDir>/System/HLSL/<name>.fx" and then, when that fails, as the
// compiled "<name>.fxo" (the loader takes either form by content). A failed attempt is traced;
// when both fail one message box captioned "ERROR" shows the compiler's text (or the last path
// tried) and the effect stays none until the device resources are next released.
#include <string>

#include "core/library.h"
#include "platform/debug_trace.h"
#include "platform/dialogs.h"

namespace wz {

void EffectState::Release() {
  for (auto& [name, slot] : slots) {
    slot.effect.reset();
    slot.loadNeeded = 1;
  }
  targets = ShaderTargets{};
  activePass = nullptr;
  bumpDeclaration.reset();
  flatNormal.reset();
  white.reset();
  ground = BumpGround{};
}

d3dx::Effect* Library::EffectLoad(const char* name) {
  EffectSlot& slot = effects_.slots[name];
  if (!slot.loadNeeded) return slot.effect.get();
  // Without a device nothing is tried, so the byte stays set for the device to come.
  if (!device_) return nullptr;
  slot.loadNeeded = 0;
  const std::string base = dataDir_ + "/System/HLSL/" + name;
  std::unique_ptr<d3dx::D3DXBuffer> fxErrors, fxoErrors;
  std::string path = base + ".fx";
  if (Succeeded(d3dx::D3DXCreateEffectFromFileA(device_.get(), path.c_str(), nullptr, nullptr,
                                                d3dx::D3DXSHADER_DEBUG, nullptr, &slot.effect,
                                                &fxErrors))) {
    return slot.effect.get();
  }
  platform::OutputDebugStringA(std::string("*** ERROR *** ") + name + ".fx");
  path = base + ".fxo";
  if (Succeeded(d3dx::D3DXCreateEffectFromFileA(device_.get(), path.c_str(), nullptr, nullptr,
                                                d3dx::D3DXSHADER_DEBUG, nullptr, &slot.effect,
                                                &fxoErrors))) {
    return slot.effect.get();
  }
  if (std::string(name) == "HLSL_3D") {
    Log("*** ERROR *** HLSL_3D.fxo");
  } else {
    platform::OutputDebugStringA(std::string("*** ERROR *** ") + name + ".fxo");
  }
  // The compiler's text of the last attempt that produced any (a missing .fxo says nothing, so a
  // broken .fx beside it is what the box shows), else the last path tried.
  const d3dx::D3DXBuffer* text = fxoErrors ? fxoErrors.get() : fxErrors.get();
  platform::MessageBoxA(nullptr, text ? text->Text() : path, "ERROR", platform::MB_OK);
  return nullptr;
}

}  // namespace wz
