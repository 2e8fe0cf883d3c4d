// X-file loading: header, optional decompression, one parser for text and binary bodies, and the
// merge of every mesh of the file into one mesh with its materials.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/d3dx/x_compress.h"
#include "platform/d3dx/x_file.h"
#include "platform/d3dx/x_lexer.h"
#include "platform/file_io.h"

namespace wz::d3dx {
namespace {

using xlex::Tok;
using Matrix = std::array<float, 16>;  // row-major, row vectors multiply from the left

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
  }
  return true;
}

std::string Quoted(std::string_view s) {
  return "'" + std::string(s.substr(0, 64)) + (s.size() > 64 ? "...'" : "'");
}

struct FrameNode {
  int parent = -1;
  Matrix local = kIdentity;
};

// One Mesh object of the file as read, before transforms and merging.
struct MeshPart {
  int frame = -1;  // -1: top level, identity transform
  uint32_t numVertices = 0;
  std::vector<float> positions;     // 3 per vertex
  std::vector<uint32_t> faceStart;  // face f has indices faceIdx[faceStart[f] .. faceStart[f+1])
  std::vector<uint32_t> faceIdx;
  bool hasNormals = false;
  std::vector<float> normals;       // 3 per normal
  std::vector<uint32_t> normalIdx;  // parallel to faceIdx
  bool hasUV = false;
  std::vector<float> uvs;  // 2 per vertex
  bool hasColors = false;
  std::vector<uint32_t> colors;  // D3DCOLOR per vertex
  bool hasMaterials = false;
  std::vector<uint32_t> materials;     // the list's materials, as indices into the material table
  std::vector<uint32_t> faceMaterial;  // per face

  uint32_t NumFaces() const { return static_cast<uint32_t>(faceStart.size() - 1); }
};

D3DXMATERIAL DefaultMaterial() {
  D3DXMATERIAL m;
  m.MatD3D.Diffuse = {1, 1, 1, 1};
  m.MatD3D.Specular = {0, 0, 0, 1};
  m.MatD3D.Emissive = {0, 0, 0, 1};
  return m;
}

uint32_t ColorWord(float r, float g, float b, float a) {
  auto c = [](float v) {
    return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255));
  };
  return (c(a) << 24) | (c(r) << 16) | (c(g) << 8) | c(b);
}

// What the object being read belongs to; inside Other every child is skipped.
enum class Ctx { Top, Frame, Mesh, MaterialList, Material, Other };

struct Scope {
  Ctx ctx = Ctx::Top;
  int frame = -1;
  int depth = 0;  // frame nesting
  MeshPart* part = nullptr;
  // The MeshMaterialList being read: its materials as table indices (at most listLimit of them)
  // and the count of every material it names.
  std::vector<uint32_t>* list = nullptr;
  uint32_t listLimit = 0;
  uint32_t* listCount = nullptr;
  D3DXMATERIAL* material = nullptr;
  bool* haveTexture = nullptr;
};

template <class Lex>
class Parser {
 public:
  explicit Parser(Lex& lex) : lex_(lex) {}

  std::vector<FrameNode> frames;
  std::vector<MeshPart> parts;
  // Every material of the file, read once; lists and references name them by index, so a
  // material named a thousand times is still one material in memory.
  std::vector<D3DXMATERIAL> materials;

  bool ParseFile() {
    Scope top;
    while (true) {
      const Tok t = lex_.Peek();
      if (t == Tok::End) return true;
      if (t == Tok::CBrace) return lex_.Fail(XError::Syntax, "unexpected '}'");
      if (!Item(t, top)) return false;
    }
  }

 private:
  // One item inside an object body or at top level: a child object, a reference or a stray value.
  bool Item(Tok t, const Scope& scope) {
    switch (t) {
      case Tok::Name: {
        std::string_view type;
        if (!lex_.ReadName(type)) return false;
        if (SameName(type, "template")) return lex_.SkipTemplate();
        return Object(type, scope);
      }
      case Tok::OBrace:
        return Reference(scope);
      case Tok::Number:
      case Tok::String:
      case Tok::Guid:
        return lex_.SkipStray(t);
      case Tok::End:
        return lex_.Fail(XError::Truncated, "unexpected end of data");
      default:
        return false;  // the lexer has recorded why
    }
  }

  // The rest of an object body after its known members: child objects and references up to '}'.
  bool Body(const Scope& scope) {
    while (true) {
      const Tok t = lex_.Peek();
      if (t == Tok::CBrace) return lex_.Expect(Tok::CBrace);
      if (!Item(t, scope)) return false;
    }
  }

  bool Object(std::string_view type, const Scope& scope) {
    std::string_view nameView;
    if (!lex_.ReadObjectName(nameView)) return false;
    const std::string name(nameView);  // the lexer's view does not outlive the next read
    if (!lex_.Expect(Tok::OBrace)) return false;
    std::string guid;
    if (lex_.Peek() == Tok::Guid && !lex_.ReadGuid(guid)) return false;

    const Ctx c = scope.ctx;
    const bool inFrameOrTop = c == Ctx::Top || c == Ctx::Frame;
    if (inFrameOrTop && SameName(type, "Frame")) return Frame(scope);
    if (inFrameOrTop && SameName(type, "Mesh")) return Mesh(scope);
    if (c == Ctx::Frame && SameName(type, "FrameTransformMatrix")) return Matrix4(scope);
    if ((inFrameOrTop || c == Ctx::MaterialList) && SameName(type, "Material")) {
      return Material(scope, name, guid);
    }
    if (c == Ctx::Mesh) {
      MeshPart& part = *scope.part;
      if (SameName(type, "MeshNormals") && !part.hasNormals) return Normals(scope);
      if (SameName(type, "MeshTextureCoords") && !part.hasUV) return TexCoords(scope);
      if (SameName(type, "MeshVertexColors") && !part.hasColors) return Colors(scope);
      if (SameName(type, "MeshMaterialList") && !part.hasMaterials) return MaterialList(scope);
    }
    if (c == Ctx::Material && !*scope.haveTexture &&
        (SameName(type, "TextureFilename") || SameName(type, "TextureFileName"))) {
      return Texture(scope);
    }
    return lex_.SkipBraced();
  }

  // `{ name }`, `{ <guid> }` or `{ name <guid> }`. Only material lists use what they name; a
  // reference to a mesh inside a frame adds no geometry.
  bool Reference(const Scope& scope) {
    if (!lex_.Expect(Tok::OBrace)) return false;
    std::string_view nameView;
    if (!lex_.ReadObjectName(nameView)) return false;
    const std::string name(nameView);
    std::string guid;
    if (lex_.Peek() == Tok::Guid && !lex_.ReadGuid(guid)) return false;
    if (!lex_.Expect(Tok::CBrace)) return false;
    if (scope.ctx != Ctx::MaterialList) return true;
    const auto& map = guid.empty() ? byName_ : byGuid_;
    const auto it = map.find(guid.empty() ? name : guid);
    if (it == map.end()) {
      return lex_.Fail(XError::BadReference,
                       "reference to unknown material " + Quoted(guid.empty() ? name : guid));
    }
    AddToList(scope, it->second);
    return true;
  }

  bool Frame(const Scope& scope) {
    if (scope.depth >= kXMaxFrameDepth) {
      return lex_.Fail(XError::TooDeep,
                       "frames nested deeper than " + std::to_string(kXMaxFrameDepth));
    }
    Scope s;
    s.ctx = Ctx::Frame;
    s.frame = static_cast<int>(frames.size());
    s.depth = scope.depth + 1;
    frames.push_back(FrameNode{scope.frame, kIdentity});
    return Body(s);
  }

  bool Matrix4(const Scope& scope) {
    Matrix m;
    for (float& v : m) {
      if (!lex_.ReadFloat(v)) return false;
    }
    frames[scope.frame].local = m;                    // the last matrix of a frame wins
    return Body(Scope{Ctx::Other, -1, scope.depth});  // nothing inside is used
  }

  bool CountFits(uint32_t count, uint32_t numbersPer, const char* what) {
    if (lex_.Fits(count, numbersPer)) return true;
    return lex_.Fail(XError::CountTooLarge, std::string(what) + " count " + std::to_string(count) +
                                                " is larger than the rest of the file can hold");
  }

  // Long arrays of a text file are read on several threads; the numbers are the same.
  void ReadAhead(bool floats, uint64_t expected) {
    if constexpr (std::is_same_v<Lex, xlex::TextLexer>) {
      lex_.ReadAhead(floats ? Lex::Kind::Float : Lex::Kind::UInt, expected);
    }
  }

  bool ReadFloats(std::vector<float>& out, size_t n) {
    out.resize(n);
    ReadAhead(true, n);
    for (float& v : out) {
      if (!lex_.ReadFloat(v)) return false;
    }
    return true;
  }

  // Reads `count` faces of index lists into start/idx, each index below `limit`. With `match`,
  // face f must have as many indices as face f of `match`.
  bool Faces(uint32_t count, uint32_t limit, const char* what, std::vector<uint32_t>& start,
             std::vector<uint32_t>& idx, const MeshPart* match) {
    start.reserve(size_t{count} + 1);
    start.push_back(0);
    idx.reserve(size_t{count} * 3);
    for (uint32_t f = 0; f < count; ++f) {
      uint32_t n = 0;
      if (!lex_.ReadUInt(n) || !CountFits(n, 1, "face index")) return false;
      if (f == 0) ReadAhead(false, uint64_t{count} * (n + 1) - 1);  // as if all were alike
      if (match && n != match->faceStart[f + 1] - match->faceStart[f]) {
        return lex_.Fail(XError::Syntax, std::string(what) + " face " + std::to_string(f) +
                                             " has another corner count than the mesh face");
      }
      for (uint32_t k = 0; k < n; ++k) {
        uint32_t i = 0;
        if (!lex_.ReadUInt(i)) return false;
        if (i >= limit) {
          return lex_.Fail(XError::BadIndex, std::string(what) + " face " + std::to_string(f) +
                                                 " uses index " + std::to_string(i) + " of " +
                                                 std::to_string(limit));
        }
        idx.push_back(i);
      }
      start.push_back(static_cast<uint32_t>(idx.size()));
    }
    return true;
  }

  bool Mesh(const Scope& scope) {
    parts.emplace_back();
    MeshPart& part = parts.back();
    part.frame = scope.frame;
    uint32_t nV = 0, nF = 0;
    if (!lex_.ReadUInt(nV) || !CountFits(nV, 3, "vertex")) return false;
    part.numVertices = nV;
    if (!ReadFloats(part.positions, size_t{nV} * 3)) return false;
    if (!lex_.ReadUInt(nF) || !CountFits(nF, 1, "face")) return false;
    if (!Faces(nF, nV, "mesh", part.faceStart, part.faceIdx, nullptr)) return false;
    Scope s = scope;
    s.ctx = Ctx::Mesh;
    s.part = &part;  // parts does not grow while this mesh is read: meshes do not nest
    return Body(s);
  }

  bool Normals(const Scope& scope) {
    MeshPart& part = *scope.part;
    uint32_t nN = 0, nFN = 0;
    if (!lex_.ReadUInt(nN) || !CountFits(nN, 3, "normal")) return false;
    if (!ReadFloats(part.normals, size_t{nN} * 3)) return false;
    if (!lex_.ReadUInt(nFN)) return false;
    if (nFN != part.NumFaces()) {
      return lex_.Fail(XError::Syntax, "normals give " + std::to_string(nFN) +
                                           " faces for a mesh of " +
                                           std::to_string(part.NumFaces()));
    }
    std::vector<uint32_t> start;
    if (!Faces(nFN, nN, "normal", start, part.normalIdx, &part)) return false;
    part.hasNormals = true;
    return Body(Scope{Ctx::Other, -1, scope.depth});
  }

  bool TexCoords(const Scope& scope) {
    MeshPart& part = *scope.part;
    uint32_t n = 0;
    if (!lex_.ReadUInt(n) || !CountFits(n, 2, "texture coordinate")) return false;
    part.uvs.assign(size_t{part.numVertices} * 2, 0.0f);
    ReadAhead(true, uint64_t{n} * 2);
    for (uint32_t i = 0; i < n; ++i) {
      float u, v;
      if (!lex_.ReadFloat(u) || !lex_.ReadFloat(v)) return false;
      if (i < part.numVertices) {
        part.uvs[size_t{i} * 2] = u;
        part.uvs[size_t{i} * 2 + 1] = v;
      }
    }
    part.hasUV = true;
    return Body(Scope{Ctx::Other, -1, scope.depth});
  }

  bool Colors(const Scope& scope) {
    MeshPart& part = *scope.part;
    uint32_t n = 0;
    if (!lex_.ReadUInt(n) || !CountFits(n, 5, "vertex colour")) return false;
    part.colors.assign(part.numVertices, 0);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t v = 0;
      float c[4];
      if (!lex_.ReadUInt(v)) return false;
      for (float& x : c) {
        if (!lex_.ReadFloat(x)) return false;
      }
      if (v >= part.numVertices) {
        return lex_.Fail(XError::BadIndex, "vertex colour for vertex " + std::to_string(v) +
                                               " of " + std::to_string(part.numVertices));
      }
      part.colors[v] = ColorWord(c[0], c[1], c[2], c[3]);
    }
    part.hasColors = true;
    return Body(Scope{Ctx::Other, -1, scope.depth});
  }

  bool MaterialList(const Scope& scope) {
    MeshPart& part = *scope.part;
    uint32_t nMat = 0, nIdx = 0;
    if (!lex_.ReadUInt(nMat) || !lex_.ReadUInt(nIdx) || !CountFits(nIdx, 1, "face material")) {
      return false;
    }
    const uint32_t nF = part.NumFaces();
    part.faceMaterial.assign(nF, 0);
    ReadAhead(false, nIdx);
    for (uint32_t i = 0; i < nIdx; ++i) {
      uint32_t m = 0;
      if (!lex_.ReadUInt(m)) return false;
      if (m >= nMat) {
        return lex_.Fail(XError::BadIndex, "face " + std::to_string(i) + " uses material " +
                                               std::to_string(m) + " of " + std::to_string(nMat));
      }
      if (i < nF) part.faceMaterial[i] = m;
    }
    // A shorter list repeats its last index (a one-entry list gives every face that material).
    for (uint32_t f = nIdx; f < nF && nIdx > 0; ++f)
      part.faceMaterial[f] = part.faceMaterial[nIdx - 1];

    std::vector<uint32_t> list;
    uint32_t count = 0;
    Scope s = scope;
    s.ctx = Ctx::MaterialList;
    s.list = &list;
    s.listLimit = nMat;
    s.listCount = &count;
    if (!Body(s)) return false;
    if (count < nMat) {
      return lex_.Fail(XError::Syntax, "material list names " + std::to_string(nMat) +
                                           " materials but holds " + std::to_string(count));
    }
    part.materials = std::move(list);
    part.hasMaterials = nMat > 0;
    return true;
  }

  bool Material(const Scope& scope, const std::string& name, const std::string& guid) {
    D3DXMATERIAL m;
    float v[11];
    for (float& x : v) {
      if (!lex_.ReadFloat(x)) return false;
    }
    m.MatD3D.Diffuse = {v[0], v[1], v[2], v[3]};
    m.MatD3D.Power = v[4];
    m.MatD3D.Specular = {v[5], v[6], v[7], 1};
    m.MatD3D.Emissive = {v[8], v[9], v[10], 1};
    bool haveTexture = false;
    Scope s = scope;
    s.ctx = Ctx::Material;
    s.material = &m;
    s.haveTexture = &haveTexture;
    if (!Body(s)) return false;
    const uint32_t index = static_cast<uint32_t>(materials.size());
    materials.push_back(std::move(m));
    if (!name.empty()) byName_[name] = index;
    if (!guid.empty()) byGuid_[guid] = index;
    if (scope.ctx == Ctx::MaterialList) AddToList(scope, index);
    return true;
  }

  // Materials past the list's count are read (they may be named later) but not taken.
  void AddToList(const Scope& scope, uint32_t index) {
    if (*scope.listCount < scope.listLimit) scope.list->push_back(index);
    if (*scope.listCount < std::numeric_limits<uint32_t>::max()) ++*scope.listCount;
  }

  bool Texture(const Scope& scope) {
    if (!lex_.ReadString(scope.material->textureFilename)) return false;
    *scope.haveTexture = true;
    return Body(Scope{Ctx::Other, -1, scope.depth});
  }

  Lex& lex_;
  std::unordered_map<std::string, uint32_t> byName_;  // the last material of each name
  std::unordered_map<std::string, uint32_t> byGuid_;
};

// ---------------------------------------------------------------------------------------------
// Transforms and merging.

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k)
        s += a[i * 4 + k] * b[k * 4 + j];
      r[i * 4 + j] = s;
    }
  }
  return r;
}

// Applies `w` to the positions and its inverse transpose to the normals (renormalised).
void Transform(MeshPart& part, const Matrix& w) {
  for (size_t i = 0; i + 2 < part.positions.size(); i += 3) {
    const float x = part.positions[i], y = part.positions[i + 1], z = part.positions[i + 2];
    for (int c = 0; c < 3; ++c) {
      part.positions[i + c] = x * w[c] + y * w[4 + c] + z * w[8 + c] + w[12 + c];
    }
  }
  if (part.normals.empty()) return;
  // Normal matrix: n' = n * inverse(A)^T for the upper 3 x 3 part A; A itself when singular.
  const float a = w[0], b = w[1], c = w[2], d = w[4], e = w[5], f = w[6], g = w[8], h = w[9],
              k = w[10];
  const float co[9] = {e * k - f * h, f * g - d * k, d * h - e * g,  // cofactors, row by row
                       c * h - b * k, a * k - c * g, b * g - a * h,
                       b * f - c * e, c * d - a * f, a * e - b * d};
  const float det = a * co[0] + b * co[1] + c * co[2];
  float n3[9];  // row-major; n' = n * n3
  if (std::fabs(det) > 1e-20f) {
    // inverse(A) = adj(A) / det with adj = cofactor^T, so inverse(A)^T = cofactor / det.
    for (int i = 0; i < 9; ++i)
      n3[i] = co[i] / det;
  } else {
    const float m[9] = {a, b, c, d, e, f, g, h, k};
    std::copy(m, m + 9, n3);
  }
  for (size_t i = 0; i + 2 < part.normals.size(); i += 3) {
    const float x = part.normals[i], y = part.normals[i + 1], z = part.normals[i + 2];
    float r[3];
    for (int col = 0; col < 3; ++col)
      r[col] = x * n3[col] + y * n3[3 + col] + z * n3[6 + col];
    const float len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    const float s = len > 0 ? 1 / len : 0;
    for (int col = 0; col < 3; ++col)
      part.normals[i + col] = r[col] * s;
  }
}

// A vertex of the merged mesh: a position of one part with one normal and one attribute.
struct VertexKey {
  uint32_t part;
  uint32_t position;
  uint32_t normal;  // kNone without normals
  uint32_t attr;
};

// A further combination of one position of a part with a normal and an attribute.
struct CopyKey {
  uint32_t position, normal, attr;
  friend bool operator==(const CopyKey&, const CopyKey&) = default;
};
struct CopyKeyHash {
  size_t operator()(const CopyKey& k) const {
    uint64_t h = (uint64_t{k.position} * 0x9E3779B97F4A7C15ull) ^
                 (uint64_t{k.normal} * 0xC2B2AE3D27D4EB4Full) ^
                 (uint64_t{k.attr} + 0x165667B19E3779F9ull);
    return static_cast<size_t>(h ^ (h >> 29));
  }
};

bool Merge(std::vector<MeshPart>& parts, const std::vector<FrameNode>& frames,
           const std::vector<D3DXMATERIAL>& table, DWORD options, std::unique_ptr<Mesh>& mesh,
           std::vector<D3DXMATERIAL>& materials, XStatus& status, const XFaceSplitter& split) {
  auto fail = [&](XError e, std::string msg) {
    status.error = e;
    status.message = std::move(msg);
    return false;
  };
  std::vector<Matrix> world(frames.size());
  std::vector<bool> identity(frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    // A parent is always created before its children.
    const int p = frames[i].parent;
    world[i] = p < 0 ? frames[i].local : Multiply(frames[i].local, world[p]);
    identity[i] = world[i] == kIdentity;
  }

  bool anyMaterials = false, anyNormals = false, anyUV = false, anyColors = false;
  for (const MeshPart& part : parts) {
    anyMaterials |= part.hasMaterials;
    anyNormals |= part.hasNormals;
    anyUV |= part.hasUV;
    anyColors |= part.hasColors;
  }

  std::vector<VertexKey> vertices;
  std::vector<uint32_t> triangles;  // 3 vertex numbers each
  std::vector<uint32_t> attributes;
  // A face of n corners gives n - 2 triangles; sized once, the lists need no copies as they grow.
  // Vertices are at least the positions used; room for all positions costs address space only
  // where they go unused.
  size_t triangleCount = 0, positionCount = 0;
  for (const MeshPart& part : parts) {
    for (uint32_t f = 0; f < part.NumFaces(); ++f) {
      const uint32_t n = part.faceStart[f + 1] - part.faceStart[f];
      if (n >= 3) triangleCount += n - 2;
    }
    positionCount += part.numVertices;
  }
  triangles.reserve(3 * triangleCount);
  attributes.reserve(triangleCount);
  vertices.reserve(positionCount);
  materials.clear();
  // A material of the table is one material of the mesh, however many lists name it.
  std::vector<uint32_t> outputOf(table.size(), kNone);
  std::vector<uint32_t> corners, cornerPositions, pieces;
  std::vector<float> xyz;
  for (size_t pi = 0; pi < parts.size(); ++pi) {
    MeshPart& part = parts[pi];
    bool mirrored = false;
    if (part.frame >= 0 && !identity[part.frame]) {
      const Matrix& w = world[part.frame];
      mirrored = w[0] * (w[5] * w[10] - w[6] * w[9]) - w[1] * (w[4] * w[10] - w[6] * w[8]) +
                     w[2] * (w[4] * w[9] - w[5] * w[8]) <
                 0;
      Transform(part, w);
    }
    // The attribute of each entry of the part's list (or of every face without one).
    std::vector<uint32_t> attrOf;
    if (part.hasMaterials) {
      for (uint32_t t : part.materials) {
        if (outputOf[t] == kNone) {
          outputOf[t] = static_cast<uint32_t>(materials.size());
          materials.push_back(table[t]);
        }
        attrOf.push_back(outputOf[t]);
      }
    } else if (anyMaterials) {
      attrOf.push_back(static_cast<uint32_t>(materials.size()));
      materials.push_back(DefaultMaterial());
    }

    // Only positions that a face uses become vertices, in position order: a file of millions
    // of unused vertices makes none.
    std::vector<uint32_t> first(part.numVertices, kNone);
    for (uint32_t f = 0; f < part.NumFaces(); ++f) {
      const uint32_t s = part.faceStart[f], n = part.faceStart[f + 1] - s;
      if (n < 3) continue;
      for (uint32_t k = 0; k < n; ++k)
        first[part.faceIdx[s + k]] = 0;
    }
    for (uint32_t p = 0; p < part.numVertices; ++p) {
      if (first[p] == kNone) continue;
      if (vertices.size() >= std::numeric_limits<uint32_t>::max()) {
        return fail(XError::TooLarge, "too many vertices");
      }
      first[p] = static_cast<uint32_t>(vertices.size());
      vertices.push_back(VertexKey{static_cast<uint32_t>(pi), p, kNone, kNone});
    }
    std::vector<uint8_t> claimed(part.numVertices, 0);  // bytes: no bit arithmetic per corner
    // Further combinations of a position are found through a hash table: linear time however
    // many normals or materials one position is used with.
    std::unordered_map<CopyKey, uint32_t, CopyKeyHash> copies;

    for (uint32_t f = 0; f < part.NumFaces(); ++f) {
      const uint32_t s = part.faceStart[f], n = part.faceStart[f + 1] - s;
      if (n < 3) continue;
      const uint32_t attr =
          attrOf.empty() ? 0 : attrOf[part.hasMaterials ? part.faceMaterial[f] : 0];
      corners.clear();
      cornerPositions.clear();
      for (uint32_t k = 0; k < n; ++k) {
        const uint32_t p = part.faceIdx[s + k];
        cornerPositions.push_back(p);
        const uint32_t nrm = part.hasNormals ? part.normalIdx[s + k] : kNone;
        uint32_t v = first[p];
        if (!claimed[p]) {
          claimed[p] = 1;
          vertices[v].normal = nrm;
          vertices[v].attr = attr;
        } else if (vertices[v].normal != nrm || vertices[v].attr != attr) {
          const auto [it, added] =
              copies.try_emplace(CopyKey{p, nrm, attr}, static_cast<uint32_t>(vertices.size()));
          if (added) {
            if (vertices.size() >= std::numeric_limits<uint32_t>::max()) {
              return fail(XError::TooLarge, "too many vertices");
            }
            vertices.push_back(VertexKey{static_cast<uint32_t>(pi), p, nrm, attr});
          }
          v = it->second;
        }
        corners.push_back(v);
      }
      if (mirrored) {
        std::reverse(corners.begin(), corners.end());
        std::reverse(cornerPositions.begin(), cornerPositions.end());
      }
      pieces.clear();
      if (n > 3 && split) {
        xyz.clear();
        for (uint32_t p : cornerPositions)
          xyz.insert(xyz.end(), &part.positions[size_t{p} * 3], &part.positions[size_t{p} * 3 + 3]);
        split(xyz, pieces);
        const bool sound =
            pieces.size() == 3 * size_t{n - 2} &&
            std::all_of(pieces.begin(), pieces.end(), [&](uint32_t c) { return c < n; });
        if (!sound) pieces.clear();
      }
      for (uint32_t k = 1; k + 1 < n; ++k) {
        if (pieces.empty()) {
          triangles.insert(triangles.end(), {corners[0], corners[k], corners[k + 1]});
        } else {
          const uint32_t* t = &pieces[3 * size_t{k - 1}];
          triangles.insert(triangles.end(), {corners[t[0]], corners[t[1]], corners[t[2]]});
        }
        attributes.push_back(attr);
      }
    }
  }
  if (triangles.empty()) return fail(XError::NoGeometry, "the file holds no triangle");
  if (attributes.size() > std::numeric_limits<uint32_t>::max() / 3) {
    return fail(XError::TooLarge, "too many faces");
  }

  DWORD fvf = D3DFVF_XYZ;
  if (anyNormals) fvf |= D3DFVF_NORMAL;
  if (anyColors) fvf |= D3DFVF_DIFFUSE;
  if (anyUV) fvf |= D3DFVF_TEX1;
  if (vertices.size() > 65535) options |= D3DXMESH_32BIT;
  const HRESULT hr = Mesh::Create(static_cast<DWORD>(attributes.size()),
                                  static_cast<DWORD>(vertices.size()), options, fvf, mesh);
  if (hr == E_OUTOFMEMORY) return fail(XError::TooLarge, "out of memory for the mesh");
  if (Failed(hr)) return fail(XError::TooLarge, "the mesh is too large for a mesh object");

  const FvfLayout& l = mesh->Layout();
  uint8_t* out = mesh->VertexBuffer().data();
  for (size_t v = 0; v < vertices.size(); ++v, out += l.stride) {
    const VertexKey& key = vertices[v];
    const MeshPart& part = parts[key.part];
    std::memcpy(out + l.position, &part.positions[size_t{key.position} * 3], 12);
    if (key.normal != kNone) std::memcpy(out + l.normal, &part.normals[size_t{key.normal} * 3], 12);
    if (part.hasColors) std::memcpy(out + l.diffuse, &part.colors[key.position], 4);
    if (part.hasUV) std::memcpy(out + l.tex[0], &part.uvs[size_t{key.position} * 2], 8);
  }
  mesh->WriteIndices(triangles);
  std::copy(attributes.begin(), attributes.end(), mesh->AttributeBuffer().begin());
  return true;
}

bool ParseHeader(std::span<const uint8_t> bytes, bool& text, bool& compressed, int& floatBits,
                 XStatus& status) {
  auto fail = [&](const char* msg) {
    status.error = XError::BadHeader;
    status.message = msg;
    return false;
  };
  if (bytes.size() < 16) return fail("file shorter than the 16-byte X header");
  const char* h = reinterpret_cast<const char*>(bytes.data());
  if (std::memcmp(h, "xof ", 4) != 0) return fail("not an X file (no 'xof ' signature)");
  for (int i = 4; i < 8; ++i) {
    if (h[i] < '0' || h[i] > '9') return fail("malformed X file version");
  }
  const std::string_view format(h + 8, 4);
  if (format == "txt ") {
    text = true, compressed = false;
  } else if (format == "bin ") {
    text = false, compressed = false;
  } else if (format == "tzip") {
    text = true, compressed = true;
  } else if (format == "bzip") {
    text = false, compressed = true;
  } else {
    return fail("unknown X file format (not txt, bin, tzip or bzip)");
  }
  const std::string_view bits(h + 12, 4);
  if (bits == "0032") {
    floatBits = 32;
  } else if (bits == "0064") {
    floatBits = 64;
  } else {
    return fail("unknown float size (not 0032 or 0064)");
  }
  return true;
}

template <class Lex>
bool ParseBody(Lex& lex, std::vector<MeshPart>& parts, std::vector<FrameNode>& frames,
               std::vector<D3DXMATERIAL>& table, XStatus& status) {
  Parser<Lex> parser(lex);
  if (!parser.ParseFile()) {
    status = lex.status();
    if (status.error == XError::None) status = {XError::Syntax, "malformed data"};
    return false;
  }
  parts = std::move(parser.parts);
  frames = std::move(parser.frames);
  table = std::move(parser.materials);
  return true;
}

}  // namespace

const char* XErrorName(XError e) {
  switch (e) {
    case XError::None:
      return "no error";
    case XError::Io:
      return "file error";
    case XError::BadHeader:
      return "bad header";
    case XError::Compression:
      return "bad compressed data";
    case XError::Truncated:
      return "truncated";
    case XError::Syntax:
      return "syntax error";
    case XError::CountTooLarge:
      return "count too large";
    case XError::BadIndex:
      return "bad index";
    case XError::BadReference:
      return "bad reference";
    case XError::TooDeep:
      return "nested too deeply";
    case XError::NoGeometry:
      return "no geometry";
    case XError::TooLarge:
      return "mesh too large";
    case XError::BadArgument:
      return "bad argument";
  }
  return "unknown error";
}

HRESULT D3DXLoadMeshFromXInMemory(std::span<const uint8_t> bytes, DWORD options,
                                  std::unique_ptr<Mesh>& mesh, std::vector<D3DXMATERIAL>& materials,
                                  XStatus* status, const XThreads& threads,
                                  const XFaceSplitter& split) {
  mesh.reset();
  materials.clear();
  XStatus st;
  auto refuse = [&]() {
    mesh.reset();
    materials.clear();
    if (status) *status = std::move(st);
    return E_FAIL;
  };
  // A UTF-8 byte-order mark before the signature costs nothing to allow.
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    bytes = bytes.subspan(3);
  }
  bool text = false, compressed = false;
  int floatBits = 32;
  if (!ParseHeader(bytes, text, compressed, floatBits, st)) return refuse();
  std::span<const uint8_t> body = bytes.subspan(16);
  std::vector<uint8_t> inflated;
  if (compressed) {
    if (!InflateXBody(body, inflated, st)) return refuse();
    body = inflated;
  }
  std::vector<MeshPart> parts;
  std::vector<FrameNode> frames;
  std::vector<D3DXMATERIAL> table;
  bool ok;
  if (text) {
    xlex::TextLexer lex(body.data(), body.size(), compressed, threads);
    ok = ParseBody(lex, parts, frames, table, st);
  } else {
    xlex::BinaryLexer lex(body.data(), body.size(), compressed, floatBits);
    ok = ParseBody(lex, parts, frames, table, st);
  }
  if (!ok || !Merge(parts, frames, table, options, mesh, materials, st, split)) return refuse();
  if (status) *status = XStatus{};
  return S_OK;
}

HRESULT D3DXLoadMeshFromX(const std::string& libraryPath, DWORD options,
                          std::unique_ptr<Mesh>& mesh, std::vector<D3DXMATERIAL>& materials,
                          XStatus* status) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadFileBytes(libraryPath, bytes)) {
    mesh.reset();
    materials.clear();
    if (status) *status = XStatus{XError::Io, "cannot read the file"};
    return E_FAIL;
  }
  return D3DXLoadMeshFromXInMemory(bytes, options, mesh, materials, status);
}

}  // namespace wz::d3dx
