// The effect stand-in: the .fx text format and its errors (with lines), the .fxo container, the
// calls on an effect as the device sees them (recording backend), and GLSL errors and pixels on
// OpenGL.
#include "platform/d3dx/effect.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <set>
#include <sstream>

#include "platform/d3d/device_fixture.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace wz::d3dx {
namespace {

using d3d::testing::DeviceTest;

// Line numbers matter: the tests below name them.
constexpr const char* kTestFx = R"(// A small effect for tests.
float4x4 World;
float3 tint = {0.5, 0.25, 1.0};
float4x4 bones[3];
bool lit = true;
int count = 7;
texture Picture;
sampler Free = sampler_state { Texture = <Picture>; MinFilter = Point; AddressU = Clamp; };
sampler Fixed : register(s0) = sampler_state { MagFilter = Linear; };
common Shared {
  vec3 Tinted(vec3 c) { return c * tint; }
}
vertex Plain {
  void main() { gl_Position = wz_ToGL(vec4(a_position.xyz, 1.0) * World * bones[count - 7]); }
}
fragment Flat {
  void main() { o_color = vec4(Tinted(vec3(1.0)), lit ? 1.0 : 0.5) * texture(Free, vec2(0.5)); }
}
fragment Fixed2 {
  void main() { o_color = texture(Fixed, vec2(0.5)); }
}
technique First {
  pass One { ZEnable = false; SrcBlend = SrcAlpha; CullMode = None; VertexProgram = Plain; FragmentProgram = Flat; }
  pass Two { AlphaRef = 0x80; VertexProgram = Plain; FragmentProgram = Fixed2; }
}
technique Second { pass { FillMode = Wireframe; VertexProgram = Plain; FragmentProgram = Flat; } }
)";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

EffectDesc Parsed(const std::string& text) {
  EffectDesc d;
  FxError e;
  EXPECT_TRUE(ParseEffectText(text, "test.fx", d, e)) << FormatFxError("test.fx", e);
  return d;
}

// ---- The text format ----

TEST(EffectText, ParsesParametersSamplersProgramsAndTechniques) {
  const EffectDesc d = Parsed(kTestFx);
  ASSERT_EQ(d.parameters.size(), 6u);
  EXPECT_EQ(d.parameters[0].name, "World");
  EXPECT_EQ(d.parameters[0].type, FxType::kFloat4x4);
  EXPECT_TRUE(d.parameters[0].initial.empty());
  EXPECT_EQ(d.parameters[1].initial, (std::vector<float>{0.5f, 0.25f, 1.0f}));
  EXPECT_EQ(d.parameters[1].line, 3u);
  EXPECT_EQ(d.parameters[2].arraySize, 3u);
  EXPECT_EQ(d.parameters[2].Floats(), 48u);
  EXPECT_EQ(d.parameters[3].initial, std::vector<float>{1.0f});
  EXPECT_EQ(d.parameters[4].type, FxType::kInt);
  EXPECT_EQ(d.parameters[5].type, FxType::kTexture);

  // The sampler with a register keeps it; the other takes the lowest free stage.
  ASSERT_EQ(d.samplers.size(), 2u);
  EXPECT_EQ(d.samplers[0].name, "Free");
  EXPECT_EQ(d.samplers[0].stage, 1u);
  EXPECT_EQ(d.samplers[0].texture, 5);
  EXPECT_EQ(d.samplers[0].states,
            (std::vector<FxState>{{d3d::D3DSAMP_MINFILTER, d3d::D3DTEXF_POINT},
                                  {d3d::D3DSAMP_ADDRESSU, d3d::D3DTADDRESS_CLAMP}}));
  EXPECT_EQ(d.samplers[1].stage, 0u);
  EXPECT_EQ(d.samplers[1].texture, -1);

  ASSERT_EQ(d.blocks.size(), 4u);
  const uint32_t blockLines[] = {10, 13, 16, 19};
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(d.blocks[i].line, blockLines[i]) << i;
  EXPECT_EQ(d.blocks[0].kind, FxBlockKind::kCommon);
  EXPECT_NE(d.blocks[0].text.find("return c * tint;"), std::string::npos);

  ASSERT_EQ(d.techniques.size(), 2u);
  const FxTechnique& first = d.techniques[0];
  ASSERT_EQ(first.passes.size(), 2u);
  EXPECT_EQ(first.passes[0].name, "One");
  EXPECT_EQ(first.passes[0].states,
            (std::vector<FxState>{{d3d::D3DRS_ZENABLE, 0},
                                  {d3d::D3DRS_SRCBLEND, d3d::D3DBLEND_SRCALPHA},
                                  {d3d::D3DRS_CULLMODE, d3d::D3DCULL_NONE}}));
  EXPECT_EQ(first.passes[0].vertex, 1);
  EXPECT_EQ(first.passes[0].fragment, 2);
  EXPECT_EQ(first.passes[1].states, (std::vector<FxState>{{d3d::D3DRS_ALPHAREF, 0x80}}));
  EXPECT_EQ(first.passes[1].fragment, 3);
  EXPECT_EQ(d.techniques[1].passes[0].name, "P0");
}

TEST(EffectText, ErrorsNameTheirLine) {
  struct Case {
    const char* from;
    const char* to;
    uint32_t line;
    const char* message;
  } cases[] = {
      {"ZEnable = false;", "ZEnabled = false;", 23, "unknown render state 'ZEnabled'"},
      {"{0.5, 0.25, 1.0}", "{0.5, 0.25}", 3, "'tint' needs 3 values, got 2"},
      {"{0.5, 0.25, 1.0}", "{0.5, 0.25, 1.0, 2.0}", 3, "'tint' needs 3 values, got more"},
      {"= Fixed2;", "= Nowhere;", 24, "no fragment program named 'Nowhere'"},
      {"= Fixed2;", "= Plain;", 24, "no fragment program named 'Plain'"},
      {"texture Picture;", "texture Picture;\n/* never closed", 8, "comment without an end"},
      {"fragment Fixed2 {", "fragment Fixed2 {{", 19, "'{' without its '}'"},
      {"bool lit", "bool World", 5, "'World' declared twice"},
      {"int count", "int gl_count", 6, "the name 'gl_count' is reserved"},
      {"sampler Free =", "sampler Free : register(s0) =", 9, "two samplers on register s0"},
      {"technique Second { pass { FillMode = Wireframe; VertexProgram = Plain; FragmentProgram = "
       "Flat; } }",
       "technique Second { }", 26, "technique 'Second' has no pass"},
      {"VertexProgram = Plain; FragmentProgram = Fixed2;", "VertexProgram = Plain;", 24,
       "pass 'Two' needs a FragmentProgram"},
      {"  vec3 Tinted", "#version 330\n  vec3 Tinted", 10, "remove their own"},
      {"float4x4 World;", "float4x4 World : WORLD;", 2, "semantics are not supported"},
      {"float4x4 World;", "struct World;", 2, "unexpected 'struct'"},
      {"<Picture>", "<Missing>", 8, "no texture parameter named 'Missing'"},
      {"bones[3]", "bones[0]", 4, "array size of 'bones' must be 1 to 1024"},
      {"MinFilter = Point", "MinFilter = Blurry", 8, "unknown value 'Blurry' for MinFilter"},
      {"AlphaRef = 0x80", "AlphaRef = high", 24,
       "unknown value 'high' for AlphaRef; expected a number"},
      {"FillMode = Wireframe; ", "FillMode = Wireframe; VertexProgram = Plain; ", 26,
       "vertex program set twice"},
      {"pass Two", "pass One", 24, "bad or repeated pass name 'One'"},
  };
  for (const Case& c : cases) {
    const std::string text = Replaced(kTestFx, c.from, c.to);
    EffectDesc d;
    FxError e;
    ASSERT_FALSE(ParseEffectText(text, "test.fx", d, e)) << c.to;
    EXPECT_EQ(e.line, c.line) << c.to << ": " << e.message;
    EXPECT_NE(e.message.find(c.message), std::string::npos) << c.to << ": " << e.message;
    EXPECT_EQ(
        FormatFxError("test.fx", e).rfind("test.fx(" + std::to_string(c.line) + "): error: ", 0),
        0u);
  }
  // Without techniques there is nothing to draw with.
  const std::string text = kTestFx;
  EffectDesc d;
  FxError e;
  EXPECT_FALSE(ParseEffectText(text.substr(0, text.find("technique First")), "test.fx", d, e));
  EXPECT_EQ(e.message, "the effect has no technique");
  EXPECT_EQ(FormatFxError("test.fx", e), "test.fx: error: the effect has no technique");
}

TEST(EffectText, LimitsBoundWhatAnEffectMayAskFor) {
  // 9 vertex programs x 8 fragment programs: 72 different pairs, 8 more than allowed.
  std::string text;
  for (int i = 0; i < 9; ++i)
    text += "vertex V" + std::to_string(i) + " { void main() {} }\n";
  for (int i = 0; i < 8; ++i)
    text += "fragment F" + std::to_string(i) + " { void main() {} }\n";
  for (int v = 0; v < 9; ++v) {
    for (int f = 0; f < 8; ++f) {
      text += "technique T" + std::to_string(v) + "_" + std::to_string(f) +
              " { pass { VertexProgram = V" + std::to_string(v) + "; FragmentProgram = F" +
              std::to_string(f) + "; } }\n";
    }
  }
  EffectDesc d;
  FxError e;
  EXPECT_FALSE(ParseEffectText(text, "many.fx", d, e));
  EXPECT_EQ(e.message, "more than 64 different pairs of vertex and fragment programs");
  EXPECT_EQ(e.line, 17u + 64u + 1u);  // the 65th technique
}

// ---- The .fxo container ----

uint32_t Crc(const std::vector<uint8_t>& bytes, size_t from) {
  return uint32_t(crc32(crc32(0, nullptr, 0), bytes.data() + from, uInt(bytes.size() - from)));
}
void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
}
std::string_view View(const std::vector<uint8_t>& b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

TEST(EffectBinary, RoundTripsEveryField) {
  const EffectDesc d = Parsed(kTestFx);
  const std::vector<uint8_t> fxo = WriteFxo(d);
  ASSERT_GE(fxo.size(), 16u);
  EXPECT_EQ(std::memcmp(fxo.data(), "WZFX\x01\x00\x00\x00", 8), 0);
  EffectDesc back;
  FxError e;
  ASSERT_TRUE(ReadFxo(View(fxo), back, e)) << e.message;
  EXPECT_EQ(back, d);
}

TEST(EffectBinary, EveryShorterPrefixIsRefused) {
  const std::vector<uint8_t> fxo = WriteFxo(Parsed(kTestFx));
  for (size_t n = 0; n < fxo.size(); ++n) {
    EffectDesc d;
    FxError e;
    ASSERT_FALSE(ReadFxo(View(fxo).substr(0, n), d, e)) << n;
    EXPECT_FALSE(e.message.empty());
  }
}

TEST(EffectBinary, DamageIsRefusedWithItsReason) {
  const std::vector<uint8_t> good = WriteFxo(Parsed(kTestFx));
  struct Case {
    const char* what;
    void (*damage)(std::vector<uint8_t>&);
    const char* message;
  } cases[] = {
      {"magic", [](std::vector<uint8_t>& b) { b[0] = 'X'; }, "not a compiled effect"},
      {"version", [](std::vector<uint8_t>& b) { b[4] = 2; }, "format version 2"},
      {"payload byte", [](std::vector<uint8_t>& b) { b[40] ^= 0xFF; }, "checksum mismatch"},
      {"trailing byte", [](std::vector<uint8_t>& b) { b.push_back(0); },
       "bytes after the end of the compiled effect"},
      // The source name's length made huge, checksum fixed: the cursor must not follow it.
      {"string length",
       [](std::vector<uint8_t>& b) {
         PutU32(b, 16, 0x7FFFFFFF);
         PutU32(b, 12, Crc(b, 16));
       },
       "cut short inside a record"},
      // The first pass's vertex program made the fragment block, checksum fixed.
      {"block reference",
       [](std::vector<uint8_t>& b) {
         const std::string text(b.begin(), b.end());
         const size_t at = text.find("One") + 3 + 4;  // name, then its line
         PutU32(b, at, 2);
         PutU32(b, 12, Crc(b, 16));
       },
       "compiled effect: pass 'One' names a missing program"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = good;
    c.damage(bad);
    EffectDesc d;
    FxError e;
    EXPECT_FALSE(ReadFxo(View(bad), d, e)) << c.what;
    EXPECT_NE(e.message.find(c.message), std::string::npos) << c.what << ": " << e.message;
  }
}

// ---- The effect on a device (recording backend) ----

class EffectCalls : public DeviceTest {
 protected:
  void SetUp() override {
    MakeDevice(d3d::BackendChoice::kRecording);
    std::unique_ptr<D3DXBuffer> errors;
    ASSERT_EQ(D3DXCreateEffect(device.get(), kTestFx, "test.fx", nullptr, 0, &effect, &errors),
              S_OK)
        << (errors ? errors->Text() : "");
  }
  DWORD RenderState(d3d::D3DRENDERSTATETYPE s) {
    DWORD v = 0;
    device->GetRenderState(s, &v);
    return v;
  }
  DWORD SamplerState(DWORD stage, d3d::D3DSAMPLERSTATETYPE s) {
    DWORD v = 0;
    device->GetSamplerState(stage, s, &v);
    return v;
  }
  const d3d::ShaderProgram::Uniform& UniformOf(UINT technique, UINT pass, const char* name) {
    static const d3d::ShaderProgram::Uniform none;
    const auto& all = effect->PassProgram(technique, pass)->Uniforms();
    auto it = all.find(name);
    return it == all.end() ? none : it->second;
  }
  std::unique_ptr<Effect> effect;
};

TEST_F(EffectCalls, PassesSetStatesAndProgramAndEndRestoresThem) {
  const DWORD zenable = RenderState(d3d::D3DRS_ZENABLE), src = RenderState(d3d::D3DRS_SRCBLEND),
              cull = RenderState(d3d::D3DRS_CULLMODE), ref = RenderState(d3d::D3DRS_ALPHAREF);
  const DWORD min1 = SamplerState(1, d3d::D3DSAMP_MINFILTER),
              mag0 = SamplerState(0, d3d::D3DSAMP_MAGFILTER);
  UINT passes = 0;
  ASSERT_EQ(effect->Begin(&passes, 0), S_OK);
  EXPECT_EQ(passes, 2u);
  ASSERT_EQ(effect->BeginPass(0), S_OK);
  EXPECT_EQ(RenderState(d3d::D3DRS_ZENABLE), 0u);
  EXPECT_EQ(RenderState(d3d::D3DRS_SRCBLEND), DWORD(d3d::D3DBLEND_SRCALPHA));
  EXPECT_EQ(RenderState(d3d::D3DRS_CULLMODE), DWORD(d3d::D3DCULL_NONE));
  EXPECT_EQ(device->GetProgram(), effect->PassProgram(0, 0));
  // Pass One's fragment program reads sampler Free (stage 1) only.
  EXPECT_EQ(SamplerState(1, d3d::D3DSAMP_MINFILTER), DWORD(d3d::D3DTEXF_POINT));
  EXPECT_EQ(SamplerState(1, d3d::D3DSAMP_ADDRESSU), DWORD(d3d::D3DTADDRESS_CLAMP));
  EXPECT_EQ(SamplerState(0, d3d::D3DSAMP_MAGFILTER), mag0);
  // A draw in the pass runs with the pass's program.
  ScreenQuad(0, 0, 4, 4, 0xFFFFFFFFu);
  ASSERT_FALSE(Recording().Draws().empty());
  EXPECT_EQ(Recording().Draws().back().program, effect->PassProgram(0, 0)->Id());
  ASSERT_EQ(effect->EndPass(), S_OK);
  ASSERT_EQ(effect->BeginPass(1), S_OK);
  EXPECT_EQ(RenderState(d3d::D3DRS_ALPHAREF), 0x80u);
  EXPECT_EQ(SamplerState(0, d3d::D3DSAMP_MAGFILTER), DWORD(d3d::D3DTEXF_LINEAR));
  EXPECT_NE(effect->PassProgram(0, 1), effect->PassProgram(0, 0));
  ASSERT_EQ(effect->EndPass(), S_OK);
  ASSERT_EQ(effect->End(), S_OK);
  EXPECT_EQ(RenderState(d3d::D3DRS_ZENABLE), zenable);
  EXPECT_EQ(RenderState(d3d::D3DRS_SRCBLEND), src);
  EXPECT_EQ(RenderState(d3d::D3DRS_CULLMODE), cull);
  EXPECT_EQ(RenderState(d3d::D3DRS_ALPHAREF), ref);
  EXPECT_EQ(SamplerState(1, d3d::D3DSAMP_MINFILTER), min1);
  EXPECT_EQ(SamplerState(0, d3d::D3DSAMP_MAGFILTER), mag0);
  EXPECT_EQ(device->GetProgram(), nullptr);

  // Told not to save, End leaves the pass's states and program.
  ASSERT_EQ(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE), S_OK);
  ASSERT_EQ(effect->Pass(0), S_OK);
  ASSERT_EQ(effect->End(), S_OK);
  EXPECT_EQ(RenderState(d3d::D3DRS_ZENABLE), 0u);
  EXPECT_EQ(device->GetProgram(), effect->PassProgram(0, 0));
}

TEST_F(EffectCalls, ValuesReachTheProgramAtPassAndCommit) {
  ASSERT_EQ(effect->Begin(nullptr, 0), S_OK);
  ASSERT_EQ(effect->BeginPass(0), S_OK);
  // Initial values, with bools and ints as integers and matrices marked for row vectors.
  EXPECT_EQ(UniformOf(0, 0, "tint").floats, (std::vector<float>{0.5f, 0.25f, 1.0f}));
  EXPECT_EQ(UniformOf(0, 0, "lit").ints, std::vector<int32_t>{1});
  EXPECT_EQ(UniformOf(0, 0, "count").ints, std::vector<int32_t>{7});
  EXPECT_EQ(UniformOf(0, 0, "World").floats, std::vector<float>(16, 0.0f));
  EXPECT_TRUE(UniformOf(0, 0, "World").transposed);

  d3d::D3DMATRIX m;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c)
      m.m[r][c] = float(r * 4 + c);
  }
  const float v[4] = {1, 2, 3, 4};
  EXPECT_EQ(effect->SetMatrix("World", &m), S_OK);
  EXPECT_EQ(effect->SetVector("tint", v), S_OK);
  EXPECT_EQ(effect->SetBool("count", 5), S_OK);
  EXPECT_EQ(effect->SetInt("lit", 0), S_OK);
  const d3d::D3DMATRIX two[2] = {m, d3d::D3DMATRIX{}};
  EXPECT_EQ(effect->SetMatrixArray("bones", two, 2), S_OK);
  // Not handed over before CommitChanges.
  EXPECT_EQ(UniformOf(0, 0, "tint").floats, (std::vector<float>{0.5f, 0.25f, 1.0f}));
  ASSERT_EQ(effect->CommitChanges(), S_OK);
  EXPECT_EQ(UniformOf(0, 0, "tint").floats, (std::vector<float>{1, 2, 3}));
  EXPECT_EQ(UniformOf(0, 0, "count").ints, std::vector<int32_t>{1});
  EXPECT_EQ(UniformOf(0, 0, "lit").ints, std::vector<int32_t>{0});
  const std::vector<float>& world = UniformOf(0, 0, "World").floats;
  ASSERT_EQ(world.size(), 16u);
  EXPECT_EQ(world[1], 1.0f);  // row-major as given
  EXPECT_EQ(world[4], 4.0f);
  const std::vector<float>& bones = UniformOf(0, 0, "bones").floats;
  ASSERT_EQ(bones.size(), 48u);
  EXPECT_EQ(bones[15], 15.0f);
  EXPECT_EQ(bones[16], 1.0f);  // identity
  EXPECT_EQ(bones[32], 0.0f);  // the third was never set
  ASSERT_EQ(effect->EndPass(), S_OK);
  // Another program of the technique gets the same values when its pass begins.
  ASSERT_EQ(effect->BeginPass(1), S_OK);
  EXPECT_EQ(UniformOf(0, 1, "tint").floats, (std::vector<float>{1, 2, 3}));
  ASSERT_EQ(effect->EndPass(), S_OK);
  ASSERT_EQ(effect->End(), S_OK);

  // Raw values, and what each setter refuses.
  const float three[3] = {7, 8, 9};
  EXPECT_EQ(effect->SetValue("tint", three, 12), S_OK);
  float back[3] = {};
  EXPECT_EQ(effect->GetValue("tint", back, 12), S_OK);
  EXPECT_EQ(back[2], 9.0f);
  float f = 0;
  EXPECT_EQ(effect->GetFloat(effect->GetParameterByName(nullptr, "tint"), &f), S_OK);
  EXPECT_EQ(f, 7.0f);
  const float four[4] = {};
  EXPECT_EQ(effect->SetValue("tint", four, 16), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->SetFloat("World", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->SetMatrix("tint", &m), D3DERR_INVALIDCALL);
  const d3d::D3DMATRIX many[4];
  EXPECT_EQ(effect->SetMatrixArray("bones", many, 4), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->SetTexture("tint", nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->SetFloat("Picture", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->SetFloat("nothing", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->GetParameterByName(nullptr, "nothing"), nullptr);
}

TEST_F(EffectCalls, TextureParametersGoToTheirSamplersStage) {
  const uint32_t white = 0xFFFFFFFFu, black = 0xFF000000u;
  auto callers = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &white);
  auto picture = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &black);
  device->SetTexture(1, callers.get());
  ASSERT_EQ(effect->Begin(nullptr, 0), S_OK);
  ASSERT_EQ(effect->BeginPass(0), S_OK);
  // "Picture" holds nothing: the texture the caller bound stays.
  EXPECT_EQ(device->GetTexture(1), callers.get());
  ASSERT_EQ(effect->SetTexture("Picture", picture.get()), S_OK);
  ASSERT_EQ(effect->CommitChanges(), S_OK);
  EXPECT_EQ(device->GetTexture(1), picture.get());
  EXPECT_EQ(device->GetTexture(0), nullptr);  // Fixed has no texture parameter
  ASSERT_EQ(effect->EndPass(), S_OK);
  ASSERT_EQ(effect->End(), S_OK);
  EXPECT_EQ(device->GetTexture(1), callers.get());
}

TEST_F(EffectCalls, TechniquesAndTheOrderOfCalls) {
  EXPECT_STREQ(effect->GetCurrentTechnique(), "First");
  D3DXHANDLE second = effect->GetTechniqueByName("Second");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(effect->GetTechnique(1), second);
  EXPECT_EQ(effect->GetTechnique(2), nullptr);
  EXPECT_EQ(effect->GetTechniqueByName("Third"), nullptr);
  EXPECT_EQ(effect->SetTechnique("Third"), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->SetTechnique(second), S_OK);
  EXPECT_EQ(effect->GetCurrentTechnique(), second);

  EXPECT_EQ(effect->BeginPass(0), D3DERR_INVALIDCALL);  // not begun
  EXPECT_EQ(effect->End(), D3DERR_INVALIDCALL);
  UINT passes = 0;
  ASSERT_EQ(effect->Begin(&passes, 0), S_OK);
  EXPECT_EQ(passes, 1u);
  EXPECT_EQ(effect->Begin(&passes, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->SetTechnique("First"), D3DERR_INVALIDCALL);  // not while begun
  EXPECT_EQ(effect->BeginPass(1), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->EndPass(), D3DERR_INVALIDCALL);
  ASSERT_EQ(effect->BeginPass(0), S_OK);
  EXPECT_EQ(RenderState(d3d::D3DRS_FILLMODE), DWORD(d3d::D3DFILL_WIREFRAME));
  EXPECT_EQ(effect->BeginPass(0), D3DERR_INVALIDCALL);  // still open
  ASSERT_EQ(effect->EndPass(), S_OK);
  // The older Pass needs no EndPass.
  EXPECT_EQ(effect->Pass(0), S_OK);
  EXPECT_EQ(effect->Pass(0), S_OK);
  EXPECT_EQ(effect->End(), S_OK);
  EXPECT_EQ(effect->End(), D3DERR_INVALIDCALL);
  EXPECT_EQ(effect->OnLostDevice(), S_OK);
  EXPECT_EQ(effect->OnResetDevice(), S_OK);
}

// ---- Files ----

TEST_F(EffectCalls, FilesLoadAsTextOrCompiledByTheirContent) {
  testing::TempDir dir;
  const std::string fx = dir / "test.fx", fxo = dir / "test.fxo", textAsFxo = dir / "text.fxo",
                    damaged = dir / "damaged.fxo";
  testing::WriteFile(fx, kTestFx);
  testing::WriteFile(textAsFxo, kTestFx);
  std::vector<uint8_t> compiled = WriteFxo(Parsed(kTestFx));
  testing::WriteFile(fxo, std::string(compiled.begin(), compiled.end()));
  compiled[30] ^= 1;
  testing::WriteFile(damaged, std::string(compiled.begin(), compiled.end()));
  auto load = [this](const std::string& path, std::unique_ptr<Effect>* out,
                     std::unique_ptr<D3DXBuffer>* errors) {
    return D3DXCreateEffectFromFileA(device.get(), platform::LibraryPath(path).c_str(), nullptr,
                                     nullptr, D3DXSHADER_DEBUG, nullptr, out, errors);
  };
  std::unique_ptr<Effect> a, b, c;
  std::unique_ptr<D3DXBuffer> errors;
  ASSERT_EQ(load(fx, &a, &errors), S_OK);
  ASSERT_EQ(load(fxo, &b, &errors), S_OK);
  ASSERT_EQ(load(textAsFxo, &c, &errors), S_OK);
  EXPECT_EQ(a->Desc().techniques, b->Desc().techniques);
  EXPECT_EQ(a->Desc().parameters, c->Desc().parameters);
  EXPECT_EQ(errors, nullptr);

  EXPECT_EQ(load(dir / "missing.fx", &a, &errors), HRESULT_FILE_NOT_FOUND);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(load(damaged, &a, &errors), D3DXERR_INVALIDDATA);
  ASSERT_NE(errors, nullptr);
  EXPECT_NE(errors->Text().find("damaged.fxo: error: compiled effect damaged (checksum mismatch)"),
            std::string::npos)
      << errors->Text();
  EXPECT_EQ(
      D3DXCreateEffectFromFileA(nullptr, fx.c_str(), nullptr, nullptr, 0, nullptr, &a, nullptr),
      D3DERR_INVALIDCALL);
  // Larger than an effect may be: refused before it is parsed.
  const std::string huge = std::string(kTestFx) + std::string(kFxMaxFileBytes, ' ');
  EXPECT_EQ(D3DXCreateEffect(device.get(), huge, "huge.fx", nullptr, 0, &a, &errors),
            D3DXERR_INVALIDDATA);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors->Text(), "huge.fx: error: larger than 1 MB, the most an effect may be\n");
}

// ---- GLSL on OpenGL ----

class EffectPixels : public DeviceTest {
 protected:
  void SetUp() override {
    MakeDevice(d3d::BackendChoice::kOpenGL, 16, 16);
    ASSERT_EQ(device->CurrentBackendKind(), d3d::BackendKind::kOpenGL);
  }
};

TEST_F(EffectPixels, GlslErrorsNameTheLineOfTheEffectFile) {
  struct Case {
    const char* from;
    const char* to;
    const char* expected;
  } cases[] = {
      {"Tinted(vec3(1.0))", "Tinted(vec3(1.0), 2.0)",
       "test.fx(17): error: fragment program 'Flat': "},
      {"return c * tint;", "return c * tinted;", "test.fx(11): error: common block 'Shared': "},
      {"* bones[count - 7]", "* bones[count - 7] * missing",
       "test.fx(14): error: vertex program 'Plain': "},
      // A parameter whose name GLSL reserves is reported at its declaration.
      {"int count = 7;", "int output = 7;", "test.fx(6): error: parameter 'output': "},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Effect> effect;
    std::unique_ptr<D3DXBuffer> errors;
    EXPECT_EQ(D3DXCreateEffect(device.get(), Replaced(kTestFx, c.from, c.to), "test.fx", nullptr, 0,
                               &effect, &errors),
              E_FAIL)
        << c.to;
    EXPECT_EQ(effect, nullptr);
    ASSERT_NE(errors, nullptr) << c.to;
    EXPECT_NE(errors->Text().find(c.expected), std::string::npos) << errors->Text();
    // An error is named once, also one in the common block that every program includes.
    std::vector<std::string> lines;
    std::set<std::string> distinct;
    std::istringstream in(errors->Text());
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
      distinct.insert(line);
    }
    EXPECT_EQ(lines.size(), distinct.size()) << errors->Text();
  }
}

TEST_F(EffectPixels, ParametersAndTexturesReachThePixels) {
  std::unique_ptr<Effect> effect;
  std::unique_ptr<D3DXBuffer> errors;
  ASSERT_EQ(D3DXCreateEffect(device.get(), kTestFx, "test.fx", nullptr, 0, &effect, &errors), S_OK)
      << (errors ? errors->Text() : "");
  const d3d::D3DMATRIX identity;
  effect->SetMatrix("World", &identity);
  effect->SetMatrixArray("bones", &identity, 1);
  const uint32_t white = 0xFFFFFFFFu, teal = 0xFF008080u;
  auto picture = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &white);
  auto fixed = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &teal);
  effect->SetTexture("Picture", picture.get());
  device->SetTexture(0, fixed.get());
  const float triangle[3][4] = {{-1, -1, 0.5f, 1}, {-1, 3, 0.5f, 1}, {3, -1, 0.5f, 1}};
  device->SetFVF(D3DFVF_XYZW);
  ASSERT_EQ(effect->Begin(nullptr, 0), S_OK);
  effect->BeginPass(0);
  device->DrawPrimitiveUP(d3d::D3DPT_TRIANGLELIST, 1, triangle, 16);
  effect->EndPass();
  const uint32_t tinted = PixelAt(8, 8);  // white x (0.5, 0.25, 1.0)
  EXPECT_NEAR(d3d::testing::Red(tinted), 128, 1);
  EXPECT_NEAR(d3d::testing::Green(tinted), 64, 1);
  EXPECT_EQ(d3d::testing::Blue(tinted), 255);
  effect->BeginPass(1);
  device->DrawPrimitiveUP(d3d::D3DPT_TRIANGLELIST, 1, triangle, 16);
  effect->EndPass();
  EXPECT_EQ(PixelAt(8, 8), teal);
  effect->End();
}

}  // namespace
}  // namespace wz::d3dx
