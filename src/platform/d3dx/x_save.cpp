// X-file saving: one triangle-list mesh with its normals, vertex colours, first texture-coordinate
// set and material list, as a binary or text file, optionally compressed.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/d3dx/x_compress.h"
#include "platform/d3dx/x_file.h"
#include "platform/file_io.h"

namespace wz::d3dx {
namespace {

constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

float Finite(float v) {
  return std::isfinite(v) ? v : 0.0f;
}

// A channel of a D3DCOLOR word (0xAARRGGBB) as the float the file holds; `shift` picks it.
float Channel(uint32_t argb, int shift) {
  return float((argb >> shift) & 0xFF) / 255.0f;
}

// What the writer needs from the mesh, gathered once.
struct MeshView {
  const Mesh& mesh;
  std::span<const D3DXMATERIAL> materials;
  bool normals;
  bool colours;
  bool uvs;
};

// Binary tokens (little-endian 16-bit codes, records as in the binary X format).
class BinaryWriter {
 public:
  explicit BinaryWriter(std::vector<uint8_t>& out) : out_(out) {}

  void Name(std::string_view s) { Counted(1, s); }
  void String(std::string_view s) {
    Counted(2, s);
    Code(20);  // the terminator: an ordinary semicolon token
  }
  void Open() { Code(10); }
  void Close() { Code(11); }
  void IntList(std::span<const uint32_t> v) {
    Code(6);
    U32(static_cast<uint32_t>(v.size()));
    Bytes(v.data(), v.size() * 4);
  }
  void IntList(std::initializer_list<uint32_t> v) { IntList(std::span(v.begin(), v.size())); }
  void FloatList(std::span<const float> v) {
    Code(7);
    U32(static_cast<uint32_t>(v.size()));
    Bytes(v.data(), v.size() * 4);
  }
  void FloatList(std::initializer_list<float> v) { FloatList(std::span(v.begin(), v.size())); }

 private:
  void Code(uint16_t c) { Bytes(&c, 2); }
  void U32(uint32_t v) { Bytes(&v, 4); }
  void Counted(uint16_t code, std::string_view s) {
    Code(code);
    U32(static_cast<uint32_t>(s.size()));
    Bytes(s.data(), s.size());
  }
  void Bytes(const void* p, size_t n) {
    const size_t at = out_.size();
    out_.resize(at + n);
    if (n) std::memcpy(&out_[at], p, n);
  }
  std::vector<uint8_t>& out_;
};

void WriteBinary(const MeshView& m, std::vector<uint8_t>& out) {
  const Mesh& mesh = m.mesh;
  const uint32_t nv = mesh.GetNumVertices(), nf = mesh.GetNumFaces();
  // The size is known but for the materials' names: the body takes one allocation.
  out.reserve(out.size() + 512 + m.materials.size() * 128 +
              size_t{nv} * (12 + (m.normals ? 12 : 0) + (m.colours ? 32 : 0) + (m.uvs ? 8 : 0)) +
              size_t{nf} * (16 + (m.normals ? 16 : 0) + 4));
  BinaryWriter w(out);
  std::vector<float> floats;
  std::vector<uint32_t> ints;

  auto faces = [&]() {
    ints.assign({nf});
    ints.reserve(1 + size_t{nf} * 4);
    for (size_t f = 0; f < nf; ++f) {
      ints.insert(ints.end(),
                  {3u, mesh.Index(f * 3), mesh.Index(f * 3 + 1), mesh.Index(f * 3 + 2)});
    }
    w.IntList(ints);
  };
  auto vectors = [&](int which) {  // 0 positions, 1 normals
    floats.resize(size_t{nv} * 3);
    for (uint32_t v = 0; v < nv; ++v) {
      const auto p = which == 0 ? mesh.Position(v) : mesh.Normal(v);
      for (int c = 0; c < 3; ++c)
        floats[size_t{v} * 3 + c] = Finite(p[c]);
    }
    w.FloatList(floats);
  };

  w.Name("Frame");
  w.Name("Root");
  w.Open();
  w.Name("FrameTransformMatrix");
  w.Open();
  w.FloatList(kIdentity);
  w.Close();
  w.Name("Mesh");
  w.Name("mesh0");
  w.Open();
  w.IntList({nv});
  vectors(0);
  faces();
  if (m.normals) {
    w.Name("MeshNormals");
    w.Open();
    w.IntList({nv});
    vectors(1);
    faces();
    w.Close();
  }
  if (m.colours) {
    // Each entry is an index and four floats: one integer list and one float list apiece.
    w.Name("MeshVertexColors");
    w.Open();
    w.IntList({nv});
    for (uint32_t v = 0; v < nv; ++v) {
      const uint32_t argb = mesh.Diffuse(v);
      const float rgba[4] = {Channel(argb, 16), Channel(argb, 8), Channel(argb, 0),
                             Channel(argb, 24)};
      w.IntList(std::span(&v, 1));
      w.FloatList(rgba);
    }
    w.Close();
  }
  if (m.uvs) {
    w.Name("MeshTextureCoords");
    w.Open();
    w.IntList({nv});
    floats.resize(size_t{nv} * 2);
    for (uint32_t v = 0; v < nv; ++v) {
      const auto uv = mesh.TexCoord(v);
      floats[size_t{v} * 2] = Finite(uv[0]);
      floats[size_t{v} * 2 + 1] = Finite(uv[1]);
    }
    w.FloatList(floats);
    w.Close();
  }
  if (!m.materials.empty()) {
    w.Name("MeshMaterialList");
    w.Open();
    ints.assign({static_cast<uint32_t>(m.materials.size()), nf});
    const auto attrs = mesh.AttributeBuffer();
    ints.insert(ints.end(), attrs.begin(), attrs.end());
    w.IntList(ints);
    for (size_t i = 0; i < m.materials.size(); ++i) {
      const D3DMATERIAL9& mat = m.materials[i].MatD3D;
      w.Name("Material");
      w.Name("mat" + std::to_string(i));
      w.Open();
      w.FloatList({Finite(mat.Diffuse.r), Finite(mat.Diffuse.g), Finite(mat.Diffuse.b),
                   Finite(mat.Diffuse.a), Finite(mat.Power), Finite(mat.Specular.r),
                   Finite(mat.Specular.g), Finite(mat.Specular.b), Finite(mat.Emissive.r),
                   Finite(mat.Emissive.g), Finite(mat.Emissive.b)});
      if (!m.materials[i].textureFilename.empty()) {
        w.Name("TextureFilename");
        w.Open();
        w.String(m.materials[i].textureFilename);
        w.Close();
      }
      w.Close();
    }
    w.Close();
  }
  w.Close();  // Mesh
  w.Close();  // Frame
}

// Text output in the canonical separator layout: ';' after each member, ',' between array
// elements, and the array's own ';' after its last element.
class TextWriter {
 public:
  explicit TextWriter(std::vector<uint8_t>& out) : out_(out) {}

  void Raw(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); }
  // The shortest text that reads back as the same float, always with a decimal point: some
  // readers take a comma right after a whole number as a decimal comma ("1,0" as 1.0).
  void Float(float v) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + 32, Finite(v));
    (void)ec;  // 32 bytes always hold a float
    char* mantissaEnd = std::find(buf, end, 'e');
    if (std::find(buf, mantissaEnd, '.') == mantissaEnd) {
      std::memmove(mantissaEnd + 2, mantissaEnd, end - mantissaEnd);
      mantissaEnd[0] = '.';
      mantissaEnd[1] = '0';
      end += 2;
    }
    out_.insert(out_.end(), buf, end);
  }
  void UInt(uint32_t v) {
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    out_.insert(out_.end(), buf, end);
  }
  // A quoted string; backslashes are doubled, as readers of the text format expect.
  void String(std::string_view s) {
    out_.push_back('"');
    for (char c : s) {
      out_.push_back(static_cast<uint8_t>(c));
      if (c == '\\') out_.push_back('\\');
    }
    Raw("\";");
  }

 private:
  std::vector<uint8_t>& out_;
};

void WriteText(const MeshView& m, std::vector<uint8_t>& out) {
  const Mesh& mesh = m.mesh;
  const uint32_t nv = mesh.GetNumVertices(), nf = mesh.GetNumFaces();
  TextWriter w(out);
  auto faces = [&](const char* indent) {
    w.Raw(indent);
    w.UInt(nf);
    w.Raw(";\n");
    for (size_t f = 0; f < nf; ++f) {
      w.Raw(indent);
      w.Raw("3;");
      for (int k = 0; k < 3; ++k) {
        w.UInt(mesh.Index(f * 3 + k));
        w.Raw(k < 2 ? "," : (f + 1 < nf ? ";,\n" : ";;\n"));
      }
    }
  };
  auto vectors = [&](int which, const char* indent) {
    w.Raw(indent);
    w.UInt(nv);
    w.Raw(";\n");
    for (uint32_t v = 0; v < nv; ++v) {
      const auto p = which == 0 ? mesh.Position(v) : mesh.Normal(v);
      w.Raw(indent);
      for (int c = 0; c < 3; ++c) {
        w.Float(p[c]);
        w.Raw(";");
      }
      w.Raw(v + 1 < nv ? ",\n" : ";\n");
    }
  };

  w.Raw("Frame Root {\n FrameTransformMatrix {\n  ");
  for (int i = 0; i < 16; ++i) {
    w.Float(kIdentity[i]);
    w.Raw(i < 15 ? "," : ";;\n");
  }
  w.Raw(" }\n Mesh mesh0 {\n");
  vectors(0, "  ");
  faces("  ");
  if (m.normals) {
    w.Raw("  MeshNormals {\n");
    vectors(1, "   ");
    faces("   ");
    w.Raw("  }\n");
  }
  if (m.colours) {
    w.Raw("  MeshVertexColors {\n   ");
    w.UInt(nv);
    w.Raw(";\n");
    for (uint32_t v = 0; v < nv; ++v) {
      const uint32_t argb = mesh.Diffuse(v);
      w.Raw("   ");
      w.UInt(v);
      w.Raw(";");
      for (int shift : {16, 8, 0, 24}) {
        w.Float(Channel(argb, shift));
        w.Raw(";");
      }
      w.Raw(v + 1 < nv ? ";,\n" : ";;\n");
    }
    w.Raw("  }\n");
  }
  if (m.uvs) {
    w.Raw("  MeshTextureCoords {\n   ");
    w.UInt(nv);
    w.Raw(";\n");
    for (uint32_t v = 0; v < nv; ++v) {
      const auto uv = mesh.TexCoord(v);
      w.Raw("   ");
      w.Float(uv[0]);
      w.Raw(";");
      w.Float(uv[1]);
      w.Raw(v + 1 < nv ? ";,\n" : ";;\n");
    }
    w.Raw("  }\n");
  }
  if (!m.materials.empty()) {
    w.Raw("  MeshMaterialList {\n   ");
    w.UInt(static_cast<uint32_t>(m.materials.size()));
    w.Raw(";\n   ");
    w.UInt(nf);
    w.Raw(";\n   ");
    const auto attrs = mesh.AttributeBuffer();
    for (size_t f = 0; f < nf; ++f) {
      w.UInt(attrs[f]);
      w.Raw(f + 1 < nf ? "," : ";\n");
    }
    for (size_t i = 0; i < m.materials.size(); ++i) {
      const D3DMATERIAL9& mat = m.materials[i].MatD3D;
      w.Raw("   Material mat");
      w.UInt(static_cast<uint32_t>(i));
      w.Raw(" {\n    ");
      for (float v : {mat.Diffuse.r, mat.Diffuse.g, mat.Diffuse.b, mat.Diffuse.a}) {
        w.Float(v);
        w.Raw(";");
      }
      w.Raw(";\n    ");
      w.Float(mat.Power);
      w.Raw(";\n    ");
      for (float v : {mat.Specular.r, mat.Specular.g, mat.Specular.b}) {
        w.Float(v);
        w.Raw(";");
      }
      w.Raw(";\n    ");
      for (float v : {mat.Emissive.r, mat.Emissive.g, mat.Emissive.b}) {
        w.Float(v);
        w.Raw(";");
      }
      w.Raw(";\n");
      if (!m.materials[i].textureFilename.empty()) {
        w.Raw("    TextureFilename {\n     ");
        w.String(m.materials[i].textureFilename);
        w.Raw("\n    }\n");
      }
      w.Raw("   }\n");
    }
    w.Raw("  }\n");
  }
  w.Raw(" }\n}\n");
}

HRESULT Refuse(XStatus* status, std::string message) {
  if (status) *status = XStatus{XError::BadArgument, std::move(message)};
  return D3DERR_INVALIDCALL;
}

}  // namespace

HRESULT D3DXSaveMeshToXInMemory(const Mesh& mesh, std::span<const D3DXMATERIAL> materials,
                                DWORD format, std::vector<uint8_t>& out, XStatus* status) {
  out.clear();
  if (format & ~(D3DXF_FILEFORMAT_TEXT | D3DXF_FILEFORMAT_COMPRESSED)) {
    return Refuse(status, "unknown file format flags");
  }
  const bool text = (format & D3DXF_FILEFORMAT_TEXT) != 0;
  const bool compressed = (format & D3DXF_FILEFORMAT_COMPRESSED) != 0;
  std::string why;
  if (!CheckMeshInvariants(mesh, materials.empty() ? SIZE_MAX : materials.size(), &why)) {
    return Refuse(status, "mesh cannot be written: " + why);
  }
  if (text) {
    for (const D3DXMATERIAL& m : materials) {
      if (m.textureFilename.find('"') != std::string::npos) {
        return Refuse(status, "a texture name with a double quote cannot be written as text");
      }
    }
  }
  const FvfLayout& l = mesh.Layout();
  const MeshView view{mesh, materials, l.normal >= 0, l.diffuse >= 0, l.texCount > 0};

  const char* header = text ? (compressed ? "xof 0303tzip0032" : "xof 0303txt 0032")
                            : (compressed ? "xof 0303bzip0032" : "xof 0303bin 0032");
  out.assign(header, header + 16);
  // An uncompressed body goes straight after the header; a compressed one is deflated there.
  std::vector<uint8_t> compressedBody;
  std::vector<uint8_t>& body = compressed ? compressedBody : out;
  if (text) {
    body.push_back('\n');  // ends the header line
    WriteText(view, body);
  } else {
    WriteBinary(view, body);
  }
  if (compressed && (body.size() > kXMaxBodyBytes || !DeflateXBody(body, out))) {
    out.clear();
    if (status) *status = XStatus{XError::TooLarge, "the file is too large to compress"};
    return E_OUTOFMEMORY;
  }
  if (status) *status = XStatus{};
  return S_OK;
}

HRESULT D3DXSaveMeshToX(const std::string& libraryPath, const Mesh& mesh,
                        std::span<const D3DXMATERIAL> materials, DWORD format, XStatus* status) {
  std::vector<uint8_t> bytes;
  if (HRESULT hr = D3DXSaveMeshToXInMemory(mesh, materials, format, bytes, status); Failed(hr)) {
    return hr;
  }
  if (!platform::WriteFileAtomically(libraryPath, bytes)) {
    if (status) *status = XStatus{XError::Io, "cannot write the file"};
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace wz::d3dx
