// Keys and GLSL for fixed-function processing: the Direct3D 9 transform, lighting, texture
// coordinate and texture-stage rules written out for one combination of states.
#include "platform/gl/ff_program.h"

#include <algorithm>
#include <string>

namespace wz::gl {
namespace {

using namespace d3d;

std::string Num(int i) {
  return std::to_string(i);
}

// GLSL of a stage argument as a vec4 (with its modifiers).
std::string ArgumentVector(uint8_t arg, int stage) {
  std::string v;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
      v = "v_color0";
      break;
    case D3DTA_CURRENT:
      v = "cur";
      break;
    case D3DTA_TEXTURE:
      v = "tex" + Num(stage);
      break;
    case D3DTA_TFACTOR:
      v = "u_tfactor";
      break;
    case D3DTA_SPECULAR:
      v = "v_color1";
      break;
    case D3DTA_TEMP:
      v = "temp";
      break;
    case D3DTA_CONSTANT:
      v = "u_stageConstant[" + Num(stage) + "]";
      break;
    default:
      v = "cur";
      break;
  }
  if (arg & D3DTA_ALPHAREPLICATE) v = "vec4(" + v + ".a)";
  if (arg & D3DTA_COMPLEMENT) v = "(vec4(1.0) - " + v + ")";
  return v;
}

std::string ArgumentExpression(uint8_t arg, int stage, bool alphaOnly) {
  return "(" + ArgumentVector(arg, stage) + (alphaOnly ? ").a" : ").rgb");
}

// GLSL of an operation on three arguments of type T (vec3 or float).
std::string OpExpression(uint8_t op, const std::string& a0, const std::string& a1,
                         const std::string& a2, int stage, bool alpha) {
  const std::string t = "tex" + Num(stage);
  const std::string one = alpha ? "1.0" : "vec3(1.0)";
  switch (op) {
    case D3DTOP_SELECTARG1:
      return a1;
    case D3DTOP_SELECTARG2:
      return a2;
    case D3DTOP_MODULATE:
      return a1 + " * " + a2;
    case D3DTOP_MODULATE2X:
      return a1 + " * " + a2 + " * 2.0";
    case D3DTOP_MODULATE4X:
      return a1 + " * " + a2 + " * 4.0";
    case D3DTOP_ADD:
      return a1 + " + " + a2;
    case D3DTOP_ADDSIGNED:
      return a1 + " + " + a2 + " - 0.5";
    case D3DTOP_ADDSIGNED2X:
      return "(" + a1 + " + " + a2 + " - 0.5) * 2.0";
    case D3DTOP_SUBTRACT:
      return a1 + " - " + a2;
    case D3DTOP_ADDSMOOTH:
      return a1 + " + " + a2 + " - " + a1 + " * " + a2;
    case D3DTOP_BLENDDIFFUSEALPHA:
      return "mix(" + a2 + ", " + a1 + ", v_color0.a)";
    case D3DTOP_BLENDTEXTUREALPHA:
      return "mix(" + a2 + ", " + a1 + ", " + t + ".a)";
    case D3DTOP_BLENDFACTORALPHA:
      return "mix(" + a2 + ", " + a1 + ", u_tfactor.a)";
    case D3DTOP_BLENDTEXTUREALPHAPM:
      return a1 + " + " + a2 + " * (1.0 - " + t + ".a)";
    case D3DTOP_BLENDCURRENTALPHA:
      return "mix(" + a2 + ", " + a1 + ", cur.a)";
    case D3DTOP_MODULATEALPHA_ADDCOLOR:
      if (alpha) return a1;
      return a1 + " + " + "cur_a1.a * " + a2;
    case D3DTOP_MODULATECOLOR_ADDALPHA:
      if (alpha) return a1;
      return a1 + " * " + a2 + " + vec3(cur_a1.a)";
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
      if (alpha) return a1;
      return "(1.0 - cur_a1.a) * " + a2 + " + " + a1;
    case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
      if (alpha) return a1;
      return "(" + one + " - " + a1 + ") * " + a2 + " + vec3(cur_a1.a)";
    case D3DTOP_DOTPRODUCT3:
      return alpha ? "dp3" : "vec3(dp3)";
    case D3DTOP_MULTIPLYADD:
      return a0 + " + " + a1 + " * " + a2;
    case D3DTOP_LERP:
      return a0 + " * " + a1 + " + (" + one + " - " + a0 + ") * " + a2;
    default:  // PREMODULATE, bump mapping: the argument passes
      return a1;
  }
}

const char* kCompare[9] = {"false", "false", "<", "==", "<=", ">", "!=", ">=", "true"};

}  // namespace

const char* AttributeName(unsigned location) {
  static const char* kNames[kAttrCount] = {
      "a_position",  "a_normal",    "a_color0",    "a_color1",    "a_blendweight", "a_blendindices",
      "a_texcoord0", "a_texcoord1", "a_texcoord2", "a_texcoord3", "a_texcoord4",   "a_texcoord5",
      "a_texcoord6", "a_texcoord7", "a_tangent",   "a_binormal"};
  return location < kAttrCount ? kNames[location] : "";
}

unsigned LocationOf(const VertexElement& e) {
  switch (e.usage) {
    case D3DDECLUSAGE_POSITION:
    case D3DDECLUSAGE_POSITIONT:
      return e.usageIndex == 0 ? kAttrPosition : kAttrCount;
    case D3DDECLUSAGE_NORMAL:
      return e.usageIndex == 0 ? kAttrNormal : kAttrCount;
    case D3DDECLUSAGE_COLOR:
      return e.usageIndex == 0 ? kAttrColor0 : e.usageIndex == 1 ? kAttrColor1 : kAttrCount;
    case D3DDECLUSAGE_BLENDWEIGHT:
      return e.usageIndex == 0 ? kAttrBlendWeight : kAttrCount;
    case D3DDECLUSAGE_BLENDINDICES:
      return e.usageIndex == 0 ? kAttrBlendIndices : kAttrCount;
    case D3DDECLUSAGE_TEXCOORD:
      return e.usageIndex < 8 ? kAttrTexCoord0 + e.usageIndex : kAttrCount;
    case D3DDECLUSAGE_TANGENT:
      return e.usageIndex == 0 ? kAttrTangent : kAttrCount;
    case D3DDECLUSAGE_BINORMAL:
      return e.usageIndex == 0 ? kAttrBinormal : kAttrCount;
    default:
      return kAttrCount;
  }
}

size_t FfKeyHash::operator()(const FfKey& k) const {
  // FNV-1a over the packed bytes.
  const auto* p = reinterpret_cast<const uint8_t*>(&k);
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < sizeof k; ++i)
    h = (h ^ p[i]) * 1099511628211ull;
  return size_t(h);
}

FfKey BuildFfKey(const DeviceState& s, const VertexLayout& layout,
                 std::array<uint32_t, kMaxLights>& lightIndices) {
  FfKey k;
  const auto& rs = s.renderStates;
  k.pretransformed = layout.pretransformed;
  const VertexElement* position = layout.Find(D3DDECLUSAGE_POSITION);
  k.positionW = position && position->type == D3DDECLTYPE_FLOAT4;
  k.hasNormal = layout.Find(D3DDECLUSAGE_NORMAL) != nullptr;
  k.hasColor0 = layout.Find(D3DDECLUSAGE_COLOR, 0) != nullptr;
  k.hasColor1 = layout.Find(D3DDECLUSAGE_COLOR, 1) != nullptr;
  if (!k.pretransformed) {
    const DWORD blend = rs[D3DRS_VERTEXBLEND];
    if (blend >= D3DVBF_1WEIGHTS && blend <= D3DVBF_3WEIGHTS) k.blendWeights = uint8_t(blend);
    k.indexedBlend = k.blendWeights && rs[D3DRS_INDEXEDVERTEXBLENDENABLE] &&
                     layout.Find(D3DDECLUSAGE_BLENDINDICES) != nullptr;
    k.lighting = rs[D3DRS_LIGHTING] != 0;
  }
  if (k.lighting) {
    for (const LightSlot& l : s.lights) {
      if (!l.enabled || k.lightCount == kMaxLights) continue;
      lightIndices[k.lightCount] = l.index;
      k.lightTypes[k.lightCount++] = uint8_t(l.light.Type);
    }
    k.localViewer = rs[D3DRS_LOCALVIEWER] != 0;
    k.normalize = rs[D3DRS_NORMALIZENORMALS] != 0;
    // A colour source names the vertex colour only when colour vertex is on and the vertex has
    // that colour; otherwise the material's colour is used.
    auto source = [&](DWORD value) -> uint8_t {
      if (!rs[D3DRS_COLORVERTEX]) return D3DMCS_MATERIAL;
      if (value == D3DMCS_COLOR1 && k.hasColor0) return D3DMCS_COLOR1;
      if (value == D3DMCS_COLOR2 && k.hasColor1) return D3DMCS_COLOR2;
      return D3DMCS_MATERIAL;
    };
    k.diffuseSource = source(rs[D3DRS_DIFFUSEMATERIALSOURCE]);
    k.ambientSource = source(rs[D3DRS_AMBIENTMATERIALSOURCE]);
    k.specularSource = source(rs[D3DRS_SPECULARMATERIALSOURCE]);
    k.emissiveSource = source(rs[D3DRS_EMISSIVEMATERIALSOURCE]);
  }
  k.specularEnable = rs[D3DRS_SPECULARENABLE] != 0;
  k.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  if (rs[D3DRS_ALPHATESTENABLE] && rs[D3DRS_ALPHAFUNC] >= D3DCMP_NEVER &&
      rs[D3DRS_ALPHAFUNC] <= D3DCMP_ALWAYS && rs[D3DRS_ALPHAFUNC] != D3DCMP_ALWAYS) {
    k.alphaFunc = uint8_t(rs[D3DRS_ALPHAFUNC]);
  }
  for (uint32_t i = 0; i < kMaxTextureStages; ++i) {
    const auto& t = s.stageStates[i];
    if (t[D3DTSS_COLOROP] == D3DTOP_DISABLE || t[D3DTSS_COLOROP] > D3DTOP_LERP ||
        t[D3DTSS_COLOROP] == 0) {
      break;
    }
    StageKey& st = k.stages[i];
    st.colorOp = uint8_t(t[D3DTSS_COLOROP]);
    st.colorArg[0] = uint8_t(t[D3DTSS_COLORARG0]);
    st.colorArg[1] = uint8_t(t[D3DTSS_COLORARG1]);
    st.colorArg[2] = uint8_t(t[D3DTSS_COLORARG2]);
    st.alphaOp = t[D3DTSS_ALPHAOP] <= D3DTOP_LERP ? uint8_t(t[D3DTSS_ALPHAOP]) : 0;
    st.alphaArg[0] = uint8_t(t[D3DTSS_ALPHAARG0]);
    st.alphaArg[1] = uint8_t(t[D3DTSS_ALPHAARG1]);
    st.alphaArg[2] = uint8_t(t[D3DTSS_ALPHAARG2]);
    st.resultTemp = (t[D3DTSS_RESULTARG] & D3DTA_SELECTMASK) == D3DTA_TEMP;
    st.textureBound = s.textures[i] != nullptr;
    const DWORD tci = t[D3DTSS_TEXCOORDINDEX];
    st.texSource = uint8_t(tci & 7);
    if (const VertexElement* e = layout.Find(D3DDECLUSAGE_TEXCOORD, st.texSource)) {
      st.texSourceDims = uint8_t(e->type == D3DDECLTYPE_FLOAT1   ? 1
                                 : e->type == D3DDECLTYPE_FLOAT3 ? 3
                                 : e->type == D3DDECLTYPE_FLOAT4 ? 4
                                                                 : 2);
    }
    st.texGen = uint8_t(std::min<DWORD>(tci >> 16, 3));
    if (k.pretransformed) st.texGen = 0;
    const DWORD ttf = t[D3DTSS_TEXTURETRANSFORMFLAGS];
    if (!k.pretransformed) {
      st.transformCount = uint8_t(std::min<DWORD>(ttf & 0xFF, 4));
      st.projected = (ttf & D3DTTFF_PROJECTED) != 0;
    }
    k.stageCount = uint8_t(i + 1);
  }
  return k;
}

ProgramSource GenerateFfProgram(const FfKey& k) {
  ProgramSource p;
  const std::string flat = k.flat ? "flat " : "";
  std::string& v = p.vertex;
  v = "#version 330 core\n";
  v += "layout(location = 0) in vec4 a_position;\n";
  if (k.hasNormal) v += "layout(location = 1) in vec3 a_normal;\n";
  if (k.hasColor0) v += "layout(location = 2) in vec4 a_color0;\n";
  if (k.hasColor1) v += "layout(location = 3) in vec4 a_color1;\n";
  if (k.blendWeights) v += "layout(location = 4) in vec4 a_blendweight;\n";
  if (k.indexedBlend) v += "layout(location = 5) in vec4 a_blendindices;\n";
  for (int i = 0; i < k.stageCount; ++i) {
    const StageKey& st = k.stages[i];
    if (st.texGen == 0 && st.texSourceDims > 0) {
      const std::string n = Num(st.texSource);
      const std::string decl = "layout(location = " + Num(kAttrTexCoord0 + st.texSource) +
                               ") in vec4 a_texcoord" + n + ";\n";
      if (v.find(decl) == std::string::npos) v += decl;
    }
  }
  v += "uniform mat4 u_worldView;\nuniform mat4 u_projection;\nuniform mat3 u_normalMatrix;\n";
  v += "uniform vec4 u_viewport;\n";
  if (k.blendWeights) v += "layout(std140) uniform Palette { mat4 u_palette[256]; };\n";
  if (k.lighting) {
    v += "uniform vec4 u_globalAmbient;\nuniform vec4 u_matDiffuse;\nuniform vec4 u_matAmbient;\n";
    v += "uniform vec4 u_matSpecular;\nuniform vec4 u_matEmissive;\nuniform float u_matPower;\n";
    if (k.lightCount) {
      const std::string n = Num(k.lightCount);
      v += "uniform vec3 u_lightPosition[" + n + "];\nuniform vec3 u_lightDirection[" + n + "];\n";
      v += "uniform vec4 u_lightDiffuse[" + n + "];\nuniform vec4 u_lightSpecular[" + n + "];\n";
      v += "uniform vec4 u_lightAmbient[" + n + "];\nuniform vec4 u_lightAtten[" + n + "];\n";
      v += "uniform vec4 u_lightSpot[" + n + "];\n";
    }
  }
  if (k.stageCount) v += "uniform mat4 u_texMatrix[8];\n";
  v += flat + "out vec4 v_color0;\n" + flat + "out vec4 v_color1;\n";
  for (int i = 0; i < k.stageCount; ++i)
    v += "out vec4 v_tex" + Num(i) + ";\n";
  v += "void main() {\n";
  if (k.pretransformed) {
    // Pixels to Direct3D clip coordinates; wz_ToGL then moves pixel centres as for any vertex.
    v += "  float w = a_position.w != 0.0 ? 1.0 / a_position.w : 1.0;\n";
    v += "  vec2 ndc = vec2((a_position.x - u_viewport.x) / u_viewport.z * 2.0 - 1.0,\n"
         "                  1.0 - (a_position.y - u_viewport.y) / u_viewport.w * 2.0);\n";
    v += "  gl_Position = vec4(ndc * w, a_position.z * w, w);\n";
    v += "  vec3 viewPos = vec3(0.0);\n  vec3 N = vec3(0.0, 0.0, 0.0);\n";
  } else {
    v += std::string("  vec4 p = ") + (k.positionW ? "a_position" : "vec4(a_position.xyz, 1.0)") +
         ";\n";
    v += std::string("  vec3 n = ") + (k.hasNormal ? "a_normal" : "vec3(0.0)") + ";\n";
    if (k.blendWeights) {
      // Matrices of the palette (world x view) weighted; the last weight is one minus the rest.
      v += "  vec4 vp = vec4(0.0);\n  vec3 vn = vec3(0.0);\n  float rest = 1.0;\n";
      for (int i = 0; i <= k.blendWeights; ++i) {
        const std::string w = i < k.blendWeights ? "a_blendweight[" + Num(i) + "]" : "rest";
        const std::string m = k.indexedBlend
                                  ? "u_palette[int(a_blendindices[" + Num(i) + "] + 0.5)]"
                                  : "u_palette[" + Num(i) + "]";
        v += "  { mat4 m = " + m + "; float w = " + w + ";\n";
        v += "    vp += w * (m * p); vn += w * (mat3(m) * n);";
        if (i < k.blendWeights) v += " rest -= w;";
        v += " }\n";
      }
      v += "  vec3 viewPos = vp.xyz / (vp.w != 0.0 ? vp.w : 1.0);\n";
      v += "  vec3 N = vn;\n";
      v += "  gl_Position = u_projection * vec4(viewPos, 1.0);\n";
    } else {
      v += "  vec4 vp = u_worldView * p;\n";
      v += "  vec3 viewPos = vp.xyz / (vp.w != 0.0 ? vp.w : 1.0);\n";
      v += "  vec3 N = u_normalMatrix * n;\n";
      v += "  gl_Position = u_projection * vp;\n";
    }
    if (k.normalize) v += "  if (dot(N, N) > 0.0) N = normalize(N);\n";
  }
  v += "  gl_Position = wz_ToGL(gl_Position);\n";
  // Colours.
  auto src = [&](uint8_t source, const char* material) -> std::string {
    if (source == D3DMCS_COLOR1) return "a_color0";
    if (source == D3DMCS_COLOR2) return "a_color1";
    return material;
  };
  if (k.lighting) {
    v += "  vec4 cd = " + src(k.diffuseSource, "u_matDiffuse") + ";\n";
    v += "  vec4 ca = " + src(k.ambientSource, "u_matAmbient") + ";\n";
    v += "  vec4 cs = " + src(k.specularSource, "u_matSpecular") + ";\n";
    v += "  vec4 ce = " + src(k.emissiveSource, "u_matEmissive") + ";\n";
    v += "  vec3 amb = u_globalAmbient.rgb;\n  vec3 diff = vec3(0.0);\n  vec3 specular = "
         "vec3(0.0);\n";
    v += "  vec3 E = ";
    v += k.localViewer ? "length(viewPos) > 0.0 ? normalize(-viewPos) : vec3(0.0, 0.0, -1.0);\n"
                       : "vec3(0.0, 0.0, -1.0);\n";
    for (int i = 0; i < k.lightCount; ++i) {
      const std::string n = Num(i);
      v += "  {\n    vec3 L; float att = 1.0;\n";
      if (k.lightTypes[i] == D3DLIGHT_DIRECTIONAL) {
        v += "    L = -u_lightDirection[" + n + "];\n";
      } else {
        v += "    vec3 d = u_lightPosition[" + n + "] - viewPos;\n";
        v += "    float dist = length(d);\n    L = dist > 0.0 ? d / dist : vec3(0.0, 0.0, 1.0);\n";
        v += "    vec4 at = u_lightAtten[" + n + "];\n";
        v += "    float den = at.x + at.y * dist + at.z * dist * dist;\n";
        v += "    att = dist <= at.w ? (den > 0.0 ? 1.0 / den : 1.0) : 0.0;\n";
        if (k.lightTypes[i] == D3DLIGHT_SPOT) {
          v += "    vec4 sp = u_lightSpot[" + n + "];\n";
          v += "    float rho = dot(-L, u_lightDirection[" + n + "]);\n";
          v += "    float spot = rho > sp.x ? 1.0 : (rho <= sp.y ? 0.0 : "
               "pow(max((rho - sp.y) / max(sp.x - sp.y, 1e-6), 0.0), sp.z));\n";
          v += "    att *= spot;\n";
        }
      }
      v += "    amb += u_lightAmbient[" + n + "].rgb * att;\n";
      v += "    float nl = dot(N, L);\n";
      v += "    if (nl > 0.0) {\n";
      v += "      diff += u_lightDiffuse[" + n + "].rgb * nl * att;\n";
      v += "      vec3 H = normalize(E + L);\n";
      v += "      float nh = max(dot(N, H), 0.0);\n";
      v += "      specular += u_lightSpecular[" + n +
           "].rgb * (u_matPower > 0.0 ? pow(nh, u_matPower) "
           ": 1.0) * att;\n";
      v += "    }\n  }\n";
    }
    v += "  v_color0 = clamp(vec4(ce.rgb + ca.rgb * amb + cd.rgb * diff, cd.a), 0.0, 1.0);\n";
    v += "  v_color1 = clamp(vec4(cs.rgb * specular, cs.a), 0.0, 1.0);\n";
  } else {
    v += std::string("  v_color0 = ") + (k.hasColor0 ? "a_color0" : "vec4(1.0)") + ";\n";
    v += std::string("  v_color1 = ") + (k.hasColor1 ? "a_color1" : "vec4(0.0)") + ";\n";
  }
  // Texture coordinates: a missing component reads 1 for the first one after the last present,
  // 0 for the others, as Direct3D pads them before a texture transform.
  for (int i = 0; i < k.stageCount; ++i) {
    const StageKey& st = k.stages[i];
    const std::string n = Num(i);
    std::string tc;
    switch (st.texGen) {
      case 1:
        tc = "vec4(N, 1.0)";
        break;
      case 2:
        tc = "vec4(viewPos, 1.0)";
        break;
      case 3:
        tc = "vec4(reflect(length(viewPos) > 0.0 ? normalize(viewPos) : vec3(0.0, 0.0, 1.0), "
             "dot(N, N) > 0.0 ? normalize(N) : N), 1.0)";
        break;
      default: {
        const std::string a = "a_texcoord" + Num(st.texSource);
        switch (st.texSourceDims) {
          case 0:
            tc = "vec4(0.0, 0.0, 1.0, 0.0)";
            break;
          case 1:
            tc = "vec4(" + a + ".x, 1.0, 0.0, 0.0)";
            break;
          case 2:
            tc = "vec4(" + a + ".xy, 1.0, 0.0)";
            break;
          case 3:
            tc = "vec4(" + a + ".xyz, 1.0)";
            break;
          default:
            tc = a;
            break;
        }
      }
    }
    if (st.transformCount) {
      v += "  v_tex" + n + " = u_texMatrix[" + n + "] * " + tc + ";\n";
      if (st.projected) {
        static const char* kComp[5] = {"x", "x", "y", "z", "w"};
        v += "  v_tex" + n + " = vec4(v_tex" + n + ".xyz / v_tex" + n + "." +
             kComp[st.transformCount] + ", 1.0);\n";
      }
    } else {
      v += "  v_tex" + n + " = " + tc + ";\n";
    }
  }
  v += "}\n";

  std::string& f = p.fragment;
  f = "#version 330 core\n";
  f += flat + "in vec4 v_color0;\n" + flat + "in vec4 v_color1;\n";
  for (int i = 0; i < k.stageCount; ++i) {
    f += "in vec4 v_tex" + Num(i) + ";\n";
    if (k.stages[i].textureBound) f += "uniform sampler2D s_tex" + Num(i) + ";\n";
  }
  f += "uniform vec4 u_tfactor;\nuniform vec4 u_stageConstant[8];\nuniform float u_alphaRef;\n";
  f += "out vec4 o_color;\n";
  f += "void main() {\n  vec4 cur = v_color0;\n  vec4 temp = vec4(0.0);\n";
  for (int i = 0; i < k.stageCount; ++i) {
    const StageKey& st = k.stages[i];
    const std::string n = Num(i);
    f += "  {\n";
    f += "    vec4 tex" + n + " = " +
         (st.textureBound ? "texture(s_tex" + n + ", v_tex" + n + ".xy)"
                          : std::string("vec4(1.0)")) +
         ";\n";
    const std::string c0 = ArgumentExpression(st.colorArg[0], i, false);
    const std::string c1 = ArgumentExpression(st.colorArg[1], i, false);
    const std::string c2 = ArgumentExpression(st.colorArg[2], i, false);
    // The operations that add or modulate by an argument's alpha read it from the full argument.
    f += "    vec4 cur_a1 = " + ArgumentVector(st.colorArg[1], i) + ";\n";
    if (st.colorOp == D3DTOP_DOTPRODUCT3) {
      f += "    float dp3 = clamp(4.0 * dot(" + c1 + " - 0.5, " + c2 + " - 0.5), 0.0, 1.0);\n";
    }
    f += "    vec3 rgb = " + OpExpression(st.colorOp, c0, c1, c2, i, false) + ";\n";
    std::string alpha;
    if (st.colorOp == D3DTOP_DOTPRODUCT3) {
      alpha = "dp3";  // the dot product goes to alpha too
    } else if (st.alphaOp == 0 || st.alphaOp == D3DTOP_DISABLE) {
      alpha = "cur.a";
    } else {
      const std::string x0 = ArgumentExpression(st.alphaArg[0], i, true);
      const std::string x1 = ArgumentExpression(st.alphaArg[1], i, true);
      const std::string x2 = ArgumentExpression(st.alphaArg[2], i, true);
      if (st.alphaOp == D3DTOP_DOTPRODUCT3) {
        f += "    float dpa = clamp(4.0 * dot(" + c1 + " - 0.5, " + c2 + " - 0.5), 0.0, 1.0);\n";
        alpha = "dpa";
      } else {
        alpha = OpExpression(st.alphaOp, x0, x1, x2, i, true);
      }
    }
    f += "    float a = " + alpha + ";\n";
    f += std::string("    ") + (st.resultTemp ? "temp" : "cur") +
         " = clamp(vec4(rgb, a), 0.0, 1.0);\n";
    f += "  }\n";
  }
  if (k.specularEnable) f += "  cur.rgb = clamp(cur.rgb + v_color1.rgb, 0.0, 1.0);\n";
  if (k.alphaFunc) {
    // The alpha test compares the 8-bit alpha with the reference value.
    f += "  float a8 = floor(cur.a * 255.0 + 0.5);\n";
    f += std::string("  if (!(a8 ") + kCompare[k.alphaFunc] + " u_alphaRef)) discard;\n";
    if (k.alphaFunc == D3DCMP_NEVER) f = f.substr(0, f.rfind("  if")) + "  discard;\n";
  }
  f += "  o_color = cur;\n}\n";
  return p;
}

}  // namespace wz::gl
