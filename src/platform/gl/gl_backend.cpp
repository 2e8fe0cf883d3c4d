// The OpenGL 3.3 core backend: state cache, resource mirrors, fixed-function and effect programs,
// draws, clears, presents and read-back.
//
// Orientation: row 0 of every target and texture in memory is the top row, as in Direct3D, and
// GL keeps its lower-left origin, so every program turns clip y over (wz_ToGL below). That puts
// Direct3D's top edges where the rasteriser's inclusive edges are, so ties at pixel centres fall
// as on Direct3D (top and left edges in, bottom and right out), and texture coordinates, viewports,
// scissor boxes and read-backs need no change. ARB_clip_control gives depth 0..1; without it
// wz_ToGL widens depth itself. A frame shown in a window is flipped when it is copied there.
//
// Limitations: multisampling is ignored (targets are single-sampled); fog, clip planes, point
// sprites and cube textures are not drawn; block-compressed textures never reach here (images
// are decoded to plain texels on load).
#include "platform/gl/gl_backend.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/gl/ff_program.h"
#include "platform/gl/gl_context.h"
#include "platform/gl/gl_formats.h"

namespace wz::gl {
namespace {

using namespace d3d;

// ---- Small matrix helpers (row-major, row vectors) ----

D3DMATRIX Mul(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
    }
  }
  return r;
}

// The inverse of the upper 3x3 of `m`, row-major in `out` (identity when singular).
void Inverse3(const D3DMATRIX& m, float out[9]) {
  const float a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
  const float d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
  const float g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
  const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
  const float det = a * A + b * B + c * C;
  if (std::fabs(det) < 1e-20f) {
    const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::memcpy(out, id, sizeof id);
    return;
  }
  const float s = 1.0f / det;
  out[0] = A * s;
  out[1] = -(b * i - c * h) * s;
  out[2] = (b * f - c * e) * s;
  out[3] = B * s;
  out[4] = (a * i - c * g) * s;
  out[5] = -(a * f - c * d) * s;
  out[6] = C * s;
  out[7] = -(a * h - b * g) * s;
  out[8] = (a * e - b * d) * s;
}

D3DVECTOR TransformPoint(const D3DVECTOR& p, const D3DMATRIX& m) {
  const float x = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0];
  const float y = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1];
  const float z = p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2];
  const float w = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3];
  const float s = w != 0 ? 1.0f / w : 1.0f;
  return {x * s, y * s, z * s};
}

D3DVECTOR TransformNormalised(const D3DVECTOR& v, const D3DMATRIX& m) {
  D3DVECTOR r{v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
              v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
              v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
  const float len = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
  if (len > 0) r = {r.x / len, r.y / len, r.z / len};
  return r;
}

// ---- Direct3D values in GL ----

GLenum BlendFactor(DWORD f) {
  switch (f) {
    case D3DBLEND_ZERO:
      return GL_ZERO;
    case D3DBLEND_ONE:
      return GL_ONE;
    case D3DBLEND_SRCCOLOR:
      return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
      return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
      return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
      return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
      return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
      return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
      return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
      return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT:
      return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR:
      return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR:
      return GL_ONE_MINUS_CONSTANT_COLOR;
    default:
      return GL_ONE;
  }
}

// Source and destination factors, with the two "both" factors of Direct3D resolved.
std::pair<GLenum, GLenum> BlendFactors(DWORD src, DWORD dst) {
  if (src == D3DBLEND_BOTHSRCALPHA) return {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA};
  if (src == D3DBLEND_BOTHINVSRCALPHA) return {GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA};
  return {BlendFactor(src), BlendFactor(dst)};
}

GLenum BlendEquation(DWORD op) {
  switch (op) {
    case D3DBLENDOP_SUBTRACT:
      return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT:
      return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN:
      return GL_MIN;
    case D3DBLENDOP_MAX:
      return GL_MAX;
    default:
      return GL_FUNC_ADD;
  }
}

GLenum CompareFunc(DWORD f) {
  static const GLenum kFuncs[9] = {GL_ALWAYS,  GL_NEVER,    GL_LESS,   GL_EQUAL, GL_LEQUAL,
                                   GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
  return f <= 8 ? kFuncs[f] : GL_ALWAYS;
}

GLenum StencilOp(DWORD op) {
  switch (op) {
    case D3DSTENCILOP_ZERO:
      return GL_ZERO;
    case D3DSTENCILOP_REPLACE:
      return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT:
      return GL_INCR;
    case D3DSTENCILOP_DECRSAT:
      return GL_DECR;
    case D3DSTENCILOP_INVERT:
      return GL_INVERT;
    case D3DSTENCILOP_INCR:
      return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR:
      return GL_DECR_WRAP;
    default:
      return GL_KEEP;
  }
}

GLenum PrimitiveMode(D3DPRIMITIVETYPE t) {
  switch (t) {
    case D3DPT_POINTLIST:
      return GL_POINTS;
    case D3DPT_LINELIST:
      return GL_LINES;
    case D3DPT_LINESTRIP:
      return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP:
      return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN:
      return GL_TRIANGLE_FAN;
    default:
      return GL_TRIANGLES;
  }
}

GLenum AddressMode(DWORD a, bool mirrorClamp) {
  switch (a) {
    case D3DTADDRESS_MIRROR:
      return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
      return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER:
      return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE:
      return mirrorClamp ? GL_MIRROR_CLAMP_TO_EDGE : GL_MIRRORED_REPEAT;
    default:
      return GL_REPEAT;
  }
}

struct AttributeFormat {
  GLint size;
  GLenum type;
  GLboolean normalised;
};

AttributeFormat AttributeFormatOf(D3DDECLTYPE t) {
  switch (t) {
    case D3DDECLTYPE_FLOAT1:
      return {1, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT2:
      return {2, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT3:
      return {3, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT4:
      return {4, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_D3DCOLOR:  // bytes B, G, R, A read as r, g, b, a
      return {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE};
    case D3DDECLTYPE_UBYTE4:
      return {4, GL_UNSIGNED_BYTE, GL_FALSE};
    case D3DDECLTYPE_UBYTE4N:
      return {4, GL_UNSIGNED_BYTE, GL_TRUE};
    case D3DDECLTYPE_SHORT2:
      return {2, GL_SHORT, GL_FALSE};
    case D3DDECLTYPE_SHORT4:
      return {4, GL_SHORT, GL_FALSE};
    case D3DDECLTYPE_SHORT2N:
      return {2, GL_SHORT, GL_TRUE};
    case D3DDECLTYPE_SHORT4N:
      return {4, GL_SHORT, GL_TRUE};
    case D3DDECLTYPE_USHORT2N:
      return {2, GL_UNSIGNED_SHORT, GL_TRUE};
    case D3DDECLTYPE_USHORT4N:
      return {4, GL_UNSIGNED_SHORT, GL_TRUE};
    case D3DDECLTYPE_FLOAT16_2:
      return {2, GL_HALF_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT16_4:
      return {4, GL_HALF_FLOAT, GL_FALSE};
    default:
      return {4, GL_FLOAT, GL_FALSE};
  }
}

void ColourOf(D3DCOLOR c, float out[4]) {
  out[0] = float((c >> 16) & 0xFF) / 255.0f;
  out[1] = float((c >> 8) & 0xFF) / 255.0f;
  out[2] = float(c & 0xFF) / 255.0f;
  out[3] = float((c >> 24) & 0xFF) / 255.0f;
}

// The fixed GL state a draw needs, computed from the Direct3D render states.
struct FixedState {
  bool blend = false;
  GLenum srcRgb = GL_ONE, dstRgb = GL_ZERO, srcAlpha = GL_ONE, dstAlpha = GL_ZERO;
  GLenum eqRgb = GL_FUNC_ADD, eqAlpha = GL_FUNC_ADD;
  D3DCOLOR blendColour = 0xFFFFFFFFu;
  bool depthTest = false;
  GLenum depthFunc = GL_LEQUAL;
  bool depthMask = true;
  bool stencilTest = false;
  GLenum stencilFunc[2] = {GL_ALWAYS, GL_ALWAYS};  // front, back
  GLint stencilRef = 0;
  GLuint stencilMask = 0xFFFFFFFFu;
  GLenum stencilFail[2] = {GL_KEEP, GL_KEEP}, stencilZFail[2] = {GL_KEEP, GL_KEEP},
         stencilPass[2] = {GL_KEEP, GL_KEEP};
  GLuint stencilWriteMask = 0xFFFFFFFFu;
  bool cull = false;
  GLenum cullFace = GL_BACK;
  GLenum polygonMode = GL_FILL;
  DWORD colourMask = 0xF;
  bool scissor = false;
  GLint scissorBox[4] = {0, 0, 0, 0};
  GLint viewport[4] = {0, 0, 0, 0};
  float depthRange[2] = {0, 1};
  bool operator==(const FixedState&) const = default;
};

// One attribute array as it is set up in the vertex array object.
struct AttributeBinding {
  bool enabled = false;
  GLuint buffer = 0;
  GLint size = 0;
  GLenum type = 0;
  GLboolean normalised = GL_FALSE;
  GLsizei stride = 0;
  size_t offset = 0;
  bool operator==(const AttributeBinding&) const = default;
};

struct SamplerKey {
  DWORD minFilter, magFilter, mipFilter, addressU, addressV, border, lodBias, maxMip;
  auto Tie() const {
    return std::tie(minFilter, magFilter, mipFilter, addressU, addressV, border, lodBias, maxMip);
  }
  bool operator<(const SamplerKey& o) const { return Tie() < o.Tie(); }
};

constexpr GLuint kPaletteBinding = 0;

// Direct3D clip coordinates to GL's: half a pixel to the right and down (Direct3D's pixel centres
// are at integers), y turned over (see the orientation note above), depth widened when there is
// no clip control.
constexpr const char* kVertexPrelude =
    "uniform vec2 wz_halfPixel;\n"
    "vec4 wz_ToGL(vec4 p) {\n"
    "  p.xy += wz_halfPixel * p.w;\n"
    "  p.y = -p.y;\n"
    "#ifdef WZ_NO_CLIP_CONTROL\n"
    "  p.z = 2.0 * p.z - p.w;\n"
    "#endif\n"
    "  return p;\n"
    "}\n";

class GlBackend final : public Backend {
 public:
  GlBackend(Device& device, GlContext* context) : device_(device), context_(context) {}
  ~GlBackend() override;
  bool Init(std::string* why);

  BackendKind Kind() const override { return BackendKind::kOpenGL; }
  void Draw(const DeviceState& state, const VertexLayout& layout, const DrawCall& call) override;
  void Clear(Surface* target, Surface* depth, const D3DVIEWPORT9& viewport,
             std::span<const D3DRECT> rects, DWORD flags, D3DCOLOR colour, float z,
             DWORD stencil) override;
  void Present(Surface& backBuffer) override;
  bool ReadPixels(Surface& surface, std::span<uint8_t> out, size_t pitch) override;
  bool ReadFrontBuffer(std::span<uint8_t> out, size_t pitch) override;
  void ResourcesDestroyed(std::span<const uint64_t> ids) override;
  BackendCounters Counters() const override { return counters_; }
  std::string Description() const override { return context_->Description(); }
  bool CompileProgram(const std::shared_ptr<ShaderProgram>& program, std::string* log) override;

 private:
  struct GlTexture {
    GLuint name = 0;
    uint64_t version = 0;
    UINT width = 0, height = 0, levels = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
  };
  struct GlBuffer {
    GLuint name = 0;
    uint64_t version = 0;
    size_t size = 0;
  };
  // Storage of a surface that is not a texture level: a texture for colour, a renderbuffer for
  // depth.
  struct GlSurface {
    GLuint name = 0;
    bool renderbuffer = false;
    UINT width = 0, height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
  };
  struct Attachment {
    GLuint name = 0;
    bool renderbuffer = false;
    GLint level = 0;
    bool stencil = false;
    auto Tie() const { return std::tie(name, renderbuffer, level); }
    bool operator<(const Attachment& o) const { return Tie() < o.Tie(); }
  };
  struct FfProgram {
    GLuint program = 0;
    GLint worldView, projection, normalMatrix, viewport, halfPixel, globalAmbient, matDiffuse,
        matAmbient, matSpecular, matEmissive, matPower, lightPosition, lightDirection, lightDiffuse,
        lightSpecular, lightAmbient, lightAtten, lightSpot, texMatrix, tfactor, stageConstant,
        alphaRef;
    uint64_t transforms = 0, lights = 0, material = 0, renderStates = 0, viewport_ = 0, stages = 0,
             lightSet = 0;
  };
  struct FxUniform {
    GLint location;
    GLenum type;
    GLint size;
    uint64_t version = 0;
  };
  struct FxProgram {
    GLuint program = 0;
    std::weak_ptr<ShaderProgram> source;
    std::map<std::string, FxUniform> uniforms;
    uint64_t uniformVersion = ~0ull;
    uint64_t viewport = 0;
    bool failed = false;
    std::string errors;  // the compiler's and linker's logs when it failed
  };

  // Compiles and links; on failure logs the reason and, when `errors` is given, appends each line
  // of the info logs to it prefixed with "vertex: ", "fragment: " or "link: ".
  GLuint CompileProgram(const std::string& name, std::string vertex, std::string fragment,
                        std::string* errors = nullptr);
  FfProgram* FixedFunctionProgram(const FfKey& key);
  FxProgram* EffectProgram(const std::shared_ptr<ShaderProgram>& program);
  void UseProgram(GLuint program);
  void UploadFfUniforms(FfProgram& p, const FfKey& key, const DeviceState& s);
  void UploadFxUniforms(FxProgram& p, ShaderProgram& source, const DeviceState& s);
  void ComputeDerived(const DeviceState& s);

  GLuint TextureName(Texture& texture);
  Attachment AttachmentOf(Surface& surface);
  GLuint Framebuffer(Surface* colour, Surface* depth);
  void BindFramebuffer(GLuint fbo);
  GLuint BufferName(BufferResource& buffer, GLenum target);
  GLuint Sampler(const std::array<DWORD, kSamplerStateCount>& s);
  void BindTexture(unsigned unit, GLuint texture, GLuint sampler);
  void ApplyFixed(const FixedState& f);
  FixedState FixedFromState(const DeviceState& s, bool hasDepth, bool hasStencil) const;
  void SetAttribute(unsigned location, const AttributeBinding& b);
  void StreamUpload(GLenum target, size_t& capacity, const void* data, size_t bytes);
  void DeleteFramebuffersUsing(GLuint name, bool renderbuffer);

  Device& device_;
  GlContext* context_;
  bool clipControl_ = false;
  bool debug_ = std::getenv("WZ_GL_DEBUG") != nullptr;  // check for GL errors after each draw
  bool mirrorClamp_ = false;
  std::string noClipDefine_;
  GLuint vao_ = 0;
  GLuint streamVbo_ = 0;
  GLuint streamIbo_ = 0;
  size_t streamVboSize_ = 0;
  size_t streamIboSize_ = 0;
  GLuint paletteUbo_ = 0;
  GLuint readFbo_ = 0;
  GLuint frontTexture_ = 0;
  UINT frontWidth_ = 0, frontHeight_ = 0;
  bool haveFront_ = false;
  std::unordered_map<uint64_t, GlTexture> textures_;
  std::unordered_map<uint64_t, GlBuffer> buffers_;
  std::unordered_map<uint64_t, GlSurface> surfaces_;
  std::map<std::pair<Attachment, Attachment>, GLuint> framebuffers_;
  std::map<SamplerKey, GLuint> samplers_;
  std::unordered_map<FfKey, FfProgram, FfKeyHash> ffPrograms_;
  std::unordered_map<uint64_t, FxProgram> fxPrograms_;

  // What GL is set to (the state cache): nothing is re-sent that is already so.
  GLuint boundProgram_ = 0;
  GLuint boundFramebuffer_ = ~0u;
  std::array<GLuint, kMaxSamplers> boundTextures_{};
  std::array<GLuint, kMaxSamplers> boundSamplers_{};
  GLuint activeUnit_ = ~0u;
  FixedState fixed_;
  bool fixedValid_ = false;
  std::array<AttributeBinding, kAttrCount> attributes_{};
  GLuint boundArrayBuffer_ = ~0u;
  GLuint boundElementBuffer_ = ~0u;

  // Values derived from the device state, recomputed when their versions move.
  uint64_t derivedTransforms_ = 0;
  D3DMATRIX worldView_;
  float normalMatrix_[9] = {};
  uint64_t paletteTransforms_ = 0;
  uint32_t paletteCount_ = 0;

  BackendCounters counters_;
};

GlBackend::~GlBackend() {
  if (!context_->MakeCurrent()) return;
  for (auto& [id, t] : textures_)
    glDeleteTextures(1, &t.name);
  for (auto& [id, b] : buffers_)
    glDeleteBuffers(1, &b.name);
  for (auto& [id, s] : surfaces_) {
    if (s.renderbuffer) {
      glDeleteRenderbuffers(1, &s.name);
    } else {
      glDeleteTextures(1, &s.name);
    }
  }
  for (auto& [key, fbo] : framebuffers_)
    glDeleteFramebuffers(1, &fbo);
  for (auto& [key, s] : samplers_)
    glDeleteSamplers(1, &s);
  for (auto& [key, p] : ffPrograms_)
    glDeleteProgram(p.program);
  for (auto& [key, p] : fxPrograms_)
    glDeleteProgram(p.program);
  glDeleteTextures(1, &frontTexture_);
  glDeleteFramebuffers(1, &readFbo_);
  glDeleteBuffers(1, &streamVbo_);
  glDeleteBuffers(1, &streamIbo_);
  glDeleteBuffers(1, &paletteUbo_);
  glDeleteVertexArrays(1, &vao_);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glUseProgram(0);
}

bool GlBackend::Init(std::string* why) {
  if (!context_->MakeCurrent()) {
    *why = "cannot make the OpenGL context current";
    return false;
  }
  if (epoxy_gl_version() < 33) {
    *why = "OpenGL 3.3 is needed";
    return false;
  }
  clipControl_ = epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control");
  mirrorClamp_ =
      epoxy_gl_version() >= 44 || epoxy_has_gl_extension("GL_ARB_texture_mirror_clamp_to_edge");
  if (clipControl_) {
    glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
  } else {
    noClipDefine_ = "#define WZ_NO_CLIP_CONTROL\n";
  }
  glGenVertexArrays(1, &vao_);
  glBindVertexArray(vao_);
  glGenBuffers(1, &streamVbo_);
  glGenBuffers(1, &streamIbo_);
  glGenBuffers(1, &paletteUbo_);
  glBindBuffer(GL_UNIFORM_BUFFER, paletteUbo_);
  glBufferData(GL_UNIFORM_BUFFER, 256 * 64, nullptr, GL_DYNAMIC_DRAW);
  glBindBufferBase(GL_UNIFORM_BUFFER, kPaletteBinding, paletteUbo_);
  glGenFramebuffers(1, &readFbo_);
  // Flat shading takes the first vertex's colour, as Direct3D does.
  glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // Direct3D's clockwise triangles face the viewer; turned over by wz_ToGL they are
  // counter-clockwise to GL.
  glFrontFace(GL_CCW);
  glPointSize(1.0f);
  glLineWidth(1.0f);
  return true;
}

// ---- Programs ----

namespace {

// Appends each line of an info log to `out`, prefixed with the stage.
void AppendLog(std::string* out, const char* stage, const char* log) {
  if (!out) return;
  std::string_view rest = log;
  while (!rest.empty()) {
    const size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    if (!line.empty()) *out += std::string(stage) + ": " + std::string(line) + "\n";
    if (eol == std::string_view::npos) break;
    rest.remove_prefix(eol + 1);
  }
}

}  // namespace

GLuint GlBackend::CompileProgram(const std::string& name, std::string vertex, std::string fragment,
                                 std::string* errors) {
  // Every vertex program gets wz_ToGL, which turns Direct3D clip coordinates into GL's.
  const size_t eol = vertex.find('\n');
  if (eol != std::string::npos) vertex.insert(eol + 1, noClipDefine_ + kVertexPrelude);
  auto compile = [&](GLenum type, const std::string& src) -> GLuint {
    GLuint s = glCreateShader(type);
    const char* text = src.c_str();
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
      char log[2048] = {};
      glGetShaderInfoLog(s, sizeof log, nullptr, log);
      device_.LogLine("GLSL compile error in " + name +
                      (type == GL_VERTEX_SHADER ? " (vertex): " : " (fragment): ") + log);
      AppendLog(errors, type == GL_VERTEX_SHADER ? "vertex" : "fragment", log);
      glDeleteShader(s);
      return 0;
    }
    return s;
  };
  GLuint vs = compile(GL_VERTEX_SHADER, vertex);
  GLuint fs = compile(GL_FRAGMENT_SHADER, fragment);
  if (!vs || !fs) {
    glDeleteShader(vs);
    glDeleteShader(fs);
    return 0;
  }
  GLuint p = glCreateProgram();
  glAttachShader(p, vs);
  glAttachShader(p, fs);
  for (unsigned i = 0; i < kAttrCount; ++i)
    glBindAttribLocation(p, i, AttributeName(i));
  glBindFragDataLocation(p, 0, "o_color");
  glLinkProgram(p);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetProgramInfoLog(p, sizeof log, nullptr, log);
    device_.LogLine("GLSL link error in " + name + ": " + log);
    AppendLog(errors, "link", log);
    glDeleteProgram(p);
    return 0;
  }
  ++counters_.programsLinked;
  return p;
}

void GlBackend::UseProgram(GLuint program) {
  if (boundProgram_ == program) return;
  glUseProgram(program);
  boundProgram_ = program;
  ++counters_.programSwitches;
}

GlBackend::FfProgram* GlBackend::FixedFunctionProgram(const FfKey& key) {
  auto it = ffPrograms_.find(key);
  if (it != ffPrograms_.end()) return it->second.program ? &it->second : nullptr;
  ProgramSource src = GenerateFfProgram(key);
  FfProgram p;
  p.program = CompileProgram("fixed-function program", src.vertex, src.fragment);
  if (p.program) {
    auto loc = [&](const char* n) { return glGetUniformLocation(p.program, n); };
    p.worldView = loc("u_worldView");
    p.projection = loc("u_projection");
    p.normalMatrix = loc("u_normalMatrix");
    p.viewport = loc("u_viewport");
    p.halfPixel = loc("wz_halfPixel");
    p.globalAmbient = loc("u_globalAmbient");
    p.matDiffuse = loc("u_matDiffuse");
    p.matAmbient = loc("u_matAmbient");
    p.matSpecular = loc("u_matSpecular");
    p.matEmissive = loc("u_matEmissive");
    p.matPower = loc("u_matPower");
    p.lightPosition = loc("u_lightPosition");
    p.lightDirection = loc("u_lightDirection");
    p.lightDiffuse = loc("u_lightDiffuse");
    p.lightSpecular = loc("u_lightSpecular");
    p.lightAmbient = loc("u_lightAmbient");
    p.lightAtten = loc("u_lightAtten");
    p.lightSpot = loc("u_lightSpot");
    p.texMatrix = loc("u_texMatrix");
    p.tfactor = loc("u_tfactor");
    p.stageConstant = loc("u_stageConstant");
    p.alphaRef = loc("u_alphaRef");
    // Samplers read the unit of their stage, fixed at link time.
    UseProgram(p.program);
    for (int i = 0; i < int(kMaxTextureStages); ++i) {
      const std::string n = "s_tex" + std::to_string(i);
      GLint l = glGetUniformLocation(p.program, n.c_str());
      if (l >= 0) glUniform1i(l, i);
    }
    GLuint block = glGetUniformBlockIndex(p.program, "Palette");
    if (block != GL_INVALID_INDEX) glUniformBlockBinding(p.program, block, kPaletteBinding);
  }
  auto [pos, inserted] = ffPrograms_.emplace(key, p);
  return pos->second.program ? &pos->second : nullptr;
}

GlBackend::FxProgram* GlBackend::EffectProgram(const std::shared_ptr<ShaderProgram>& program) {
  FxProgram& p = fxPrograms_[program->Id()];
  if (p.program) return &p;
  if (p.failed) return nullptr;
  p.source = program;
  p.program = CompileProgram("program " + program->Name(), program->VertexSource(),
                             program->FragmentSource(), &p.errors);
  if (!p.program) {
    p.failed = true;
    return nullptr;
  }
  UseProgram(p.program);
  GLint count = 0;
  glGetProgramiv(p.program, GL_ACTIVE_UNIFORMS, &count);
  for (GLint i = 0; i < count; ++i) {
    char name[256];
    GLint size = 0;
    GLenum type = 0;
    glGetActiveUniform(p.program, GLuint(i), sizeof name, nullptr, &size, &type, name);
    std::string n = name;
    if (n.size() > 3 && n.compare(n.size() - 3, 3, "[0]") == 0) n.resize(n.size() - 3);
    GLint location = glGetUniformLocation(p.program, name);
    if (location < 0) continue;
    p.uniforms[n] = FxUniform{location, type, size};
  }
  for (const auto& [name, stage] : program->SamplerStages()) {
    auto it = p.uniforms.find(name);
    if (it != p.uniforms.end()) glUniform1i(it->second.location, GLint(stage));
  }
  return &p;
}

bool GlBackend::CompileProgram(const std::shared_ptr<ShaderProgram>& program, std::string* log) {
  // Without a current context nothing can be checked now; the draw will try again.
  if (!program || !context_->MakeCurrent()) return true;
  const FxProgram* p = EffectProgram(program);
  if (p) return true;
  if (log) *log = fxPrograms_[program->Id()].errors;
  return false;
}

void GlBackend::ComputeDerived(const DeviceState& s) {
  if (derivedTransforms_ == s.versions.transforms) return;
  derivedTransforms_ = s.versions.transforms;
  worldView_ = Mul(s.world[0], s.view);
  float inv[9];
  Inverse3(worldView_, inv);
  std::memcpy(normalMatrix_, inv, sizeof inv);
}

void GlBackend::UploadFfUniforms(FfProgram& p, const FfKey& key, const DeviceState& s) {
  const StateVersions& v = s.versions;
  if (p.transforms != v.transforms) {
    p.transforms = v.transforms;
    ComputeDerived(s);
    glUniformMatrix4fv(p.worldView, 1, GL_FALSE, &worldView_.m[0][0]);
    glUniformMatrix4fv(p.projection, 1, GL_FALSE, &s.projection.m[0][0]);
    // Normals go through the inverse transpose of world x view.
    glUniformMatrix3fv(p.normalMatrix, 1, GL_TRUE, normalMatrix_);
    if (p.texMatrix >= 0) {
      glUniformMatrix4fv(p.texMatrix, kMaxTextureStages, GL_FALSE, &s.textureTransforms[0].m[0][0]);
    }
  }
  if (key.blendWeights && paletteTransforms_ != v.transforms) {
    paletteTransforms_ = v.transforms;
    const uint32_t count =
        key.indexedBlend ? std::min<uint32_t>(s.worldMatricesUsed, kWorldMatrixCount) : 4;
    std::vector<D3DMATRIX> palette(count);
    for (uint32_t i = 0; i < count; ++i)
      palette[i] = Mul(s.world[i], s.view);
    glBindBuffer(GL_UNIFORM_BUFFER, paletteUbo_);
    glBufferSubData(GL_UNIFORM_BUFFER, 0, GLsizeiptr(count * sizeof(D3DMATRIX)), palette.data());
    counters_.bytesUploaded += count * sizeof(D3DMATRIX);
    paletteCount_ = count;
  }
  const uint64_t viewportStamp = v.viewport * 1000003u + v.targets;
  if (p.viewport_ != viewportStamp) {
    p.viewport_ = viewportStamp;
    const D3DVIEWPORT9& vp = s.viewport;
    glUniform4f(p.viewport, float(vp.X), float(vp.Y), float(vp.Width), float(vp.Height));
    glUniform2f(p.halfPixel, 1.0f / float(vp.Width), -1.0f / float(vp.Height));
  }
  if (p.renderStates != v.renderStates) {
    p.renderStates = v.renderStates;
    float c[4];
    ColourOf(s.renderStates[D3DRS_TEXTUREFACTOR], c);
    glUniform4fv(p.tfactor, 1, c);
    ColourOf(s.renderStates[D3DRS_AMBIENT], c);
    glUniform4fv(p.globalAmbient, 1, c);
    glUniform1f(p.alphaRef, float(s.renderStates[D3DRS_ALPHAREF] & 0xFF));
  }
  if (p.stages != v.stages && p.stageConstant >= 0) {
    p.stages = v.stages;
    float c[kMaxTextureStages][4];
    for (uint32_t i = 0; i < kMaxTextureStages; ++i) {
      ColourOf(s.stageStates[i][D3DTSS_CONSTANT], c[i]);
    }
    glUniform4fv(p.stageConstant, kMaxTextureStages, &c[0][0]);
  }
  if (!key.lighting) return;
  if (p.material != v.material) {
    p.material = v.material;
    const D3DMATERIAL9& m = s.material;
    glUniform4fv(p.matDiffuse, 1, &m.Diffuse.r);
    glUniform4fv(p.matAmbient, 1, &m.Ambient.r);
    glUniform4fv(p.matSpecular, 1, &m.Specular.r);
    glUniform4fv(p.matEmissive, 1, &m.Emissive.r);
    glUniform1f(p.matPower, m.Power);
  }
  const uint64_t lightStamp = v.lights * 1000003u + v.transforms;
  if (key.lightCount && p.lights != lightStamp) {
    p.lights = lightStamp;
    float pos[kMaxLights][3], dir[kMaxLights][3], dif[kMaxLights][4], spe[kMaxLights][4],
        amb[kMaxLights][4], att[kMaxLights][4], spot[kMaxLights][4];
    int n = 0;
    for (const LightSlot& slot : s.lights) {
      if (!slot.enabled || n == key.lightCount) continue;
      const D3DLIGHT9& l = slot.light;
      // Lights are given in world space; lighting runs in view space.
      const D3DVECTOR p3 = TransformPoint(l.Position, s.view);
      const D3DVECTOR d3 = TransformNormalised(l.Direction, s.view);
      pos[n][0] = p3.x, pos[n][1] = p3.y, pos[n][2] = p3.z;
      dir[n][0] = d3.x, dir[n][1] = d3.y, dir[n][2] = d3.z;
      std::memcpy(dif[n], &l.Diffuse.r, 16);
      std::memcpy(spe[n], &l.Specular.r, 16);
      std::memcpy(amb[n], &l.Ambient.r, 16);
      att[n][0] = l.Attenuation0, att[n][1] = l.Attenuation1, att[n][2] = l.Attenuation2;
      att[n][3] = l.Range;
      spot[n][0] = std::cos(l.Theta * 0.5f), spot[n][1] = std::cos(l.Phi * 0.5f);
      spot[n][2] = l.Falloff, spot[n][3] = 0;
      ++n;
    }
    glUniform3fv(p.lightPosition, n, &pos[0][0]);
    glUniform3fv(p.lightDirection, n, &dir[0][0]);
    glUniform4fv(p.lightDiffuse, n, &dif[0][0]);
    glUniform4fv(p.lightSpecular, n, &spe[0][0]);
    glUniform4fv(p.lightAmbient, n, &amb[0][0]);
    glUniform4fv(p.lightAtten, n, &att[0][0]);
    glUniform4fv(p.lightSpot, n, &spot[0][0]);
  }
}

void GlBackend::UploadFxUniforms(FxProgram& p, ShaderProgram& source, const DeviceState& s) {
  const uint64_t viewportStamp = s.versions.viewport * 1000003u + s.versions.targets;
  if (p.viewport != viewportStamp) {
    p.viewport = viewportStamp;
    const D3DVIEWPORT9& vp = s.viewport;
    if (auto it = p.uniforms.find("wz_viewport"); it != p.uniforms.end()) {
      glUniform4f(it->second.location, float(vp.X), float(vp.Y), float(vp.Width), float(vp.Height));
    }
    if (auto it = p.uniforms.find("wz_halfPixel"); it != p.uniforms.end()) {
      glUniform2f(it->second.location, 1.0f / float(vp.Width), -1.0f / float(vp.Height));
    }
  }
  if (p.uniformVersion == source.UniformVersion()) return;
  p.uniformVersion = source.UniformVersion();
  for (const auto& [name, value] : source.Uniforms()) {
    auto it = p.uniforms.find(name);
    if (it == p.uniforms.end() || it->second.version == value.version) continue;
    FxUniform& u = it->second;
    u.version = value.version;
    const GLsizei floats = GLsizei(value.floats.size());
    const GLsizei ints = GLsizei(value.ints.size());
    switch (u.type) {
      case GL_FLOAT:
        if (floats) glUniform1fv(u.location, std::min(floats, u.size), value.floats.data());
        break;
      case GL_FLOAT_VEC2:
        if (floats >= 2)
          glUniform2fv(u.location, std::min(floats / 2, u.size), value.floats.data());
        break;
      case GL_FLOAT_VEC3:
        if (floats >= 3)
          glUniform3fv(u.location, std::min(floats / 3, u.size), value.floats.data());
        break;
      case GL_FLOAT_VEC4:
        if (floats >= 4)
          glUniform4fv(u.location, std::min(floats / 4, u.size), value.floats.data());
        break;
      case GL_FLOAT_MAT4:
        if (floats >= 16) {
          glUniformMatrix4fv(u.location, std::min(floats / 16, u.size),
                             value.transposed ? GL_TRUE : GL_FALSE, value.floats.data());
        }
        break;
      case GL_FLOAT_MAT3:
        if (floats >= 9) {
          glUniformMatrix3fv(u.location, std::min(floats / 9, u.size),
                             value.transposed ? GL_TRUE : GL_FALSE, value.floats.data());
        }
        break;
      case GL_INT:
      case GL_BOOL:
        if (ints) {
          glUniform1iv(u.location, std::min(ints, u.size), value.ints.data());
        } else if (floats) {
          std::vector<GLint> conv(value.floats.begin(), value.floats.end());
          glUniform1iv(u.location, std::min(floats, u.size), conv.data());
        }
        break;
      default:
        break;  // samplers are fixed at link time
    }
  }
}

// ---- Resources ----

GLuint GlBackend::TextureName(Texture& texture) {
  GlTexture& t = textures_[texture.Id()];
  const uint64_t version = texture.Version();
  if (t.name && t.version == version) return t.name;
  const GlFormat f = FormatOf(texture.Format());
  if (!f.internalFormat) return 0;
  if (!t.name) {
    glGenTextures(1, &t.name);
    activeUnit_ = ~0u;
  }
  // Uploads go through unit 0's binding; the cache is told so that draws rebind.
  if (activeUnit_ != 0) {
    glActiveTexture(GL_TEXTURE0);
    activeUnit_ = 0;
  }
  glBindTexture(GL_TEXTURE_2D, t.name);
  boundTextures_[0] = t.name;
  const bool target = texture.IsRenderTarget() || texture.IsDepthStencil();
  const bool realloc = t.width != texture.LevelWidth(0) || t.height != texture.LevelHeight(0) ||
                       t.levels != texture.GetLevelCount() || t.format != texture.Format();
  if (realloc || !target) {
    const size_t texel = BytesPerTexel(texture.Format());
    for (UINT level = 0; level < texture.GetLevelCount(); ++level) {
      const UINT w = texture.LevelWidth(level), h = texture.LevelHeight(level);
      std::span<const uint8_t> bits = std::as_const(texture).LevelBits(level);
      const void* data = nullptr;
      if (!target && !bits.empty()) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(texture.LevelPitch(level) / texel));
        data = bits.data();
        counters_.bytesUploaded += bits.size();
      }
      glTexImage2D(GL_TEXTURE_2D, GLint(level), GLint(f.internalFormat), GLsizei(w), GLsizei(h), 0,
                   f.format, f.type, data);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  }
  if (realloc) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(texture.GetLevelCount()) - 1);
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, f.swizzle);
    // Filtering comes from sampler objects; these are what a texture read outside one would use.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    if (t.name) DeleteFramebuffersUsing(t.name, false);
  }
  t.version = version;
  t.width = texture.LevelWidth(0);
  t.height = texture.LevelHeight(0);
  t.levels = texture.GetLevelCount();
  t.format = texture.Format();
  return t.name;
}

GlBackend::Attachment GlBackend::AttachmentOf(Surface& surface) {
  if (surface.Kind() == SurfaceKind::kTextureLevel && surface.Container()) {
    Texture& t = *surface.Container();
    return {TextureName(t), false, GLint(surface.Level()), t.Format() == D3DFMT_D24S8};
  }
  const GlFormat f = FormatOf(surface.Format());
  GlSurface& s = surfaces_[surface.Id()];
  if (s.name && s.width == surface.Width() && s.height == surface.Height() &&
      s.format == surface.Format()) {
    return {s.name, s.renderbuffer, 0, f.stencil};
  }
  if (s.name) {
    DeleteFramebuffersUsing(s.name, s.renderbuffer);
    if (s.renderbuffer) {
      glDeleteRenderbuffers(1, &s.name);
    } else {
      glDeleteTextures(1, &s.name);
    }
  }
  s.width = surface.Width();
  s.height = surface.Height();
  s.format = surface.Format();
  if (f.depth) {
    s.renderbuffer = true;
    glGenRenderbuffers(1, &s.name);
    glBindRenderbuffer(GL_RENDERBUFFER, s.name);
    glRenderbufferStorage(GL_RENDERBUFFER, f.internalFormat, GLsizei(s.width), GLsizei(s.height));
  } else {
    s.renderbuffer = false;
    glGenTextures(1, &s.name);
    if (activeUnit_ != 0) {
      glActiveTexture(GL_TEXTURE0);
      activeUnit_ = 0;
    }
    glBindTexture(GL_TEXTURE_2D, s.name);
    boundTextures_[0] = s.name;
    // An X8R8G8B8 target keeps no alpha: blending with destination alpha reads 1.
    const GLenum internal = surface.Format() == D3DFMT_X8R8G8B8 ? GL_RGB8 : f.internalFormat;
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(internal), GLsizei(s.width), GLsizei(s.height), 0,
                 f.format, f.type, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  }
  return {s.name, s.renderbuffer, 0, f.stencil};
}

void GlBackend::DeleteFramebuffersUsing(GLuint name, bool renderbuffer) {
  for (auto it = framebuffers_.begin(); it != framebuffers_.end();) {
    const auto& [c, d] = it->first;
    if ((c.name == name && c.renderbuffer == renderbuffer) ||
        (d.name == name && d.renderbuffer == renderbuffer)) {
      if (boundFramebuffer_ == it->second) boundFramebuffer_ = ~0u;
      glDeleteFramebuffers(1, &it->second);
      it = framebuffers_.erase(it);
    } else {
      ++it;
    }
  }
}

GLuint GlBackend::Framebuffer(Surface* colour, Surface* depth) {
  Attachment c = colour ? AttachmentOf(*colour) : Attachment{};
  Attachment d = depth ? AttachmentOf(*depth) : Attachment{};
  auto key = std::make_pair(c, d);
  auto it = framebuffers_.find(key);
  if (it != framebuffers_.end()) return it->second;
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  boundFramebuffer_ = fbo;
  if (c.name) {
    if (c.renderbuffer) {
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, c.name);
    } else {
      glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, c.name, c.level);
    }
  } else {
    glDrawBuffer(GL_NONE);
    glReadBuffer(GL_NONE);
  }
  if (d.name) {
    const GLenum point = d.stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
    if (d.renderbuffer) {
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, point, GL_RENDERBUFFER, d.name);
    } else {
      glFramebufferTexture2D(GL_FRAMEBUFFER, point, GL_TEXTURE_2D, d.name, d.level);
    }
  }
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    device_.LogLine("Render target combination not supported by OpenGL (status " +
                    std::to_string(status) + ")");
  }
  framebuffers_.emplace(key, fbo);
  return fbo;
}

void GlBackend::BindFramebuffer(GLuint fbo) {
  if (boundFramebuffer_ == fbo) return;
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  boundFramebuffer_ = fbo;
}

GLuint GlBackend::BufferName(BufferResource& buffer, GLenum target) {
  GlBuffer& b = buffers_[buffer.Id()];
  const uint64_t version = buffer.Version();
  if (b.name && b.version == version) return b.name;
  if (!b.name) glGenBuffers(1, &b.name);
  glBindBuffer(target, b.name);
  if (target == GL_ARRAY_BUFFER) boundArrayBuffer_ = b.name;
  if (target == GL_ELEMENT_ARRAY_BUFFER) boundElementBuffer_ = b.name;
  std::span<const uint8_t> bytes = buffer.Bytes();
  auto [begin, end] = buffer.TakeDirtyRange();
  if (b.size != bytes.size() || begin == end || b.version == 0) {
    glBufferData(target, GLsizeiptr(bytes.size()), bytes.data(),
                 (buffer.Usage() & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    counters_.bytesUploaded += bytes.size();
    b.size = bytes.size();
  } else {
    glBufferSubData(target, GLintptr(begin), GLsizeiptr(end - begin), bytes.data() + begin);
    counters_.bytesUploaded += end - begin;
  }
  b.version = version;
  return b.name;
}

GLuint GlBackend::Sampler(const std::array<DWORD, kSamplerStateCount>& s) {
  SamplerKey key{s[D3DSAMP_MINFILTER],     s[D3DSAMP_MAGFILTER],  s[D3DSAMP_MIPFILTER],
                 s[D3DSAMP_ADDRESSU],      s[D3DSAMP_ADDRESSV],   s[D3DSAMP_BORDERCOLOR],
                 s[D3DSAMP_MIPMAPLODBIAS], s[D3DSAMP_MAXMIPLEVEL]};
  auto it = samplers_.find(key);
  if (it != samplers_.end()) return it->second;
  GLuint sampler = 0;
  glGenSamplers(1, &sampler);
  // NONE filtering is taken as point sampling; anisotropic as linear.
  const bool minLinear = key.minFilter >= D3DTEXF_LINEAR;
  const bool magLinear = key.magFilter >= D3DTEXF_LINEAR;
  GLenum minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
  if (key.mipFilter == D3DTEXF_POINT) {
    minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  } else if (key.mipFilter >= D3DTEXF_LINEAR) {
    minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
  }
  glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
  glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
  glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GLint(AddressMode(key.addressU, mirrorClamp_)));
  glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GLint(AddressMode(key.addressV, mirrorClamp_)));
  float border[4];
  ColourOf(key.border, border);
  glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
  glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, DwordToFloat(key.lodBias));
  // The most detailed level to use; 0 keeps GL's default so that magnification is decided
  // as usual.
  if (key.maxMip > 0) glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, float(key.maxMip));
  samplers_.emplace(key, sampler);
  return sampler;
}

void GlBackend::BindTexture(unsigned unit, GLuint texture, GLuint sampler) {
  if (boundTextures_[unit] != texture) {
    if (activeUnit_ != unit) {
      glActiveTexture(GL_TEXTURE0 + unit);
      activeUnit_ = unit;
    }
    glBindTexture(GL_TEXTURE_2D, texture);
    boundTextures_[unit] = texture;
  }
  if (boundSamplers_[unit] != sampler) {
    glBindSampler(unit, sampler);
    boundSamplers_[unit] = sampler;
  }
}

void GlBackend::ResourcesDestroyed(std::span<const uint64_t> ids) {
  if (ids.empty() || !context_->MakeCurrent()) return;
  for (uint64_t id : ids) {
    if (auto it = textures_.find(id); it != textures_.end()) {
      DeleteFramebuffersUsing(it->second.name, false);
      for (GLuint& b : boundTextures_) {
        if (b == it->second.name) b = ~0u;
      }
      glDeleteTextures(1, &it->second.name);
      textures_.erase(it);
    }
    if (auto it = buffers_.find(id); it != buffers_.end()) {
      if (boundArrayBuffer_ == it->second.name) boundArrayBuffer_ = ~0u;
      if (boundElementBuffer_ == it->second.name) boundElementBuffer_ = ~0u;
      for (AttributeBinding& a : attributes_) {
        if (a.buffer == it->second.name) a = AttributeBinding{true, ~0u};
      }
      glDeleteBuffers(1, &it->second.name);
      buffers_.erase(it);
    }
    if (auto it = surfaces_.find(id); it != surfaces_.end()) {
      DeleteFramebuffersUsing(it->second.name, it->second.renderbuffer);
      if (it->second.renderbuffer) {
        glDeleteRenderbuffers(1, &it->second.name);
      } else {
        for (GLuint& b : boundTextures_) {
          if (b == it->second.name) b = ~0u;
        }
        glDeleteTextures(1, &it->second.name);
      }
      surfaces_.erase(it);
    }
  }
}

// ---- Fixed state ----

FixedState GlBackend::FixedFromState(const DeviceState& s, bool hasDepth, bool hasStencil) const {
  const auto& rs = s.renderStates;
  FixedState f;
  f.blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
  if (f.blend) {
    auto [src, dst] = BlendFactors(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND]);
    f.srcRgb = src;
    f.dstRgb = dst;
    f.eqRgb = BlendEquation(rs[D3DRS_BLENDOP]);
    if (rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
      auto [sa, da] = BlendFactors(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA]);
      f.srcAlpha = sa;
      f.dstAlpha = da;
      f.eqAlpha = BlendEquation(rs[D3DRS_BLENDOPALPHA]);
    } else {
      f.srcAlpha = src;
      f.dstAlpha = dst;
      f.eqAlpha = f.eqRgb;
    }
    f.blendColour = rs[D3DRS_BLENDFACTOR];
  }
  f.depthTest = hasDepth && rs[D3DRS_ZENABLE] != D3DZB_FALSE;
  if (f.depthTest) {
    f.depthFunc = CompareFunc(rs[D3DRS_ZFUNC]);
    f.depthMask = rs[D3DRS_ZWRITEENABLE] != 0;
  }
  f.stencilTest = hasStencil && rs[D3DRS_STENCILENABLE] != 0;
  if (f.stencilTest) {
    const bool twoSided = rs[D3DRS_TWOSIDEDSTENCILMODE] != 0;
    f.stencilFunc[0] = CompareFunc(rs[D3DRS_STENCILFUNC]);
    f.stencilFail[0] = StencilOp(rs[D3DRS_STENCILFAIL]);
    f.stencilZFail[0] = StencilOp(rs[D3DRS_STENCILZFAIL]);
    f.stencilPass[0] = StencilOp(rs[D3DRS_STENCILPASS]);
    f.stencilFunc[1] = twoSided ? CompareFunc(rs[D3DRS_CCW_STENCILFUNC]) : f.stencilFunc[0];
    f.stencilFail[1] = twoSided ? StencilOp(rs[D3DRS_CCW_STENCILFAIL]) : f.stencilFail[0];
    f.stencilZFail[1] = twoSided ? StencilOp(rs[D3DRS_CCW_STENCILZFAIL]) : f.stencilZFail[0];
    f.stencilPass[1] = twoSided ? StencilOp(rs[D3DRS_CCW_STENCILPASS]) : f.stencilPass[0];
    f.stencilRef = GLint(rs[D3DRS_STENCILREF] & 0xFF);
    f.stencilMask = rs[D3DRS_STENCILMASK];
    f.stencilWriteMask = rs[D3DRS_STENCILWRITEMASK];
  }
  // Direct3D's front faces are its clockwise ones, which is what GL's front face is set to.
  const DWORD cull = rs[D3DRS_CULLMODE];
  f.cull = cull == D3DCULL_CW || cull == D3DCULL_CCW;
  f.cullFace = cull == D3DCULL_CW ? GL_FRONT : GL_BACK;
  f.polygonMode = rs[D3DRS_FILLMODE] == D3DFILL_POINT       ? GL_POINT
                  : rs[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                                                            : GL_FILL;
  f.colourMask = rs[D3DRS_COLORWRITEENABLE] & 0xF;
  f.scissor = rs[D3DRS_SCISSORTESTENABLE] != 0;
  if (f.scissor) {
    f.scissorBox[0] = s.scissor.left;
    f.scissorBox[1] = s.scissor.top;
    f.scissorBox[2] = std::max(0, s.scissor.right - s.scissor.left);
    f.scissorBox[3] = std::max(0, s.scissor.bottom - s.scissor.top);
  }
  f.viewport[0] = GLint(s.viewport.X);
  f.viewport[1] = GLint(s.viewport.Y);
  f.viewport[2] = GLint(s.viewport.Width);
  f.viewport[3] = GLint(s.viewport.Height);
  f.depthRange[0] = s.viewport.MinZ;
  f.depthRange[1] = s.viewport.MaxZ;
  return f;
}

void GlBackend::ApplyFixed(const FixedState& f) {
  const FixedState& c = fixed_;
  const bool all = !fixedValid_;
  auto enable = [](GLenum cap, bool on) { on ? glEnable(cap) : glDisable(cap); };
  if (all || f.blend != c.blend) enable(GL_BLEND, f.blend);
  if (f.blend && (all || !c.blend || f.srcRgb != c.srcRgb || f.dstRgb != c.dstRgb ||
                  f.srcAlpha != c.srcAlpha || f.dstAlpha != c.dstAlpha)) {
    glBlendFuncSeparate(f.srcRgb, f.dstRgb, f.srcAlpha, f.dstAlpha);
  }
  if (f.blend && (all || !c.blend || f.eqRgb != c.eqRgb || f.eqAlpha != c.eqAlpha)) {
    glBlendEquationSeparate(f.eqRgb, f.eqAlpha);
  }
  if (f.blend && (all || !c.blend || f.blendColour != c.blendColour)) {
    float bc[4];
    ColourOf(f.blendColour, bc);
    glBlendColor(bc[0], bc[1], bc[2], bc[3]);
  }
  if (all || f.depthTest != c.depthTest) enable(GL_DEPTH_TEST, f.depthTest);
  if (all || f.depthFunc != c.depthFunc) glDepthFunc(f.depthFunc);
  if (all || f.depthMask != c.depthMask) glDepthMask(f.depthMask ? GL_TRUE : GL_FALSE);
  if (all || f.stencilTest != c.stencilTest) enable(GL_STENCIL_TEST, f.stencilTest);
  if (f.stencilTest) {
    for (int face = 0; face < 2; ++face) {
      const GLenum side = face == 0 ? GL_FRONT : GL_BACK;
      glStencilFuncSeparate(side, f.stencilFunc[face], f.stencilRef, f.stencilMask);
      glStencilOpSeparate(side, f.stencilFail[face], f.stencilZFail[face], f.stencilPass[face]);
    }
  }
  if (all || f.stencilWriteMask != c.stencilWriteMask) glStencilMask(f.stencilWriteMask);
  if (all || f.cull != c.cull) enable(GL_CULL_FACE, f.cull);
  if (all || f.cullFace != c.cullFace) glCullFace(f.cullFace);
  if (all || f.polygonMode != c.polygonMode) glPolygonMode(GL_FRONT_AND_BACK, f.polygonMode);
  if (all || f.colourMask != c.colourMask) {
    glColorMask(f.colourMask & 1, (f.colourMask >> 1) & 1, (f.colourMask >> 2) & 1,
                (f.colourMask >> 3) & 1);
  }
  if (all || f.scissor != c.scissor) enable(GL_SCISSOR_TEST, f.scissor);
  if (f.scissor && (all || !std::equal(f.scissorBox, f.scissorBox + 4, c.scissorBox))) {
    glScissor(f.scissorBox[0], f.scissorBox[1], f.scissorBox[2], f.scissorBox[3]);
  }
  if (all || !std::equal(f.viewport, f.viewport + 4, c.viewport)) {
    glViewport(f.viewport[0], f.viewport[1], f.viewport[2], f.viewport[3]);
  }
  if (all || f.depthRange[0] != c.depthRange[0] || f.depthRange[1] != c.depthRange[1]) {
    glDepthRange(f.depthRange[0], f.depthRange[1]);
  }
  fixed_ = f;
  fixedValid_ = true;
}

void GlBackend::SetAttribute(unsigned location, const AttributeBinding& b) {
  AttributeBinding& c = attributes_[location];
  if (c == b) return;
  if (!b.enabled) {
    if (c.enabled) glDisableVertexAttribArray(location);
    // A missing colour reads white, anything else zero (with w = 1).
    if (location == kAttrColor0) {
      glVertexAttrib4f(location, 1, 1, 1, 1);
    } else {
      glVertexAttrib4f(location, 0, 0, 0, 1);
    }
    c = b;
    return;
  }
  if (!c.enabled) glEnableVertexAttribArray(location);
  if (boundArrayBuffer_ != b.buffer) {
    glBindBuffer(GL_ARRAY_BUFFER, b.buffer);
    boundArrayBuffer_ = b.buffer;
  }
  glVertexAttribPointer(location, b.size, b.type, b.normalised, b.stride,
                        reinterpret_cast<const void*>(b.offset));
  c = b;
}

// ---- Draws ----

// User-pointer data goes into one buffer per target that keeps its storage: rewriting storage
// the driver already has costs a copy, new storage every draw would cost page faults too.
void GlBackend::StreamUpload(GLenum target, size_t& capacity, const void* data, size_t bytes) {
  if (bytes > capacity) {
    capacity = std::max(bytes, capacity * 2);
    glBufferData(target, GLsizeiptr(capacity), nullptr, GL_STREAM_DRAW);
  }
  glBufferSubData(target, 0, GLsizeiptr(bytes), data);
  counters_.bytesUploaded += bytes;
}

void GlBackend::Draw(const DeviceState& s, const VertexLayout& layout, const DrawCall& call) {
  if (!context_->MakeCurrent() || !s.renderTarget) {
    ++counters_.skippedDraws;
    return;
  }
  Surface* depth = s.depthStencil.get();
  BindFramebuffer(Framebuffer(s.renderTarget.get(), depth));
  const bool hasStencil = depth && FormatOf(depth->Format()).stencil;
  ApplyFixed(FixedFromState(s, depth != nullptr, hasStencil));

  // Program and its uniforms.
  std::array<bool, kMaxSamplers> stageUsed{};
  if (s.program) {
    FxProgram* p = EffectProgram(s.program);
    if (!p) {
      ++counters_.skippedDraws;
      return;
    }
    UseProgram(p->program);
    UploadFxUniforms(*p, *s.program, s);
    for (const auto& [name, stage] : s.program->SamplerStages()) {
      if (stage < kMaxSamplers) stageUsed[stage] = true;
    }
  } else {
    std::array<uint32_t, kMaxLights> lights{};
    const FfKey key = BuildFfKey(s, layout, lights);
    FfProgram* p = FixedFunctionProgram(key);
    if (!p) {
      ++counters_.skippedDraws;
      return;
    }
    UseProgram(p->program);
    UploadFfUniforms(*p, key, s);
    for (int i = 0; i < key.stageCount; ++i)
      stageUsed[i] = key.stages[i].textureBound;
  }
  // Uploads first: an upload goes through unit 0, so it must not come between binding stage 0
  // and the draw.
  std::array<GLuint, kMaxSamplers> names{};
  for (uint32_t i = 0; i < kMaxSamplers; ++i) {
    if (stageUsed[i] && s.textures[i]) names[i] = TextureName(*s.textures[i]);
  }
  for (uint32_t i = 0; i < kMaxSamplers; ++i) {
    if (!stageUsed[i]) continue;
    if (!s.textures[i]) {
      // A program reading a stage without a texture reads GL's empty default texture, (0, 0, 0,
      // 1), not whatever an earlier draw left bound to the unit.
      if (s.program) BindTexture(i, 0, Sampler(s.samplerStates[i]));
      continue;
    }
    BindTexture(i, names[i], Sampler(s.samplerStates[i]));
  }

  // Vertex input.
  const bool userPointer =
      call.kind == DrawCall::Kind::kPrimitiveUP || call.kind == DrawCall::Kind::kIndexedPrimitiveUP;
  if (userPointer) {
    // Indexed user-pointer draws upload only the vertices their indices span.
    const size_t first = call.kind == DrawCall::Kind::kIndexedPrimitiveUP
                             ? size_t{call.minIndex} * call.vertexStride
                             : 0;
    glBindBuffer(GL_ARRAY_BUFFER, streamVbo_);
    boundArrayBuffer_ = streamVbo_;
    StreamUpload(GL_ARRAY_BUFFER, streamVboSize_, call.vertices + first, call.vertexBytes - first);
  }
  std::array<AttributeBinding, kAttrCount> wanted{};
  for (const VertexElement& e : layout.Elements()) {
    const unsigned loc = LocationOf(e);
    if (loc >= kAttrCount) continue;
    AttributeBinding b;
    b.enabled = true;
    const AttributeFormat af = AttributeFormatOf(e.type);
    b.size = af.size;
    b.type = af.type;
    b.normalised = af.normalised;
    if (userPointer) {
      if (e.stream != 0) continue;
      b.buffer = streamVbo_;
      b.stride = GLsizei(call.vertexStride);
      b.offset = e.offset;
    } else {
      const StreamSource& src = s.streams[e.stream];
      if (!src.buffer) continue;
      b.buffer = BufferName(*src.buffer, GL_ARRAY_BUFFER);
      b.stride = GLsizei(src.stride);
      b.offset = size_t{src.offset} + e.offset;
    }
    wanted[loc] = b;
  }
  for (unsigned loc = 0; loc < kAttrCount; ++loc)
    SetAttribute(loc, wanted[loc]);

  const GLenum mode = PrimitiveMode(call.type);
  switch (call.kind) {
    case DrawCall::Kind::kPrimitive:
      glDrawArrays(mode, GLint(call.startVertex), GLsizei(call.elementCount));
      break;
    case DrawCall::Kind::kPrimitiveUP:
      glDrawArrays(mode, 0, GLsizei(call.elementCount));
      break;
    case DrawCall::Kind::kIndexedPrimitive: {
      const IndexBuffer& ib = *s.indices;
      GLuint name = BufferName(*s.indices, GL_ELEMENT_ARRAY_BUFFER);
      if (boundElementBuffer_ != name) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, name);
        boundElementBuffer_ = name;
      }
      const bool wide = ib.Format() == D3DFMT_INDEX32;
      glDrawElementsBaseVertex(
          mode, GLsizei(call.elementCount), wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
          reinterpret_cast<const void*>(size_t{call.startIndex} * (wide ? 4 : 2)), call.baseVertex);
      break;
    }
    case DrawCall::Kind::kIndexedPrimitiveUP: {
      const bool wide = call.indexFormat == D3DFMT_INDEX32;
      const size_t bytes = size_t{call.elementCount} * (wide ? 4 : 2);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, streamIbo_);
      boundElementBuffer_ = streamIbo_;
      StreamUpload(GL_ELEMENT_ARRAY_BUFFER, streamIboSize_, call.indices, bytes);
      glDrawElementsBaseVertex(mode, GLsizei(call.elementCount),
                               wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT, nullptr,
                               -GLint(call.minIndex));
      break;
    }
  }
  ++counters_.draws;
  counters_.primitives += call.primitiveCount;
  if (debug_) {
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) {
      device_.LogLine("OpenGL error " + std::to_string(e) + " in draw " +
                      std::to_string(counters_.draws));
    }
  }
}

void GlBackend::Clear(Surface* target, Surface* depth, const D3DVIEWPORT9& vp,
                      std::span<const D3DRECT> rects, DWORD flags, D3DCOLOR colour, float z,
                      DWORD stencil) {
  if (!context_->MakeCurrent()) return;
  ++counters_.clears;
  BindFramebuffer(Framebuffer(target, depth));
  // A clear writes every channel and bit, whatever the write masks say.
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glDepthMask(GL_TRUE);
  glStencilMask(0xFFFFFFFFu);
  fixedValid_ = false;
  float c[4];
  ColourOf(colour, c);
  glClearColor(c[0], c[1], c[2], c[3]);
  glClearDepth(z);
  glClearStencil(GLint(stencil & 0xFF));
  GLbitfield bits = 0;
  if ((flags & D3DCLEAR_TARGET) && target) bits |= GL_COLOR_BUFFER_BIT;
  if ((flags & D3DCLEAR_ZBUFFER) && depth) bits |= GL_DEPTH_BUFFER_BIT;
  if ((flags & D3DCLEAR_STENCIL) && depth) bits |= GL_STENCIL_BUFFER_BIT;
  // The viewport limits a clear, and so do the rectangles when there are any. A clear of the
  // whole target goes without a scissor box: drivers clear whole targets much faster.
  const int64_t tw = target ? target->Width() : depth->Width();
  const int64_t th = target ? target->Height() : depth->Height();
  auto clearBox = [&](int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    x1 = std::max<int64_t>(x1, vp.X);
    y1 = std::max<int64_t>(y1, vp.Y);
    x2 = std::min<int64_t>(x2, int64_t{vp.X} + vp.Width);
    y2 = std::min<int64_t>(y2, int64_t{vp.Y} + vp.Height);
    if (x2 <= x1 || y2 <= y1) return;
    if (x1 == 0 && y1 == 0 && x2 >= tw && y2 >= th) {
      glDisable(GL_SCISSOR_TEST);
    } else {
      glEnable(GL_SCISSOR_TEST);
      glScissor(GLint(x1), GLint(y1), GLsizei(x2 - x1), GLsizei(y2 - y1));
    }
    glClear(bits);
  };
  if (rects.empty()) {
    clearBox(vp.X, vp.Y, int64_t{vp.X} + vp.Width, int64_t{vp.Y} + vp.Height);
  }
  for (const D3DRECT& r : rects)
    clearBox(r.x1, r.y1, r.x2, r.y2);
}

void GlBackend::Present(Surface& backBuffer) {
  if (!context_->MakeCurrent()) return;
  ++counters_.presents;
  // The finished frame becomes the front buffer: the back buffer's texture and the front one
  // change places (Direct3D's discard swap leaves the new back buffer undefined).
  Attachment a = AttachmentOf(backBuffer);
  GlSurface& s = surfaces_[backBuffer.Id()];
  if (frontTexture_ && frontWidth_ == s.width && frontHeight_ == s.height) {
    std::swap(s.name, frontTexture_);
  } else {
    if (frontTexture_) {
      DeleteFramebuffersUsing(frontTexture_, false);
      glDeleteTextures(1, &frontTexture_);
    }
    frontTexture_ = a.name;
    s.name = 0;
    s.width = s.height = 0;
    AttachmentOf(backBuffer);
  }
  frontWidth_ = backBuffer.Width();
  frontHeight_ = backBuffer.Height();
  haveFront_ = true;
  context_->ShowFrame(frontTexture_, int(frontWidth_), int(frontHeight_));
  // Sweep programs of effects that no longer exist.
  for (auto it = fxPrograms_.begin(); it != fxPrograms_.end();) {
    if (it->second.source.expired() && !it->second.failed) {
      if (boundProgram_ == it->second.program) boundProgram_ = ~0u;
      glDeleteProgram(it->second.program);
      it = fxPrograms_.erase(it);
    } else {
      ++it;
    }
  }
}

bool GlBackend::ReadPixels(Surface& surface, std::span<uint8_t> out, size_t pitch) {
  if (!context_->MakeCurrent()) return false;
  const GlFormat f = FormatOf(surface.Format());
  const UINT texel = BytesPerTexel(surface.Format());
  if (!f.internalFormat || f.depth || texel == 0 || pitch % texel != 0 ||
      out.size() < pitch * (surface.Height() - 1) + size_t{surface.Width()} * texel) {
    return false;
  }
  Attachment a = AttachmentOf(surface);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, readFbo_);
  if (a.renderbuffer) {
    glFramebufferRenderbuffer(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, a.name);
  } else {
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, a.name,
                           a.level);
  }
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ROW_LENGTH, GLint(pitch / texel));
  glReadPixels(0, 0, GLsizei(surface.Width()), GLsizei(surface.Height()), f.format, f.type,
               out.data());
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);

  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  // The draw framebuffer binding is left alone, but GL_FRAMEBUFFER reads it back: re-bind.
  boundFramebuffer_ = ~0u;
  return true;
}

bool GlBackend::ReadFrontBuffer(std::span<uint8_t> out, size_t pitch) {
  if (!haveFront_ || !context_->MakeCurrent() ||
      out.size() < pitch * (frontHeight_ - 1) + size_t{frontWidth_} * 4) {
    return false;
  }
  glBindFramebuffer(GL_READ_FRAMEBUFFER, readFbo_);
  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, frontTexture_,
                         0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ROW_LENGTH, GLint(pitch / 4));
  glReadPixels(0, 0, GLsizei(frontWidth_), GLsizei(frontHeight_), GL_BGRA,
               GL_UNSIGNED_INT_8_8_8_8_REV, out.data());
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);

  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  boundFramebuffer_ = ~0u;
  return true;
}

}  // namespace

std::unique_ptr<Backend> MakeOpenGlBackend(Device& device, std::string* why) {
  GlContext* context = ContextFor(device.PresentParameters().hDeviceWindow, why);
  if (!context) return nullptr;
  auto backend = std::make_unique<GlBackend>(device, context);
  if (!backend->Init(why)) return nullptr;
  return backend;
}

}  // namespace wz::gl
