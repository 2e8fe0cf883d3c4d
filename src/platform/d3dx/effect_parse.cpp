// The .fx text parser and the checks every effect description must pass.
//
// The text is read from memory by a small lexer that counts lines; comments are // and /* */.
// Keywords of the format are case-sensitive, names of render states, sampler states and their
// values are not (as in the effect files this format imitates). The first error ends the parse.
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <tuple>

#include "platform/d3d/d3d9_types.h"
#include "platform/d3dx/effect_desc.h"

namespace wz::d3dx {
namespace {

using namespace wz::d3d;

// ---- Tables of states and values ----

struct NamedValue {
  const char* name;
  uint32_t value;
};

enum class ValueKind : uint8_t {
  kBool,
  kInt,
  kFloat,
  kCmp,
  kBlend,
  kBlendOp,
  kCull,
  kFill,
  kShade,
  kStencilOp,
  kFilter,
  kAddress
};

constexpr NamedValue kBoolValues[] = {{"true", 1}, {"false", 0}};
constexpr NamedValue kCmpValues[] = {{"Never", D3DCMP_NEVER},
                                     {"Less", D3DCMP_LESS},
                                     {"Equal", D3DCMP_EQUAL},
                                     {"LessEqual", D3DCMP_LESSEQUAL},
                                     {"Greater", D3DCMP_GREATER},
                                     {"NotEqual", D3DCMP_NOTEQUAL},
                                     {"GreaterEqual", D3DCMP_GREATEREQUAL},
                                     {"Always", D3DCMP_ALWAYS}};
constexpr NamedValue kBlendValues[] = {{"Zero", D3DBLEND_ZERO},
                                       {"One", D3DBLEND_ONE},
                                       {"SrcColor", D3DBLEND_SRCCOLOR},
                                       {"InvSrcColor", D3DBLEND_INVSRCCOLOR},
                                       {"SrcAlpha", D3DBLEND_SRCALPHA},
                                       {"InvSrcAlpha", D3DBLEND_INVSRCALPHA},
                                       {"DestAlpha", D3DBLEND_DESTALPHA},
                                       {"InvDestAlpha", D3DBLEND_INVDESTALPHA},
                                       {"DestColor", D3DBLEND_DESTCOLOR},
                                       {"InvDestColor", D3DBLEND_INVDESTCOLOR},
                                       {"SrcAlphaSat", D3DBLEND_SRCALPHASAT},
                                       {"BothSrcAlpha", D3DBLEND_BOTHSRCALPHA},
                                       {"BothInvSrcAlpha", D3DBLEND_BOTHINVSRCALPHA},
                                       {"BlendFactor", D3DBLEND_BLENDFACTOR},
                                       {"InvBlendFactor", D3DBLEND_INVBLENDFACTOR}};
constexpr NamedValue kBlendOpValues[] = {{"Add", D3DBLENDOP_ADD},
                                         {"Subtract", D3DBLENDOP_SUBTRACT},
                                         {"RevSubtract", D3DBLENDOP_REVSUBTRACT},
                                         {"Min", D3DBLENDOP_MIN},
                                         {"Max", D3DBLENDOP_MAX}};
constexpr NamedValue kCullValues[] = {
    {"None", D3DCULL_NONE}, {"CW", D3DCULL_CW}, {"CCW", D3DCULL_CCW}};
constexpr NamedValue kFillValues[] = {
    {"Point", D3DFILL_POINT}, {"Wireframe", D3DFILL_WIREFRAME}, {"Solid", D3DFILL_SOLID}};
constexpr NamedValue kShadeValues[] = {
    {"Flat", D3DSHADE_FLAT}, {"Gouraud", D3DSHADE_GOURAUD}, {"Phong", D3DSHADE_PHONG}};
constexpr NamedValue kStencilOpValues[] = {
    {"Keep", D3DSTENCILOP_KEEP},       {"Zero", D3DSTENCILOP_ZERO},
    {"Replace", D3DSTENCILOP_REPLACE}, {"IncrSat", D3DSTENCILOP_INCRSAT},
    {"DecrSat", D3DSTENCILOP_DECRSAT}, {"Invert", D3DSTENCILOP_INVERT},
    {"Incr", D3DSTENCILOP_INCR},       {"Decr", D3DSTENCILOP_DECR}};
constexpr NamedValue kFilterValues[] = {{"None", D3DTEXF_NONE},
                                        {"Point", D3DTEXF_POINT},
                                        {"Linear", D3DTEXF_LINEAR},
                                        {"Anisotropic", D3DTEXF_ANISOTROPIC}};
constexpr NamedValue kAddressValues[] = {{"Wrap", D3DTADDRESS_WRAP},
                                         {"Mirror", D3DTADDRESS_MIRROR},
                                         {"Clamp", D3DTADDRESS_CLAMP},
                                         {"Border", D3DTADDRESS_BORDER},
                                         {"MirrorOnce", D3DTADDRESS_MIRRORONCE}};

std::span<const NamedValue> ValuesOf(ValueKind kind) {
  switch (kind) {
    case ValueKind::kBool:
      return kBoolValues;
    case ValueKind::kCmp:
      return kCmpValues;
    case ValueKind::kBlend:
      return kBlendValues;
    case ValueKind::kBlendOp:
      return kBlendOpValues;
    case ValueKind::kCull:
      return kCullValues;
    case ValueKind::kFill:
      return kFillValues;
    case ValueKind::kShade:
      return kShadeValues;
    case ValueKind::kStencilOp:
      return kStencilOpValues;
    case ValueKind::kFilter:
      return kFilterValues;
    case ValueKind::kAddress:
      return kAddressValues;
    default:
      return {};
  }
}

struct StateInfo {
  const char* name;
  uint32_t id;
  ValueKind kind;
};

constexpr StateInfo kRenderStates[] = {
    {"ZEnable", D3DRS_ZENABLE, ValueKind::kBool},
    {"ZWriteEnable", D3DRS_ZWRITEENABLE, ValueKind::kBool},
    {"ZFunc", D3DRS_ZFUNC, ValueKind::kCmp},
    {"AlphaBlendEnable", D3DRS_ALPHABLENDENABLE, ValueKind::kBool},
    {"SrcBlend", D3DRS_SRCBLEND, ValueKind::kBlend},
    {"DestBlend", D3DRS_DESTBLEND, ValueKind::kBlend},
    {"BlendOp", D3DRS_BLENDOP, ValueKind::kBlendOp},
    {"SeparateAlphaBlendEnable", D3DRS_SEPARATEALPHABLENDENABLE, ValueKind::kBool},
    {"SrcBlendAlpha", D3DRS_SRCBLENDALPHA, ValueKind::kBlend},
    {"DestBlendAlpha", D3DRS_DESTBLENDALPHA, ValueKind::kBlend},
    {"BlendOpAlpha", D3DRS_BLENDOPALPHA, ValueKind::kBlendOp},
    {"BlendFactor", D3DRS_BLENDFACTOR, ValueKind::kInt},
    {"AlphaTestEnable", D3DRS_ALPHATESTENABLE, ValueKind::kBool},
    {"AlphaRef", D3DRS_ALPHAREF, ValueKind::kInt},
    {"AlphaFunc", D3DRS_ALPHAFUNC, ValueKind::kCmp},
    {"CullMode", D3DRS_CULLMODE, ValueKind::kCull},
    {"FillMode", D3DRS_FILLMODE, ValueKind::kFill},
    {"ShadeMode", D3DRS_SHADEMODE, ValueKind::kShade},
    {"ColorWriteEnable", D3DRS_COLORWRITEENABLE, ValueKind::kInt},
    {"StencilEnable", D3DRS_STENCILENABLE, ValueKind::kBool},
    {"StencilFunc", D3DRS_STENCILFUNC, ValueKind::kCmp},
    {"StencilRef", D3DRS_STENCILREF, ValueKind::kInt},
    {"StencilMask", D3DRS_STENCILMASK, ValueKind::kInt},
    {"StencilWriteMask", D3DRS_STENCILWRITEMASK, ValueKind::kInt},
    {"StencilFail", D3DRS_STENCILFAIL, ValueKind::kStencilOp},
    {"StencilZFail", D3DRS_STENCILZFAIL, ValueKind::kStencilOp},
    {"StencilPass", D3DRS_STENCILPASS, ValueKind::kStencilOp},
    {"DitherEnable", D3DRS_DITHERENABLE, ValueKind::kBool},
    {"ScissorTestEnable", D3DRS_SCISSORTESTENABLE, ValueKind::kBool},
    {"DepthBias", D3DRS_DEPTHBIAS, ValueKind::kFloat},
    {"SlopeScaleDepthBias", D3DRS_SLOPESCALEDEPTHBIAS, ValueKind::kFloat},
    {"TextureFactor", D3DRS_TEXTUREFACTOR, ValueKind::kInt},
};

constexpr StateInfo kSamplerStates[] = {
    {"AddressU", D3DSAMP_ADDRESSU, ValueKind::kAddress},
    {"AddressV", D3DSAMP_ADDRESSV, ValueKind::kAddress},
    {"AddressW", D3DSAMP_ADDRESSW, ValueKind::kAddress},
    {"BorderColor", D3DSAMP_BORDERCOLOR, ValueKind::kInt},
    {"MagFilter", D3DSAMP_MAGFILTER, ValueKind::kFilter},
    {"MinFilter", D3DSAMP_MINFILTER, ValueKind::kFilter},
    {"MipFilter", D3DSAMP_MIPFILTER, ValueKind::kFilter},
    {"MipMapLodBias", D3DSAMP_MIPMAPLODBIAS, ValueKind::kFloat},
    {"MaxMipLevel", D3DSAMP_MAXMIPLEVEL, ValueKind::kInt},
    {"MaxAnisotropy", D3DSAMP_MAXANISOTROPY, ValueKind::kInt},
};

bool SameName(std::string_view a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

template <class T>
const T* FindNamed(std::span<const T> table, std::string_view name) {
  for (const T& e : table) {
    if (SameName(name, e.name)) return &e;
  }
  return nullptr;
}

struct TypeName {
  const char* name;
  FxType type;
};
constexpr TypeName kTypeNames[] = {
    {"float", FxType::kFloat},       {"float2", FxType::kFloat2},     {"float3", FxType::kFloat3},
    {"float4", FxType::kFloat4},     {"float4x4", FxType::kFloat4x4}, {"matrix", FxType::kFloat4x4},
    {"bool", FxType::kBool},         {"int", FxType::kInt},           {"texture", FxType::kTexture},
    {"texture2D", FxType::kTexture},
};

// ---- Lexer ----

enum class Tok : uint8_t { kEnd, kIdent, kNumber, kPunct };

struct Token {
  Tok kind = Tok::kEnd;
  std::string_view text;
  uint32_t line = 1;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  // Skips spaces and comments. False for a comment that never ends.
  bool SkipSpace(FxError& error) {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n')
          ++pos_;
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        const uint32_t start = line_;
        const size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) {
          error = {start, "comment without an end"};
          return false;
        }
        line_ += uint32_t(std::count(text_.begin() + long(pos_), text_.begin() + long(end), '\n'));
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  bool Next(Token& t, FxError& error) {
    if (!SkipSpace(error)) return false;
    t.line = line_;
    if (pos_ >= text_.size()) {
      t.kind = Tok::kEnd;
      t.text = {};
      return true;
    }
    const size_t start = pos_;
    const char c = text_[pos_];
    auto isIdent = [](char ch, bool first) {
      return ch == '_' || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
             (!first && ch >= '0' && ch <= '9');
    };
    if (isIdent(c, true)) {
      while (pos_ < text_.size() && isIdent(text_[pos_], false))
        ++pos_;
      t.kind = Tok::kIdent;
    } else if ((c >= '0' && c <= '9') || c == '.' ||
               ((c == '-' || c == '+') && pos_ + 1 < text_.size() &&
                ((text_[pos_ + 1] >= '0' && text_[pos_ + 1] <= '9') || text_[pos_ + 1] == '.'))) {
      ++pos_;
      while (pos_ < text_.size()) {
        const char d = text_[pos_];
        const bool exponentSign =
            (d == '-' || d == '+') && (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E') &&
            !(text_.compare(start, 2, "0x") == 0 || text_.compare(start, 2, "0X") == 0);
        if (isIdent(d, false) || d == '.' || exponentSign) {
          ++pos_;
        } else {
          break;
        }
      }
      t.kind = Tok::kNumber;
    } else {
      ++pos_;
      t.kind = Tok::kPunct;
    }
    t.text = text_.substr(start, pos_ - start);
    return true;
  }

  // After an opening brace: the text up to the matching closing brace (which is consumed), with
  // comments kept. False when the braces never balance.
  bool RawBlock(std::string& out, uint32_t openLine, FxError& error) {
    int depth = 1;
    const size_t start = pos_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n')
          ++pos_;
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        const size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) break;
        line_ += uint32_t(std::count(text_.begin() + long(pos_), text_.begin() + long(end), '\n'));
        pos_ = end + 2;
      } else if (c == '{') {
        ++depth;
        ++pos_;
      } else if (c == '}') {
        if (--depth == 0) {
          out.assign(text_.substr(start, pos_ - start));
          ++pos_;
          return true;
        }
        ++pos_;
      } else {
        ++pos_;
      }
    }
    error = {openLine, "'{' without its '}'"};
    return false;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  uint32_t line_ = 1;
};

std::string Quote(std::string_view s) {
  return "'" + std::string(s) + "'";
}

bool ParseFloat(std::string_view s, float& out) {
  if (!s.empty() && (s.back() == 'f' || s.back() == 'F') &&
      s.find_first_of("xX") == std::string_view::npos) {
    s.remove_suffix(1);
  }
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && std::isfinite(out);
}

bool ParseUnsigned(std::string_view s, uint32_t& out) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

// ---- Parser ----

struct PendingRef {
  size_t technique, pass;
  bool vertex;
  std::string name;
  uint32_t line;
};

class Parser {
 public:
  Parser(std::string_view text, EffectDesc& out, FxError& error)
      : lex_(text), out_(out), error_(error) {}

  bool Run() {
    if (!Advance()) return false;
    while (tok_.kind != Tok::kEnd) {
      if (tok_.kind != Tok::kIdent)
        return Fail("expected a parameter, sampler, program or technique");
      const std::string_view kw = tok_.text;
      bool ok;
      if (const TypeName* t = FindType(kw)) {
        ok = ParseParameter(t->type);
      } else if (kw == "sampler" || kw == "sampler2D") {
        ok = ParseSampler();
      } else if (kw == "common" || kw == "vertex" || kw == "fragment") {
        ok = ParseBlock(kw == "common"   ? FxBlockKind::kCommon
                        : kw == "vertex" ? FxBlockKind::kVertex
                                         : FxBlockKind::kFragment);
      } else if (kw == "technique") {
        ok = ParseTechnique();
      } else {
        return Fail("unexpected " + Quote(kw) +
                    "; expected a parameter, sampler, program or technique");
      }
      if (!ok) return false;
    }
    return ResolveReferences() && AssignStages();
  }

 private:
  static const TypeName* FindType(std::string_view s) {
    for (const TypeName& t : kTypeNames) {
      if (s == t.name) return &t;
    }
    return nullptr;
  }

  bool Fail(std::string message, uint32_t line = 0) {
    error_ = {line ? line : tok_.line, std::move(message)};
    return false;
  }
  bool Advance() { return lex_.Next(tok_, error_); }
  bool IsPunct(char c) const {
    return tok_.kind == Tok::kPunct && tok_.text.size() == 1 && tok_.text[0] == c;
  }
  bool Expect(char c, const char* what) {
    if (!IsPunct(c)) {
      return Fail(
          std::string("expected '") + c + "' " + what +
          (tok_.kind == Tok::kEnd ? ", found the end of the file" : ", found " + Quote(tok_.text)));
    }
    return Advance();
  }
  bool Name(std::string& out, const char* what) {
    if (tok_.kind != Tok::kIdent) {
      return Fail(
          std::string("expected ") + what +
          (tok_.kind == Tok::kEnd ? ", found the end of the file" : ", found " + Quote(tok_.text)));
    }
    out.assign(tok_.text);
    return Advance();
  }

  // type name [ '[' N ']' ] [ '=' initialiser ] ';'
  bool ParseParameter(FxType type) {
    FxParameter p;
    p.type = type;
    if (!Advance()) return false;
    p.line = tok_.line;
    if (!Name(p.name, "a parameter name")) return false;
    if (IsPunct('[')) {
      if (!Advance()) return false;
      uint32_t n = 0;
      if (tok_.kind != Tok::kNumber || !ParseUnsigned(tok_.text, n) || n == 0 ||
          n > kFxMaxArraySize) {
        return Fail("array size of " + Quote(p.name) + " must be 1 to " +
                    std::to_string(kFxMaxArraySize));
      }
      p.arraySize = n;
      if (!Advance() || !Expect(']', "after the array size")) return false;
    }
    if (type == FxType::kTexture && p.arraySize) return Fail("textures cannot be arrays");
    if (IsPunct(':'))
      return Fail("semantics are not supported; remove ': ...' after " + Quote(p.name));
    if (IsPunct('=')) {
      if (type == FxType::kTexture) return Fail("a texture has no initial value");
      if (!Advance() || !ParseInitialiser(p)) return false;
    }
    if (!Expect(';', "after the parameter")) return false;
    out_.parameters.push_back(std::move(p));
    return true;
  }

  bool ParseInitialValue(float& v) {
    if (tok_.kind == Tok::kIdent && (tok_.text == "true" || tok_.text == "false")) {
      v = tok_.text == "true" ? 1.0f : 0.0f;
    } else if (tok_.kind != Tok::kNumber || !ParseFloat(tok_.text, v)) {
      return Fail("expected a number" +
                  (tok_.kind == Tok::kEnd ? std::string() : ", found " + Quote(tok_.text)));
    }
    return Advance();
  }

  bool ParseInitialiser(FxParameter& p) {
    const uint32_t line = tok_.line;
    std::vector<float> values;
    if (IsPunct('{')) {
      if (!Advance()) return false;
      while (true) {
        float v;
        if (!ParseInitialValue(v)) return false;
        if (values.size() == p.Floats()) {
          return Fail(Quote(p.name) + " needs " + std::to_string(p.Floats()) + " value" +
                          (p.Floats() == 1 ? "" : "s") + ", got more",
                      line);
        }
        values.push_back(v);
        if (IsPunct('}')) break;
        if (!Expect(',', "between values")) return false;
      }
      if (!Expect('}', "after the values")) return false;
    } else {
      float v;
      if (!ParseInitialValue(v)) return false;
      values.push_back(v);
    }
    if (values.size() != p.Floats()) {
      return Fail(Quote(p.name) + " needs " + std::to_string(p.Floats()) + " value" +
                      (p.Floats() == 1 ? "" : "s") + ", got " + std::to_string(values.size()),
                  line);
    }
    p.initial = std::move(values);
    return true;
  }

  bool ParseStateValue(const StateInfo& info, uint32_t& value) {
    if (tok_.kind == Tok::kIdent) {
      const NamedValue* v = FindNamed(ValuesOf(info.kind), tok_.text);
      if (!v) {
        std::string names;
        for (const NamedValue& n : ValuesOf(info.kind))
          names += std::string(names.empty() ? "" : ", ") + n.name;
        return Fail("unknown value " + Quote(tok_.text) + " for " + info.name +
                    (names.empty() ? "; expected a number" : "; expected one of " + names));
      }
      value = v->value;
    } else if (tok_.kind == Tok::kNumber) {
      if (info.kind == ValueKind::kFloat) {
        float f;
        if (!ParseFloat(tok_.text, f)) return Fail("bad number " + Quote(tok_.text));
        std::memcpy(&value, &f, 4);
      } else if (!ParseUnsigned(tok_.text, value)) {
        return Fail("bad value " + Quote(tok_.text) + " for " + info.name);
      }
    } else {
      return Fail(std::string("expected a value for ") + info.name);
    }
    return Advance();
  }

  // ('sampler' | 'sampler2D') name [':' 'register' '(' sN ')'] ['=' 'sampler_state' '{' ... '}']
  // [';']
  bool ParseSampler() {
    FxSampler s;
    if (!Advance()) return false;
    s.line = tok_.line;
    if (!Name(s.name, "a sampler name")) return false;
    std::optional<uint32_t> stage;
    if (IsPunct(':')) {
      if (!Advance()) return false;
      if (tok_.kind != Tok::kIdent || tok_.text != "register") return Fail("expected 'register'");
      if (!Advance() || !Expect('(', "after 'register'")) return false;
      uint32_t n = 0;
      if (tok_.kind != Tok::kIdent || tok_.text.size() < 2 ||
          (tok_.text[0] != 's' && tok_.text[0] != 'S') || !ParseUnsigned(tok_.text.substr(1), n) ||
          n >= kFxMaxStages) {
        return Fail("expected a sampler register s0 to s" + std::to_string(kFxMaxStages - 1));
      }
      stage = n;
      if (!Advance() || !Expect(')', "after the register")) return false;
    }
    if (IsPunct('=')) {
      if (!Advance()) return false;
      if (tok_.kind != Tok::kIdent || tok_.text != "sampler_state") {
        return Fail("expected 'sampler_state'");
      }
      if (!Advance() || !Expect('{', "after 'sampler_state'")) return false;
      while (!IsPunct('}')) {
        if (tok_.kind != Tok::kIdent) return Fail("expected a sampler state or '}'");
        const std::string_view state = tok_.text;
        const uint32_t line = tok_.line;
        if (!Advance() || !Expect('=', "after the sampler state")) return false;
        if (SameName(state, "Texture")) {
          const bool angled = IsPunct('<');
          if (angled || IsPunct('(')) {
            if (!Advance()) return false;
          }
          std::string texture;
          if (!Name(texture, "a texture parameter")) return false;
          if (angled && !Expect('>', "after the texture")) return false;
          if (!angled && IsPunct(')') && !Advance()) return false;
          textureRefs_.emplace_back(out_.samplers.size(), texture, line);
        } else if (const StateInfo* info = FindNamed<StateInfo>(kSamplerStates, state)) {
          uint32_t value;
          if (!ParseStateValue(*info, value)) return false;
          s.states.push_back({info->id, value});
        } else {
          return Fail("unknown sampler state " + Quote(state), line);
        }
        if (!Expect(';', "after the sampler state")) return false;
      }
      if (!Advance()) return false;
    }
    if (IsPunct(';') && !Advance()) return false;
    stages_.push_back(stage);
    out_.samplers.push_back(std::move(s));
    return true;
  }

  // ('common' | 'vertex' | 'fragment') name '{' GLSL text '}'
  bool ParseBlock(FxBlockKind kind) {
    FxBlock b;
    b.kind = kind;
    if (!Advance()) return false;
    if (!Name(b.name, "a program name")) return false;
    if (!IsPunct('{')) return Expect('{', "before the program text");
    b.line = tok_.line;
    if (!lex_.RawBlock(b.text, b.line, error_)) return false;
    if (b.text.find("#version") != std::string::npos) {
      return Fail("programs get '#version 330 core' from the effect; remove their own", b.line);
    }
    out_.blocks.push_back(std::move(b));
    return Advance();
  }

  // 'technique' name '{' pass* '}'
  bool ParseTechnique() {
    FxTechnique t;
    if (!Advance()) return false;
    t.line = tok_.line;
    if (!Name(t.name, "a technique name") || !Expect('{', "after the technique name")) {
      return false;
    }
    while (!IsPunct('}')) {
      if (tok_.kind != Tok::kIdent || tok_.text != "pass") return Fail("expected 'pass' or '}'");
      FxPass pass;
      pass.line = tok_.line;
      if (!Advance()) return false;
      if (tok_.kind == Tok::kIdent) {
        if (!Name(pass.name, "a pass name")) return false;
      } else {
        pass.name = "P" + std::to_string(t.passes.size());
      }
      if (!Expect('{', "after the pass name")) return false;
      bool vertexSet = false, fragmentSet = false;
      while (!IsPunct('}')) {
        if (tok_.kind != Tok::kIdent) return Fail("expected a state or '}'");
        const std::string_view state = tok_.text;
        const uint32_t line = tok_.line;
        if (!Advance() || !Expect('=', "after the state name")) return false;
        const bool vertex = SameName(state, "VertexProgram") || SameName(state, "VertexShader");
        const bool fragment = SameName(state, "FragmentProgram") || SameName(state, "PixelShader");
        if (vertex || fragment) {
          bool& set = vertex ? vertexSet : fragmentSet;
          if (set)
            return Fail(std::string(vertex ? "vertex" : "fragment") + " program set twice", line);
          set = true;
          std::string program;
          if (!Name(program, "a program name")) return false;
          refs_.push_back({out_.techniques.size(), t.passes.size(), vertex, program, line});
        } else if (const StateInfo* info = FindNamed<StateInfo>(kRenderStates, state)) {
          uint32_t value;
          if (!ParseStateValue(*info, value)) return false;
          pass.states.push_back({info->id, value});
        } else {
          return Fail("unknown render state " + Quote(state), line);
        }
        if (!Expect(';', "after the state")) return false;
      }
      if (!vertexSet || !fragmentSet) {
        return Fail("pass " + Quote(pass.name) + " needs a " +
                        (vertexSet ? "FragmentProgram" : "VertexProgram"),
                    pass.line);
      }
      if (!Advance()) return false;
      t.passes.push_back(std::move(pass));
    }
    if (!Advance()) return false;
    if (IsPunct(';') && !Advance()) return false;
    out_.techniques.push_back(std::move(t));
    return true;
  }

  bool ResolveReferences() {
    std::map<std::pair<FxBlockKind, std::string_view>, int32_t> blocks;
    for (size_t i = 0; i < out_.blocks.size(); ++i)
      blocks.emplace(std::make_pair(out_.blocks[i].kind, std::string_view(out_.blocks[i].name)),
                     int32_t(i));
    std::map<std::string_view, int32_t> parameters;
    for (size_t i = 0; i < out_.parameters.size(); ++i)
      parameters.emplace(out_.parameters[i].name, int32_t(i));
    for (const PendingRef& r : refs_) {
      const FxBlockKind want = r.vertex ? FxBlockKind::kVertex : FxBlockKind::kFragment;
      auto it = blocks.find({want, r.name});
      const int32_t found = it == blocks.end() ? -1 : it->second;
      if (found < 0) {
        return Fail(std::string("no ") + (r.vertex ? "vertex" : "fragment") + " program named " +
                        Quote(r.name),
                    r.line);
      }
      FxPass& pass = out_.techniques[r.technique].passes[r.pass];
      (r.vertex ? pass.vertex : pass.fragment) = found;
    }
    for (const auto& [sampler, name, line] : textureRefs_) {
      auto it = parameters.find(name);
      const int32_t found = it == parameters.end() ? -1 : it->second;
      if (found < 0 || out_.parameters[size_t(found)].type != FxType::kTexture) {
        return Fail("no texture parameter named " + Quote(name), line);
      }
      out_.samplers[sampler].texture = found;
    }
    return true;
  }

  // Samplers with a register keep it; the others take the lowest free stages in order.
  bool AssignStages() {
    std::vector<bool> taken(kFxMaxStages, false);
    for (size_t i = 0; i < stages_.size(); ++i) {
      if (!stages_[i]) continue;
      if (taken[*stages_[i]]) {
        return Fail("two samplers on register s" + std::to_string(*stages_[i]),
                    out_.samplers[i].line);
      }
      taken[*stages_[i]] = true;
      out_.samplers[i].stage = *stages_[i];
    }
    for (size_t i = 0; i < stages_.size(); ++i) {
      if (stages_[i]) continue;
      auto free = std::find(taken.begin(), taken.end(), false);
      if (free == taken.end())
        return Fail("more samplers than texture stages", out_.samplers[i].line);
      *free = true;
      out_.samplers[i].stage = uint32_t(free - taken.begin());
    }
    return true;
  }

  Lexer lex_;
  EffectDesc& out_;
  FxError& error_;
  Token tok_;
  std::vector<PendingRef> refs_;
  std::vector<std::tuple<size_t, std::string, uint32_t>> textureRefs_;
  std::vector<std::optional<uint32_t>> stages_;
};

bool IsIdentifier(const std::string& s) {
  if (s.empty() || s.size() > 255 || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s) {
    if (!(c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
      return false;
  }
  return s.find("__") == std::string::npos;
}

bool ReservedName(const std::string& s) {
  return s.rfind("gl_", 0) == 0 || s.rfind("wz_", 0) == 0 || s.rfind("a_", 0) == 0 ||
         s == "o_color" || s == "main";
}

}  // namespace

uint32_t FxTypeFloats(FxType type) {
  switch (type) {
    case FxType::kFloat:
    case FxType::kBool:
    case FxType::kInt:
      return 1;
    case FxType::kFloat2:
      return 2;
    case FxType::kFloat3:
      return 3;
    case FxType::kFloat4:
      return 4;
    case FxType::kFloat4x4:
      return 16;
    default:
      return 0;
  }
}

const char* FxTypeName(FxType type) {
  for (const TypeName& t : kTypeNames) {
    if (t.type == type) return t.name;
  }
  return "?";
}

std::string FormatFxError(const std::string& source, const FxError& error) {
  return source + (error.line ? "(" + std::to_string(error.line) + ")" : std::string()) +
         (error.warning ? ": warning: " : ": error: ") + error.message;
}

bool ParseEffectText(std::string_view text, const std::string& source, EffectDesc& out,
                     FxError& error) {
  out = EffectDesc{};
  out.source = source;
  if (!Parser(text, out, error).Run()) return false;
  return ValidateEffect(out, error);
}

bool ValidateEffect(const EffectDesc& d, FxError& error) {
  auto fail = [&error](uint32_t line, std::string message) {
    error = {line, std::move(message)};
    return false;
  };
  std::map<std::string, uint32_t> names;  // parameters and samplers share one name space
  uint64_t floats = 0;
  for (const FxParameter& p : d.parameters) {
    if (!IsIdentifier(p.name)) return fail(p.line, "bad parameter name " + Quote(p.name));
    if (ReservedName(p.name)) return fail(p.line, "the name " + Quote(p.name) + " is reserved");
    if (!names.emplace(p.name, p.line).second)
      return fail(p.line, Quote(p.name) + " declared twice");
    if (FxTypeName(p.type)[0] == '?') return fail(p.line, "bad type of " + Quote(p.name));
    if (p.arraySize > kFxMaxArraySize || (p.type == FxType::kTexture && p.arraySize)) {
      return fail(p.line, "bad array size of " + Quote(p.name));
    }
    if (!p.initial.empty() && p.initial.size() != p.Floats()) {
      return fail(p.line, "wrong number of initial values for " + Quote(p.name));
    }
    floats += p.Floats();
  }
  if (floats > kFxMaxFloats) return fail(0, "parameters hold more than 65536 values");
  if (d.parameters.size() > kFxMaxParameters) return fail(0, "more than 1024 parameters");
  std::vector<bool> stages(kFxMaxStages, false);
  for (const FxSampler& s : d.samplers) {
    if (!IsIdentifier(s.name)) return fail(s.line, "bad sampler name " + Quote(s.name));
    if (ReservedName(s.name)) return fail(s.line, "the name " + Quote(s.name) + " is reserved");
    if (!names.emplace(s.name, s.line).second)
      return fail(s.line, Quote(s.name) + " declared twice");
    if (s.stage >= kFxMaxStages || stages[s.stage]) {
      return fail(s.line, "sampler " + Quote(s.name) + " has a bad or shared stage");
    }
    stages[s.stage] = true;
    if (s.texture >= 0 && (size_t(s.texture) >= d.parameters.size() ||
                           d.parameters[size_t(s.texture)].type != FxType::kTexture)) {
      return fail(s.line, "sampler " + Quote(s.name) + " names no texture parameter");
    }
    if (s.texture < -1) return fail(s.line, "sampler " + Quote(s.name) + " names no texture");
    for (const FxState& st : s.states) {
      if (st.id < D3DSAMP_ADDRESSU || st.id > D3DSAMP_DMAPOFFSET) {
        return fail(s.line, "bad sampler state in " + Quote(s.name));
      }
    }
  }
  std::map<std::pair<FxBlockKind, std::string>, uint32_t> blockNames;
  for (const FxBlock& b : d.blocks) {
    if (b.kind < FxBlockKind::kCommon || b.kind > FxBlockKind::kFragment) {
      return fail(b.line, "bad kind of block " + Quote(b.name));
    }
    if (!IsIdentifier(b.name)) return fail(b.line, "bad program name " + Quote(b.name));
    if (!blockNames.emplace(std::make_pair(b.kind, b.name), b.line).second) {
      return fail(b.line, "program " + Quote(b.name) + " declared twice");
    }
    if (b.text.find('\0') != std::string::npos) return fail(b.line, "NUL byte in a program");
  }
  if (d.techniques.empty()) return fail(0, "the effect has no technique");
  if (d.techniques.size() > kFxMaxTechniques) return fail(0, "more than 256 techniques");
  std::set<std::pair<int32_t, int32_t>> programs;
  std::map<std::string, uint32_t> techniqueNames;
  for (const FxTechnique& t : d.techniques) {
    if (!IsIdentifier(t.name)) return fail(t.line, "bad technique name " + Quote(t.name));
    if (!techniqueNames.emplace(t.name, t.line).second) {
      return fail(t.line, "technique " + Quote(t.name) + " declared twice");
    }
    if (t.passes.empty()) return fail(t.line, "technique " + Quote(t.name) + " has no pass");
    if (t.passes.size() > kFxMaxPasses) {
      return fail(t.line, "technique " + Quote(t.name) + " has more than 64 passes");
    }
    std::map<std::string, uint32_t> passNames;
    for (const FxPass& p : t.passes) {
      if (!IsIdentifier(p.name) || !passNames.emplace(p.name, p.line).second) {
        return fail(p.line, "bad or repeated pass name " + Quote(p.name));
      }
      auto blockIs = [&d](int32_t i, FxBlockKind kind) {
        return i >= 0 && size_t(i) < d.blocks.size() && d.blocks[size_t(i)].kind == kind;
      };
      if (!blockIs(p.vertex, FxBlockKind::kVertex) ||
          !blockIs(p.fragment, FxBlockKind::kFragment)) {
        return fail(p.line, "pass " + Quote(p.name) + " names a missing program");
      }
      programs.emplace(p.vertex, p.fragment);
      if (programs.size() > kFxMaxPrograms) {
        return fail(p.line, "more than 64 different pairs of vertex and fragment programs");
      }
      for (const FxState& st : p.states) {
        if (!std::any_of(std::begin(kRenderStates), std::end(kRenderStates),
                         [&st](const StateInfo& i) { return i.id == st.id; })) {
          return fail(p.line, "pass " + Quote(p.name) + " sets an unknown render state");
        }
      }
    }
  }
  return true;
}

}  // namespace wz::d3dx
