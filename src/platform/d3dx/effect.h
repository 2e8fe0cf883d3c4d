// The effect object of the D3DX stand-in: an effect file (.fx text or .fxo compiled, see
// effect_desc.h and data/System/HLSL/FORMAT.md) made into device programs, with the calls the
// drawing code makes on an effect.
//
// Each pass becomes a d3d::ShaderProgram (passes with the same vertex and fragment program share
// one). Its GLSL is the effect's: `#version 330 core`, the macros given at creation, the vertex
// attributes (vertex programs) or `out vec4 o_color` (fragment programs), a uniform for every
// parameter and sampler, the common blocks and the program's own text, with `#line` directives
// that keep the .fx file's line numbers, so a GLSL error names the .fx line. The programs are
// compiled when the effect is created (on a device that draws with OpenGL), so a broken program
// fails the creation with the compiler's messages in the error buffer.
//
// Setting a parameter stores its value; BeginPass (or Pass) and CommitChanges hand changed values
// to the pass's program, set the pass's render states, and for each sampler the pass's programs
// use, set its sampler states on its stage and bind its texture parameter's texture there when
// the parameter holds one (a parameter that holds none leaves the stage's texture alone, so a
// texture the caller binds to the stage directly is used). Begin saves the states, textures and
// program the technique changes and End restores them, unless D3DXFX_DONOTSAVESTATE is given.
//
// Handles (D3DXHANDLE) are names, or the pointers GetTechniqueByName and GetParameterByName
// return, which stay valid while the effect lives.
//
// Limitations: no annotations, no shared parameter pools, no include handler, no structure or
// string parameters; effects hold no default-pool resources, so OnLostDevice and OnResetDevice
// have nothing to do.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/d3dx/effect_desc.h"
#include "platform/win_types.h"

namespace wz::d3dx {

using D3DXHANDLE = const char*;

constexpr DWORD D3DXSHADER_DEBUG = 1;
constexpr DWORD D3DXFX_DONOTSAVESTATE = 1;
constexpr DWORD D3DXFX_DONOTSAVESHADERSTATE = 2;
constexpr DWORD D3DXFX_DONOTSAVESAMPLERSTATE = 4;

// A macro handed to every program as `#define Name Definition`; a list ends with a null Name.
struct D3DXMACRO {
  const char* Name;
  const char* Definition;
};

// A block of bytes D3DX hands back; error buffers hold text ending with a NUL.
class D3DXBuffer {
 public:
  explicit D3DXBuffer(std::string text) : text_(std::move(text)) {}
  const void* GetBufferPointer() const { return text_.c_str(); }
  DWORD GetBufferSize() const { return DWORD(text_.size() + 1); }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

class Effect {
 public:
  ~Effect();
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;

  // ---- Techniques and parameters ----
  // Null when there is none of that name or index.
  D3DXHANDLE GetTechniqueByName(const char* name) const;
  D3DXHANDLE GetTechnique(UINT index) const;
  // `parent` must be null (no structures).
  D3DXHANDLE GetParameterByName(D3DXHANDLE parent, const char* name) const;
  D3DXHANDLE GetCurrentTechnique() const;
  // D3DERR_INVALIDCALL for an unknown technique or while a technique is begun.
  HRESULT SetTechnique(D3DXHANDLE technique);

  // Setters: D3DERR_INVALIDCALL for an unknown parameter or one of another kind (a texture for a
  // value, a value for a texture, a matrix set as a vector). Scalars and vectors convert among
  // float, bool and int parameters as D3DX does (bools become 0 or 1); SetVector fills as many
  // components as the parameter has; a matrix array takes at most its size.
  HRESULT SetMatrix(D3DXHANDLE parameter, const d3d::D3DMATRIX* matrix);
  HRESULT SetMatrixArray(D3DXHANDLE parameter, const d3d::D3DMATRIX* matrices, UINT count);
  // `xyzw` points at four floats.
  HRESULT SetVector(D3DXHANDLE parameter, const float* xyzw);
  // Any four-float vector type with members x, y, z and w.
  template <class V>
  requires requires(const V* v) { v->w; }
  HRESULT SetVector(D3DXHANDLE parameter, const V* v) {
    if (!v) return D3DERR_INVALIDCALL;
    const float f[4] = {float(v->x), float(v->y), float(v->z), float(v->w)};
    return SetVector(parameter, f);
  }
  HRESULT SetFloat(D3DXHANDLE parameter, float value);
  HRESULT SetBool(D3DXHANDLE parameter, BOOL value);
  HRESULT SetInt(D3DXHANDLE parameter, INT value);
  HRESULT SetTexture(D3DXHANDLE parameter, d3d::Texture* texture);
  // Raw bytes: floats for float parameters, 32-bit integers for bool and int ones; at most the
  // parameter's size (D3DERR_INVALIDCALL beyond it or for textures).
  HRESULT SetValue(D3DXHANDLE parameter, const void* data, UINT bytes);
  HRESULT GetValue(D3DXHANDLE parameter, void* data, UINT bytes) const;
  HRESULT GetFloat(D3DXHANDLE parameter, float* value) const;

  // ---- Drawing ----
  // Starts the current technique; `passes` receives its pass count. D3DERR_INVALIDCALL when
  // already begun.
  HRESULT Begin(UINT* passes, DWORD flags);
  // Applies pass `pass` (see the top of this file). D3DERR_INVALIDCALL outside Begin/End, for a
  // pass past the technique's, or while another pass is open (BeginPass only).
  HRESULT BeginPass(UINT pass);
  // The older form: applies the pass without needing EndPass.
  HRESULT Pass(UINT pass);
  HRESULT EndPass();
  // Restores what Begin saved. D3DERR_INVALIDCALL without Begin.
  HRESULT End();
  // Hands parameters changed inside a pass to the device.
  HRESULT CommitChanges();
  HRESULT OnLostDevice() { return S_OK; }
  HRESULT OnResetDevice() { return S_OK; }

  // ---- For the platform layer, tools and tests ----
  const EffectDesc& Desc() const { return desc_; }
  d3d::Device* GetDevice() const { return device_; }
  // The program of a pass (null for bad indices).
  d3d::ShaderProgram* PassProgram(UINT technique, UINT pass) const;
  // The GLSL of every program, for tools that show or check it.
  const std::vector<std::shared_ptr<d3d::ShaderProgram>>& Programs() const { return programs_; }

 private:
  friend HRESULT CreateEffectFromDesc(d3d::Device*, EffectDesc, const D3DXMACRO*,
                                      std::unique_ptr<Effect>*, std::unique_ptr<D3DXBuffer>*);
  struct Value {
    std::vector<float> floats;
    std::shared_ptr<d3d::Texture> texture;
    uint64_t version = 1;
  };
  struct PassData {
    size_t program = 0;            // index into programs_
    std::vector<size_t> samplers;  // samplers its programs use
  };
  struct Saved {
    std::vector<std::pair<uint32_t, DWORD>> renderStates;
    std::vector<std::pair<uint32_t, std::shared_ptr<d3d::Texture>>> textures;
    std::vector<std::tuple<uint32_t, uint32_t, DWORD>> samplerStates;
    std::shared_ptr<d3d::ShaderProgram> program;
    bool shader = false, samplers = false, states = false;
  };

  Effect(d3d::Device* device, EffectDesc desc);
  int FindParameter(D3DXHANDLE handle) const;
  int FindTechnique(D3DXHANDLE handle) const;
  // The parameter of `handle` if it holds values (not a texture), else null.
  Value* ValueOf(D3DXHANDLE handle, int* index = nullptr);
  HRESULT SetFloats(D3DXHANDLE handle, std::span<const float> values, bool matrix);
  HRESULT ApplyPass(UINT pass);
  void PushValues(size_t program);
  void BindSamplers(const PassData& pass);

  d3d::Device* device_;
  EffectDesc desc_;
  std::vector<Value> values_;
  std::vector<std::shared_ptr<d3d::ShaderProgram>> programs_;
  std::vector<std::vector<uint64_t>> pushed_;  // per program, per parameter: version handed over
  std::vector<std::vector<PassData>> passes_;  // per technique
  size_t technique_ = 0;
  bool begun_ = false;
  bool passOpen_ = false;
  int currentPass_ = -1;
  Saved saved_;
};

// An effect from the bytes of a .fx or .fxo file (told apart by content); `source` names it in
// messages. Results: S_OK; D3DERR_INVALIDCALL for a null device or effect place; E_FAIL when the
// text does not parse or a program does not compile, D3DXERR_INVALIDDATA for a damaged .fxo or
// more than kFxMaxFileBytes, in each case with `errors` (when given) holding
// "source(line): error: message" lines.
HRESULT D3DXCreateEffect(d3d::Device* device, std::string_view bytes, const std::string& source,
                         const D3DXMACRO* defines, DWORD flags, std::unique_ptr<Effect>* effect,
                         std::unique_ptr<D3DXBuffer>* errors);

// The same from a file given by its library path; HRESULT_FILE_NOT_FOUND (no error buffer) when
// it cannot be read. `include` and `pool` must be null (neither is supported); `flags`
// (D3DXSHADER_DEBUG and the like) change nothing.
HRESULT D3DXCreateEffectFromFileA(d3d::Device* device, const char* srcFile,
                                  const D3DXMACRO* defines, const void* include, DWORD flags,
                                  const void* pool, std::unique_ptr<Effect>* effect,
                                  std::unique_ptr<D3DXBuffer>* errors);

// Builds an effect from a checked description (used by the functions above and by tools).
HRESULT CreateEffectFromDesc(d3d::Device* device, EffectDesc desc, const D3DXMACRO* defines,
                             std::unique_ptr<Effect>* effect, std::unique_ptr<D3DXBuffer>* errors);

// The GLSL of one pass program, as the effect builds it (exposed for the compiler tool and tests).
struct FxProgramSource {
  std::string vertex;
  std::string fragment;
};
FxProgramSource BuildProgramSource(const EffectDesc& desc, const FxPass& pass,
                                   const D3DXMACRO* defines);

// Turns a GLSL compiler log (lines as d3d::Device::CompileProgram gives them) into effect
// errors: a line number the log names is the .fx file's (the programs carry #line directives);
// the message says which program of which stage it came from.
std::vector<FxError> MapProgramLog(const EffectDesc& desc, const FxPass& pass,
                                   const std::string& log);

}  // namespace wz::d3dx
