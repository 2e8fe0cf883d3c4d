// The effect object: programs built from an effect description, parameter values, and the
// Begin/Pass/End calls that put them on the device.
#include "platform/d3dx/effect.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <set>

#include "platform/file_io.h"

namespace wz::d3dx {
namespace {

constexpr const char* kVertexInputs =
    "in vec4 a_position;\n"
    "in vec3 a_normal;\n"
    "in vec4 a_color0;\n"
    "in vec4 a_color1;\n"
    "in vec4 a_blendweight;\n"
    "in vec4 a_blendindices;\n"
    "in vec4 a_texcoord0;\n"
    "in vec4 a_texcoord1;\n"
    "in vec4 a_texcoord2;\n"
    "in vec4 a_texcoord3;\n"
    "in vec4 a_texcoord4;\n"
    "in vec4 a_texcoord5;\n"
    "in vec4 a_texcoord6;\n"
    "in vec4 a_texcoord7;\n"
    "in vec3 a_tangent;\n"
    "in vec3 a_binormal;\n";

const char* GlslType(FxType type) {
  switch (type) {
    case FxType::kFloat:
      return "float";
    case FxType::kFloat2:
      return "vec2";
    case FxType::kFloat3:
      return "vec3";
    case FxType::kFloat4:
      return "vec4";
    case FxType::kFloat4x4:
      return "mat4";
    case FxType::kBool:
      return "bool";
    case FxType::kInt:
      return "int";
    default:
      return nullptr;
  }
}

std::string LineDirective(uint32_t line) {
  return "#line " + std::to_string(line) + "\n";
}

bool IsWordChar(char c) {
  return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// True when `text` uses `word` as a whole identifier.
bool UsesWord(std::string_view text, std::string_view word) {
  for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    const bool before = at > 0 && IsWordChar(text[at - 1]);
    const bool after = at + word.size() < text.size() && IsWordChar(text[at + word.size()]);
    if (!before && !after) return true;
  }
  return false;
}

bool ValidMacroName(const char* name) {
  if (!name || !*name || (*name >= '0' && *name <= '9')) return false;
  for (const char* p = name; *p; ++p) {
    if (!IsWordChar(*p)) return false;
  }
  return true;
}

uint32_t CountLines(const std::string& text) {
  return uint32_t(std::count(text.begin(), text.end(), '\n')) + 1;
}

// Reads "digits" at `s`, advancing it. False when there are none.
bool ReadNumber(std::string_view& s, uint32_t& out) {
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  if (ec != std::errc() || end == s.data()) return false;
  s.remove_prefix(size_t(end - s.data()));
  return true;
}

bool Eat(std::string_view& s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

// The line and message of one GLSL log line in the forms drivers write:
// "0:12(5): error: ..." (Mesa), "0(12) : error C0000: ..." (NVIDIA), "ERROR: 0:12: ..." (others).
bool ParseLogLine(std::string_view s, uint32_t& line, std::string_view& message) {
  std::string_view t = s;
  uint32_t source = 0;
  if (Eat(t, "ERROR: ") || Eat(t, "WARNING: ")) {
    if (ReadNumber(t, source) && Eat(t, ":") && ReadNumber(t, line) && Eat(t, ":")) {
      message = t;
      return true;
    }
    return false;
  }
  if (!ReadNumber(t, source)) return false;
  if (Eat(t, ":")) {
    if (!ReadNumber(t, line)) return false;
    if (Eat(t, "(")) {
      uint32_t column;
      if (!ReadNumber(t, column) || !Eat(t, ")")) return false;
    }
    if (!Eat(t, ":")) return false;
  } else if (Eat(t, "(")) {
    if (!ReadNumber(t, line) || !Eat(t, ")")) return false;
    if (!Eat(t, " :") && !Eat(t, ":")) return false;
  } else {
    return false;
  }
  message = t;
  return true;
}

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

// ---- Program text ----

FxProgramSource BuildProgramSource(const EffectDesc& d, const FxPass& pass,
                                   const D3DXMACRO* defines) {
  std::string head = "#version 330 core\n";
  for (const D3DXMACRO* m = defines; m && m->Name; ++m) {
    head += std::string("#define ") + m->Name + " " + (m->Definition ? m->Definition : "") + "\n";
  }
  // Declarations of the effect's parameters and samplers, each under its own line number.
  std::string declarations;
  for (const FxParameter& p : d.parameters) {
    const char* type = GlslType(p.type);
    if (!type) continue;
    declarations += LineDirective(p.line) + "uniform " + type + " " + p.name +
                    (p.arraySize ? "[" + std::to_string(p.arraySize) + "]" : std::string()) + ";\n";
  }
  for (const FxSampler& s : d.samplers) {
    declarations += LineDirective(s.line) + "uniform sampler2D " + s.name + ";\n";
  }
  std::string common;
  for (const FxBlock& b : d.blocks) {
    if (b.kind == FxBlockKind::kCommon) common += LineDirective(b.line) + b.text + "\n";
  }
  auto program = [&](int32_t block) {
    const FxBlock& b = d.blocks.at(size_t(block));
    return LineDirective(b.line) + b.text + "\n";
  };
  FxProgramSource out;
  out.vertex = head + "uniform vec4 wz_viewport;\n" + kVertexInputs + declarations + common +
               program(pass.vertex);
  out.fragment = head + "uniform vec4 wz_viewport;\nout vec4 o_color;\n" + declarations + common +
                 program(pass.fragment);
  return out;
}

std::vector<FxError> MapProgramLog(const EffectDesc& d, const FxPass& pass,
                                   const std::string& log) {
  std::vector<FxError> errors;
  std::string_view rest = log;
  while (!rest.empty()) {
    const size_t eol = rest.find('\n');
    std::string_view entry = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    std::string stage;
    for (const char* prefix : {"vertex: ", "fragment: ", "link: "}) {
      if (Eat(entry, prefix)) stage.assign(prefix, std::strlen(prefix) - 2);
    }
    if (Trim(entry).empty()) continue;
    uint32_t line = 0;
    std::string_view message;
    if (!ParseLogLine(entry, line, message)) {
      line = 0;
      message = entry;
    }
    std::string text = Trim(message);
    bool warning = false;
    if (text.rfind("error: ", 0) == 0) {
      text.erase(0, 7);
    } else if (text.rfind("warning: ", 0) == 0) {
      text.erase(0, 9);
      warning = true;
    }
    // Name the program the line belongs to: a block of the pass, a common block, or the pass.
    std::string where;
    if (line) {
      for (const FxSampler& s : d.samplers) {
        if (s.line == line && where.empty()) where = "sampler '" + s.name + "'";
      }
      for (const FxParameter& p : d.parameters) {
        if (p.line == line && where.empty()) where = "parameter '" + p.name + "'";
      }
      for (const FxBlock& b : d.blocks) {
        if (line >= b.line && line < b.line + CountLines(b.text)) {
          where = (b.kind == FxBlockKind::kCommon   ? "common block '"
                   : b.kind == FxBlockKind::kVertex ? "vertex program '"
                                                    : "fragment program '") +
                  b.name + "'";
        }
      }
    }
    if (where.empty()) {
      const int32_t block = stage == "fragment" ? pass.fragment : pass.vertex;
      where = stage == "link" ? "pass '" + pass.name + "'"
                              : std::string(stage == "fragment" ? "fragment" : "vertex") +
                                    " program '" + d.blocks.at(size_t(block)).name + "'";
    }
    errors.push_back({line, where + ": " + text, warning});
  }
  if (errors.empty()) errors.push_back({pass.line, "pass '" + pass.name + "' does not build"});
  return errors;
}

// ---- Creation ----

Effect::Effect(d3d::Device* device, EffectDesc desc) : device_(device), desc_(std::move(desc)) {
  values_.resize(desc_.parameters.size());
  for (size_t i = 0; i < values_.size(); ++i) {
    const FxParameter& p = desc_.parameters[i];
    values_[i].floats = p.initial.empty() ? std::vector<float>(p.Floats(), 0.0f) : p.initial;
  }
}

Effect::~Effect() = default;

HRESULT CreateEffectFromDesc(d3d::Device* device, EffectDesc desc, const D3DXMACRO* defines,
                             std::unique_ptr<Effect>* effect, std::unique_ptr<D3DXBuffer>* errors) {
  if (!device || !effect) return D3DERR_INVALIDCALL;
  effect->reset();
  if (errors) errors->reset();
  const std::string source = desc.source;
  auto fail = [&](HRESULT hr, const std::vector<FxError>& list) {
    if (errors) {
      std::string text;
      for (const FxError& e : list)
        text += FormatFxError(source, e) + "\n";
      *errors = std::make_unique<D3DXBuffer>(std::move(text));
    }
    return hr;
  };
  FxError error;
  if (!ValidateEffect(desc, error)) return fail(D3DXERR_INVALIDDATA, {error});
  for (const D3DXMACRO* m = defines; m && m->Name; ++m) {
    if (!ValidMacroName(m->Name))
      return fail(E_FAIL, {{0, "bad macro name '" + std::string(m->Name) + "'"}});
  }

  std::unique_ptr<Effect> e(new Effect(device, std::move(desc)));
  const EffectDesc& d = e->desc_;
  std::map<std::string, uint32_t> stages;
  for (const FxSampler& s : d.samplers)
    stages[s.name] = s.stage;
  std::map<std::pair<int32_t, int32_t>, size_t> programOf;
  std::vector<FxError> problems;
  for (const FxTechnique& t : d.techniques) {
    std::vector<Effect::PassData>& passes = e->passes_.emplace_back();
    for (const FxPass& pass : t.passes) {
      Effect::PassData data;
      auto [it, added] =
          programOf.emplace(std::make_pair(pass.vertex, pass.fragment), e->programs_.size());
      data.program = it->second;
      if (added) {
        const FxProgramSource src = BuildProgramSource(d, pass, defines);
        auto program = std::make_shared<d3d::ShaderProgram>(
            d.source + " " + d.blocks[size_t(pass.vertex)].name + "+" +
                d.blocks[size_t(pass.fragment)].name,
            src.vertex, src.fragment, stages);
        std::string log;
        if (Failed(device->CompileProgram(program.get(), &log))) {
          const std::vector<FxError> mapped = MapProgramLog(d, pass, log);
          problems.insert(problems.end(), mapped.begin(), mapped.end());
        }
        e->programs_.push_back(std::move(program));
        e->pushed_.emplace_back(d.parameters.size(), 0);
      }
      // The samplers its programs (or the common code they include) name.
      const std::string& vs = d.blocks[size_t(pass.vertex)].text;
      const std::string& fs = d.blocks[size_t(pass.fragment)].text;
      for (size_t i = 0; i < d.samplers.size(); ++i) {
        const std::string& name = d.samplers[i].name;
        bool used = UsesWord(vs, name) || UsesWord(fs, name);
        for (const FxBlock& b : d.blocks) {
          if (b.kind == FxBlockKind::kCommon && UsesWord(b.text, name)) used = true;
        }
        if (used) data.samplers.push_back(i);
      }
      passes.push_back(std::move(data));
    }
  }
  if (!problems.empty()) {
    std::stable_sort(problems.begin(), problems.end(),
                     [](const FxError& a, const FxError& b) { return a.line < b.line; });
    // An error in a common block comes from every program that includes it: name it once.
    std::vector<FxError> unique;
    for (const FxError& e : problems) {
      if (std::none_of(unique.begin(), unique.end(), [&e](const FxError& u) {
            return u.line == e.line && u.message == e.message;
          })) {
        unique.push_back(e);
      }
    }
    problems = std::move(unique);
    return fail(E_FAIL, problems);
  }
  *effect = std::move(e);
  return S_OK;
}

HRESULT D3DXCreateEffect(d3d::Device* device, std::string_view bytes, const std::string& source,
                         const D3DXMACRO* defines, DWORD, std::unique_ptr<Effect>* effect,
                         std::unique_ptr<D3DXBuffer>* errors) {
  if (!device || !effect) return D3DERR_INVALIDCALL;
  effect->reset();
  if (errors) errors->reset();
  EffectDesc desc;
  FxError error;
  if (bytes.size() > kFxMaxFileBytes) {
    if (errors) {
      *errors = std::make_unique<D3DXBuffer>(
          FormatFxError(source, {0, "larger than 1 MB, the most an effect may be"}) + "\n");
    }
    return D3DXERR_INVALIDDATA;
  }
  if (LooksLikeFxo(bytes)) {
    if (!ReadFxo(bytes, desc, error)) {
      if (errors) *errors = std::make_unique<D3DXBuffer>(FormatFxError(source, error) + "\n");
      return D3DXERR_INVALIDDATA;
    }
  } else if (!ParseEffectText(bytes, source, desc, error)) {
    if (errors) *errors = std::make_unique<D3DXBuffer>(FormatFxError(source, error) + "\n");
    return E_FAIL;
  }
  return CreateEffectFromDesc(device, std::move(desc), defines, effect, errors);
}

HRESULT D3DXCreateEffectFromFileA(d3d::Device* device, const char* srcFile,
                                  const D3DXMACRO* defines, const void* include, DWORD flags,
                                  const void* pool, std::unique_ptr<Effect>* effect,
                                  std::unique_ptr<D3DXBuffer>* errors) {
  if (effect) effect->reset();
  if (errors) errors->reset();
  if (!device || !srcFile || !effect || include || pool) return D3DERR_INVALIDCALL;
  std::vector<uint8_t> bytes;
  if (!platform::FileExists(srcFile)) return HRESULT_FILE_NOT_FOUND;
  if (!platform::ReadFileBytes(srcFile, bytes, kFxMaxFileBytes)) {
    if (errors) {
      *errors = std::make_unique<D3DXBuffer>(
          FormatFxError(srcFile, {0, "cannot be read, or is larger than 1 MB"}) + "\n");
    }
    return E_FAIL;
  }
  return D3DXCreateEffect(device, {reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                          srcFile, defines, flags, effect, errors);
}

// ---- Lookup ----

int Effect::FindParameter(D3DXHANDLE handle) const {
  if (!handle) return -1;
  for (size_t i = 0; i < desc_.parameters.size(); ++i) {
    if (handle == desc_.parameters[i].name.c_str()) return int(i);
  }
  for (size_t i = 0; i < desc_.parameters.size(); ++i) {
    if (desc_.parameters[i].name == handle) return int(i);
  }
  return -1;
}

int Effect::FindTechnique(D3DXHANDLE handle) const {
  if (!handle) return -1;
  for (size_t i = 0; i < desc_.techniques.size(); ++i) {
    if (handle == desc_.techniques[i].name.c_str()) return int(i);
  }
  for (size_t i = 0; i < desc_.techniques.size(); ++i) {
    if (desc_.techniques[i].name == handle) return int(i);
  }
  return -1;
}

D3DXHANDLE Effect::GetTechniqueByName(const char* name) const {
  const int i = FindTechnique(name);
  return i < 0 ? nullptr : desc_.techniques[size_t(i)].name.c_str();
}

D3DXHANDLE Effect::GetTechnique(UINT index) const {
  return index < desc_.techniques.size() ? desc_.techniques[index].name.c_str() : nullptr;
}

D3DXHANDLE Effect::GetParameterByName(D3DXHANDLE parent, const char* name) const {
  if (parent) return nullptr;
  const int i = FindParameter(name);
  return i < 0 ? nullptr : desc_.parameters[size_t(i)].name.c_str();
}

D3DXHANDLE Effect::GetCurrentTechnique() const {
  return desc_.techniques[technique_].name.c_str();
}

HRESULT Effect::SetTechnique(D3DXHANDLE technique) {
  const int i = FindTechnique(technique);
  if (i < 0 || begun_) return D3DERR_INVALIDCALL;
  technique_ = size_t(i);
  return S_OK;
}

d3d::ShaderProgram* Effect::PassProgram(UINT technique, UINT pass) const {
  if (technique >= passes_.size() || pass >= passes_[technique].size()) return nullptr;
  return programs_[passes_[technique][pass].program].get();
}

// ---- Parameters ----

Effect::Value* Effect::ValueOf(D3DXHANDLE handle, int* index) {
  const int i = FindParameter(handle);
  if (i < 0 || desc_.parameters[size_t(i)].type == FxType::kTexture) return nullptr;
  if (index) *index = i;
  return &values_[size_t(i)];
}

HRESULT Effect::SetFloats(D3DXHANDLE handle, std::span<const float> values, bool matrix) {
  int i = -1;
  Value* v = ValueOf(handle, &i);
  if (!v) return D3DERR_INVALIDCALL;
  const FxParameter& p = desc_.parameters[size_t(i)];
  if (matrix != (p.type == FxType::kFloat4x4)) return D3DERR_INVALIDCALL;
  if (matrix && values.size() > v->floats.size()) return D3DERR_INVALIDCALL;
  const size_t n = std::min(values.size(), v->floats.size());
  for (size_t k = 0; k < n; ++k) {
    v->floats[k] = p.type == FxType::kBool  ? (values[k] != 0.0f ? 1.0f : 0.0f)
                   : p.type == FxType::kInt ? float(int32_t(values[k]))
                                            : values[k];
  }
  ++v->version;
  return S_OK;
}

HRESULT Effect::SetMatrix(D3DXHANDLE parameter, const d3d::D3DMATRIX* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  return SetFloats(parameter, {&matrix->m[0][0], 16}, true);
}

HRESULT Effect::SetMatrixArray(D3DXHANDLE parameter, const d3d::D3DMATRIX* matrices, UINT count) {
  if (!matrices && count) return D3DERR_INVALIDCALL;
  std::vector<float> floats(size_t(count) * 16);
  for (UINT i = 0; i < count; ++i)
    std::memcpy(&floats[size_t(i) * 16], &matrices[i].m[0][0], 64);
  return SetFloats(parameter, floats, true);
}

HRESULT Effect::SetVector(D3DXHANDLE parameter, const float* xyzw) {
  if (!xyzw) return D3DERR_INVALIDCALL;
  return SetFloats(parameter, {xyzw, 4}, false);
}

HRESULT Effect::SetFloat(D3DXHANDLE parameter, float value) {
  return SetFloats(parameter, {&value, 1}, false);
}

HRESULT Effect::SetBool(D3DXHANDLE parameter, BOOL value) {
  const float f = value ? 1.0f : 0.0f;
  return SetFloats(parameter, {&f, 1}, false);
}

HRESULT Effect::SetInt(D3DXHANDLE parameter, INT value) {
  const float f = float(value);
  return SetFloats(parameter, {&f, 1}, false);
}

HRESULT Effect::SetTexture(D3DXHANDLE parameter, d3d::Texture* texture) {
  const int i = FindParameter(parameter);
  if (i < 0 || desc_.parameters[size_t(i)].type != FxType::kTexture) return D3DERR_INVALIDCALL;
  Value& v = values_[size_t(i)];
  v.texture = texture ? texture->shared_from_this() : nullptr;
  ++v.version;
  return S_OK;
}

HRESULT Effect::SetValue(D3DXHANDLE parameter, const void* data, UINT bytes) {
  int i = -1;
  Value* v = ValueOf(parameter, &i);
  if (!v || !data || bytes % 4 != 0 || bytes / 4 > v->floats.size()) return D3DERR_INVALIDCALL;
  const FxType type = desc_.parameters[size_t(i)].type;
  for (size_t k = 0; k < bytes / 4; ++k) {
    if (type == FxType::kBool || type == FxType::kInt) {
      int32_t n;
      std::memcpy(&n, static_cast<const uint8_t*>(data) + k * 4, 4);
      v->floats[k] = type == FxType::kBool ? (n != 0 ? 1.0f : 0.0f) : float(n);
    } else {
      std::memcpy(&v->floats[k], static_cast<const uint8_t*>(data) + k * 4, 4);
    }
  }
  ++v->version;
  return S_OK;
}

HRESULT Effect::GetValue(D3DXHANDLE parameter, void* data, UINT bytes) const {
  const int i = FindParameter(parameter);
  if (i < 0 || !data || bytes % 4 != 0) return D3DERR_INVALIDCALL;
  const FxType type = desc_.parameters[size_t(i)].type;
  const Value& v = values_[size_t(i)];
  if (type == FxType::kTexture || bytes / 4 > v.floats.size()) return D3DERR_INVALIDCALL;
  for (size_t k = 0; k < bytes / 4; ++k) {
    if (type == FxType::kBool || type == FxType::kInt) {
      const int32_t n = int32_t(v.floats[k]);
      std::memcpy(static_cast<uint8_t*>(data) + k * 4, &n, 4);
    } else {
      std::memcpy(static_cast<uint8_t*>(data) + k * 4, &v.floats[k], 4);
    }
  }
  return S_OK;
}

HRESULT Effect::GetFloat(D3DXHANDLE parameter, float* value) const {
  const int i = FindParameter(parameter);
  if (i < 0 || !value || values_[size_t(i)].floats.empty()) return D3DERR_INVALIDCALL;
  *value = values_[size_t(i)].floats[0];
  return S_OK;
}

// ---- Drawing ----

HRESULT Effect::Begin(UINT* passes, DWORD flags) {
  if (begun_) return D3DERR_INVALIDCALL;
  const std::vector<PassData>& list = passes_[technique_];
  if (passes) *passes = UINT(list.size());
  saved_ = Saved{};
  if (!(flags & D3DXFX_DONOTSAVESTATE)) {
    saved_.states = true;
    std::set<uint32_t> states;
    for (const FxPass& p : desc_.techniques[technique_].passes) {
      for (const FxState& s : p.states)
        states.insert(s.id);
    }
    for (uint32_t id : states) {
      DWORD value = 0;
      device_->GetRenderState(d3d::D3DRENDERSTATETYPE(id), &value);
      saved_.renderStates.emplace_back(id, value);
    }
    if (!(flags & D3DXFX_DONOTSAVESHADERSTATE)) {
      saved_.shader = true;
      d3d::ShaderProgram* current = device_->GetProgram();
      saved_.program = current ? current->shared_from_this() : nullptr;
    }
    if (!(flags & D3DXFX_DONOTSAVESAMPLERSTATE)) {
      saved_.samplers = true;
      std::set<size_t> samplers;
      for (const PassData& p : list)
        samplers.insert(p.samplers.begin(), p.samplers.end());
      for (size_t i : samplers) {
        const FxSampler& s = desc_.samplers[i];
        d3d::Texture* t = device_->GetTexture(s.stage);
        saved_.textures.emplace_back(s.stage, t ? t->shared_from_this() : nullptr);
        for (const FxState& st : s.states) {
          DWORD value = 0;
          device_->GetSamplerState(s.stage, d3d::D3DSAMPLERSTATETYPE(st.id), &value);
          saved_.samplerStates.emplace_back(s.stage, st.id, value);
        }
      }
    }
  }
  begun_ = true;
  passOpen_ = false;
  currentPass_ = -1;
  return S_OK;
}

HRESULT Effect::BeginPass(UINT pass) {
  if (!begun_ || passOpen_ || pass >= passes_[technique_].size()) return D3DERR_INVALIDCALL;
  passOpen_ = true;
  return ApplyPass(pass);
}

HRESULT Effect::Pass(UINT pass) {
  if (!begun_ || pass >= passes_[technique_].size()) return D3DERR_INVALIDCALL;
  return ApplyPass(pass);
}

HRESULT Effect::EndPass() {
  if (!passOpen_) return D3DERR_INVALIDCALL;
  passOpen_ = false;
  return S_OK;
}

HRESULT Effect::End() {
  if (!begun_) return D3DERR_INVALIDCALL;
  for (const auto& [id, value] : saved_.renderStates)
    device_->SetRenderState(d3d::D3DRENDERSTATETYPE(id), value);
  if (saved_.shader) device_->SetProgram(saved_.program.get());
  for (const auto& [stage, texture] : saved_.textures)
    device_->SetTexture(stage, texture.get());
  for (const auto& [stage, id, value] : saved_.samplerStates)
    device_->SetSamplerState(stage, d3d::D3DSAMPLERSTATETYPE(id), value);
  saved_ = Saved{};
  begun_ = false;
  passOpen_ = false;
  currentPass_ = -1;
  return S_OK;
}

HRESULT Effect::CommitChanges() {
  if (!begun_ || currentPass_ < 0) return S_OK;
  const PassData& pass = passes_[technique_][size_t(currentPass_)];
  PushValues(pass.program);
  BindSamplers(pass);
  return S_OK;
}

HRESULT Effect::ApplyPass(UINT index) {
  const FxPass& pass = desc_.techniques[technique_].passes[index];
  const PassData& data = passes_[technique_][index];
  for (const FxState& s : pass.states)
    device_->SetRenderState(d3d::D3DRENDERSTATETYPE(s.id), s.value);
  device_->SetProgram(programs_[data.program].get());
  PushValues(data.program);
  BindSamplers(data);
  currentPass_ = int(index);
  return S_OK;
}

void Effect::PushValues(size_t program) {
  d3d::ShaderProgram& target = *programs_[program];
  std::vector<uint64_t>& pushed = pushed_[program];
  for (size_t i = 0; i < values_.size(); ++i) {
    const FxParameter& p = desc_.parameters[i];
    const Value& v = values_[i];
    if (p.type == FxType::kTexture || pushed[i] == v.version) continue;
    pushed[i] = v.version;
    if (p.type == FxType::kFloat4x4) {
      target.SetMatrices(p.name, v.floats);
    } else if (p.type == FxType::kBool || p.type == FxType::kInt) {
      std::vector<int32_t> ints(v.floats.begin(), v.floats.end());
      target.SetInts(p.name, ints);
    } else {
      target.SetFloats(p.name, v.floats);
    }
  }
}

void Effect::BindSamplers(const PassData& pass) {
  for (size_t i : pass.samplers) {
    const FxSampler& s = desc_.samplers[i];
    for (const FxState& st : s.states)
      device_->SetSamplerState(s.stage, d3d::D3DSAMPLERSTATETYPE(st.id), st.value);
    if (s.texture >= 0) {
      const Value& v = values_[size_t(s.texture)];
      if (v.texture) device_->SetTexture(s.stage, v.texture.get());
    }
  }
}

}  // namespace wz::d3dx
