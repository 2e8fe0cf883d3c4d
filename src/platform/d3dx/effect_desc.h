// The description of an effect: what a .fx file says and a .fxo file stores. The text parser
// (effect_parse.cpp) and the binary reader (effect_binary.cpp) both produce it, ValidateEffect
// checks it the same way for both, and the effect object (effect.h) is built from it.
//
// An effect has typed parameters, samplers (a texture stage with sampler states and optionally
// the texture parameter bound to it), blocks of GLSL 3.30 text (common code, vertex programs,
// fragment programs) and techniques of passes; a pass names a vertex and a fragment program and
// sets render states. The format itself is described in data/System/HLSL/FORMAT.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wz::d3dx {

enum class FxType : uint8_t {
  kFloat = 1,
  kFloat2 = 2,
  kFloat3 = 3,
  kFloat4 = 4,
  kFloat4x4 = 5,
  kBool = 6,
  kInt = 7,
  kTexture = 8,
};

// Floats one element of `type` holds (bools and ints are kept as one float each); 0 for textures.
uint32_t FxTypeFloats(FxType type);
// The type's name in a .fx file ("float3", "float4x4", ...).
const char* FxTypeName(FxType type);

// Limits that keep an effect's programs small whatever the file says: every program holds the
// declarations of all parameters and all common code, so the file size times the number of
// distinct programs bounds what creating an effect takes.
constexpr size_t kFxMaxFileBytes = size_t{1} << 20;  // effect files are a few kilobytes
constexpr uint32_t kFxMaxArraySize = 1024;           // elements of one parameter
constexpr uint32_t kFxMaxFloats = 1u << 16;          // values of all parameters together
constexpr uint32_t kFxMaxParameters = 1024;
constexpr uint32_t kFxMaxStages = 16;  // texture stages, so also samplers
constexpr uint32_t kFxMaxTechniques = 256;
constexpr uint32_t kFxMaxPasses = 64;    // per technique
constexpr uint32_t kFxMaxPrograms = 64;  // distinct vertex and fragment program pairs

struct FxParameter {
  std::string name;
  FxType type = FxType::kFloat;
  uint32_t arraySize = 0;      // 0: a single value
  uint32_t line = 0;           // where it is declared
  std::vector<float> initial;  // empty (all zero) or exactly Count() floats
  // Elements (1 for a single value) times floats per element.
  uint32_t Floats() const { return (arraySize ? arraySize : 1) * FxTypeFloats(type); }
  friend bool operator==(const FxParameter&, const FxParameter&) = default;
};

// One render state or sampler state: the Direct3D number and its value.
struct FxState {
  uint32_t id = 0;
  uint32_t value = 0;
  friend bool operator==(const FxState&, const FxState&) = default;
};

struct FxSampler {
  std::string name;
  uint32_t stage = 0;           // the texture stage it reads
  int32_t texture = -1;         // index of the texture parameter bound to the stage, -1 for none
  std::vector<FxState> states;  // D3DSAMP_* values
  uint32_t line = 0;
  friend bool operator==(const FxSampler&, const FxSampler&) = default;
};

enum class FxBlockKind : uint8_t { kCommon = 1, kVertex = 2, kFragment = 3 };

// A block of GLSL text. `line` is the line of the .fx file that the text's first line is on.
struct FxBlock {
  FxBlockKind kind = FxBlockKind::kCommon;
  std::string name;
  uint32_t line = 0;
  std::string text;
  friend bool operator==(const FxBlock&, const FxBlock&) = default;
};

struct FxPass {
  std::string name;
  uint32_t line = 0;
  int32_t vertex = -1;          // block index of its vertex program
  int32_t fragment = -1;        // block index of its fragment program
  std::vector<FxState> states;  // D3DRS_* values, applied in this order
  friend bool operator==(const FxPass&, const FxPass&) = default;
};

struct FxTechnique {
  std::string name;
  uint32_t line = 0;
  std::vector<FxPass> passes;
  friend bool operator==(const FxTechnique&, const FxTechnique&) = default;
};

struct EffectDesc {
  std::string source;  // the file name messages name
  std::vector<FxParameter> parameters;
  std::vector<FxSampler> samplers;
  std::vector<FxBlock> blocks;
  std::vector<FxTechnique> techniques;
  friend bool operator==(const EffectDesc&, const EffectDesc&) = default;
};

// One problem found in an effect; line 0 when it has no line. Warnings come only from the GLSL
// compiler and accompany its errors.
struct FxError {
  uint32_t line = 0;
  std::string message;
  bool warning = false;
};

// "source(line): error: message", or "source: error: message" without a line ("warning:" for
// warnings).
std::string FormatFxError(const std::string& source, const FxError& error);

// Parses the text of a .fx file. False with the first error found.
bool ParseEffectText(std::string_view text, const std::string& source, EffectDesc& out,
                     FxError& error);

// Checks what every effect must satisfy, whatever it was read from: names are GLSL identifiers
// that are unique among parameters and samplers and do not start with "gl_", "wz_" or "a_"; array
// sizes and initial values fit; samplers sit on distinct stages below kFxMaxStages and name
// texture parameters; blocks are of their kind and pass references point at blocks of the right
// kind; at least one technique exists and every technique has a pass; the kFxMax limits hold.
// False with the first fault.
bool ValidateEffect(const EffectDesc& desc, FxError& error);

// The .fxo container: magic "WZFX", a format version, the payload size and its CRC-32, then the
// description (see effect_binary.cpp for the layout).
constexpr char kFxoMagic[4] = {'W', 'Z', 'F', 'X'};
constexpr uint16_t kFxoVersion = 1;
// True when `bytes` start like a .fxo file (so the text parser is not tried on it).
bool LooksLikeFxo(std::string_view bytes);
std::vector<uint8_t> WriteFxo(const EffectDesc& desc);
// Reads and validates a .fxo file. False with the reason (line 0).
bool ReadFxo(std::string_view bytes, EffectDesc& out, FxError& error);

}  // namespace wz::d3dx
