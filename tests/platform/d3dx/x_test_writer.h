// Test-side X-file writer: builds an object tree and writes it as text, binary with 32-bit or
// 64-bit floats, or compressed (tzip/bzip), independently of the library's own writer. Text output
// uses the separators given with the data; binary output merges neighbouring numbers of one kind
// into one list, as real writers do, or (ListMode) writes each number in its own list or token.
#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace wz::d3dx::xtest {

struct Item {
  enum Kind { Int, Float, Str, Sep } kind;
  uint32_t i = 0;
  double f = 0;
  std::string s;  // string value, or the text separator of a Sep
};

struct Node {
  std::string type;  // empty: a reference
  std::string name;
  std::string guid;  // 8-4-4-4-12 hex, optional
  std::vector<Item> items;
  std::vector<Node> children;
  std::string raw;  // text written verbatim before the closing brace (text only)
};

// Fluent item list.
struct Items {
  std::vector<Item> v;
  Items& I(uint32_t x) {
    v.push_back({Item::Int, x, 0, {}});
    return *this;
  }
  Items& F(double x) {
    v.push_back({Item::Float, 0, x, {}});
    return *this;
  }
  Items& S(std::string x) {
    v.push_back({Item::Str, 0, 0, std::move(x)});
    return *this;
  }
  Items& P(std::string sep) {  // text-only punctuation
    v.push_back({Item::Sep, 0, 0, std::move(sep)});
    return *this;
  }
  operator std::vector<Item>() const { return v; }
};

inline Node Obj(std::string type, std::string name, std::vector<Item> items,
                std::vector<Node> children = {}) {
  return Node{std::move(type), std::move(name), "", std::move(items), std::move(children), ""};
}
inline Node Ref(std::string name, std::string guid = "") {
  return Node{"", std::move(name), std::move(guid), {}, {}, ""};
}

using V3 = std::array<double, 3>;
using Face = std::vector<uint32_t>;

// Canonical separators: vectors "x;y;z;" then ',' or ';', faces "n;a,b,c;" then ',' or ';'.
inline void AddVectors(Items& it, const std::vector<V3>& v) {
  it.I(static_cast<uint32_t>(v.size())).P(";");
  for (size_t i = 0; i < v.size(); ++i) {
    it.F(v[i][0]).P(";").F(v[i][1]).P(";").F(v[i][2]).P(";").P(i + 1 < v.size() ? "," : ";");
  }
  if (v.empty()) it.P(";");
}
inline void AddFaces(Items& it, const std::vector<Face>& faces) {
  it.I(static_cast<uint32_t>(faces.size())).P(";");
  for (size_t f = 0; f < faces.size(); ++f) {
    it.I(static_cast<uint32_t>(faces[f].size())).P(";");
    for (size_t k = 0; k < faces[f].size(); ++k)
      it.I(faces[f][k]).P(k + 1 < faces[f].size() ? "," : ";");
    it.P(f + 1 < faces.size() ? "," : ";");
  }
}

inline Node MeshNode(std::string name, const std::vector<V3>& pos, const std::vector<Face>& faces,
                     std::vector<Node> children = {}) {
  Items it;
  AddVectors(it, pos);
  AddFaces(it, faces);
  return Obj("Mesh", std::move(name), it, std::move(children));
}
inline Node NormalsNode(const std::vector<V3>& normals, const std::vector<Face>& faces) {
  Items it;
  AddVectors(it, normals);
  AddFaces(it, faces);
  return Obj("MeshNormals", "", it);
}
inline Node UVNode(const std::vector<std::array<double, 2>>& uv) {
  Items it;
  it.I(static_cast<uint32_t>(uv.size())).P(";");
  for (size_t i = 0; i < uv.size(); ++i)
    it.F(uv[i][0]).P(";").F(uv[i][1]).P(";").P(i + 1 < uv.size() ? "," : ";");
  return Obj("MeshTextureCoords", "", it);
}
struct IndexedColor {
  uint32_t index;
  std::array<double, 4> rgba;
};
inline Node ColorsNode(const std::vector<IndexedColor>& c) {
  Items it;
  it.I(static_cast<uint32_t>(c.size())).P(";");
  for (size_t i = 0; i < c.size(); ++i) {
    it.I(c[i].index).P(";");
    for (double x : c[i].rgba)
      it.F(x).P(";");
    it.P(";").P(i + 1 < c.size() ? "," : ";");
  }
  return Obj("MeshVertexColors", "", it);
}
inline Node MaterialListNode(uint32_t nMaterials, const std::vector<uint32_t>& faceMaterials,
                             std::vector<Node> materials) {
  Items it;
  it.I(nMaterials).P(";").I(static_cast<uint32_t>(faceMaterials.size())).P(";");
  for (size_t i = 0; i < faceMaterials.size(); ++i)
    it.I(faceMaterials[i]).P(i + 1 < faceMaterials.size() ? "," : ";");
  return Obj("MeshMaterialList", "", it, std::move(materials));
}
inline Node MaterialNode(std::string name, std::array<double, 4> diffuse, double power,
                         std::array<double, 3> specular, std::array<double, 3> emissive,
                         const char* texture = nullptr,
                         const char* textureType = "TextureFilename") {
  Items it;
  for (double x : diffuse)
    it.F(x).P(";");
  it.P(";").F(power).P(";");
  for (double x : specular)
    it.F(x).P(";");
  it.P(";");
  for (double x : emissive)
    it.F(x).P(";");
  it.P(";");
  std::vector<Node> children;
  if (texture) children.push_back(Obj(textureType, "", Items().S(texture)));
  return Obj("Material", std::move(name), it, std::move(children));
}
inline Node FrameNode(std::string name, const std::array<double, 16>* matrix,
                      std::vector<Node> children) {
  std::vector<Node> all;
  if (matrix) {
    Items it;
    for (int i = 0; i < 16; ++i)
      it.F((*matrix)[i]).P(i < 15 ? "," : ";;");
    all.push_back(Obj("FrameTransformMatrix", "", it));
  }
  for (Node& c : children)
    all.push_back(std::move(c));
  return Obj("Frame", std::move(name), {}, std::move(all));
}

enum class Flavour { Text, Bin32, Bin64, TZip, BZip };
enum class ListMode { Merged, OnePerNumber, IntegerTokens };

class Writer {
 public:
  Writer(Flavour f, ListMode lists = ListMode::Merged) : flavour_(f), lists_(lists) {}

  std::vector<uint8_t> Write(const std::vector<Node>& top, const std::string& preamble = "") {
    body_.clear();
    const bool text = flavour_ == Flavour::Text || flavour_ == Flavour::TZip;
    if (text) {
      Text("\n" + preamble);
      for (const Node& n : top)
        WriteText(n, 0);
    } else {
      for (const Node& n : top)
        WriteBinary(n);
    }
    const char* fmt = flavour_ == Flavour::Text   ? "txt "
                      : flavour_ == Flavour::TZip ? "tzip"
                      : flavour_ == Flavour::BZip ? "bzip"
                                                  : "bin ";
    std::string header =
        std::string("xof 0303") + fmt + (flavour_ == Flavour::Bin64 ? "0064" : "0032");
    std::vector<uint8_t> out(header.begin(), header.end());
    if (flavour_ == Flavour::TZip || flavour_ == Flavour::BZip) {
      Compress(body_, out, 4096, /*chained=*/false);
    } else {
      out.insert(out.end(), body_.begin(), body_.end());
    }
    return out;
  }

  // MSZIP-style blocks of `blockSize` bytes; `chained` compresses each block with the previous
  // 32 KB of data as dictionary, as a history-keeping writer may.
  static void Compress(const std::vector<uint8_t>& body, std::vector<uint8_t>& out,
                       size_t blockSize, bool chained) {
    const uint32_t total = static_cast<uint32_t>(body.size() + 16);
    Append(out, &total, 4);
    for (size_t pos = 0; pos < body.size(); pos += blockSize) {
      const size_t n = std::min(blockSize, body.size() - pos);
      z_stream z{};
      deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      if (chained && pos > 0) {
        const size_t d = std::min<size_t>(32768, pos);
        deflateSetDictionary(&z, body.data() + pos - d, static_cast<uInt>(d));
      }
      std::vector<uint8_t> block(deflateBound(&z, n) + 64);
      z.next_in = const_cast<Bytef*>(body.data() + pos);
      z.avail_in = static_cast<uInt>(n);
      z.next_out = block.data();
      z.avail_out = static_cast<uInt>(block.size());
      deflate(&z, Z_FINISH);
      const size_t packed = block.size() - z.avail_out;
      deflateEnd(&z);
      const uint16_t sizes[2] = {static_cast<uint16_t>(n), static_cast<uint16_t>(packed + 2)};
      Append(out, sizes, 4);
      out.push_back('C');
      out.push_back('K');
      Append(out, block.data(), packed);
    }
  }

 private:
  static void Append(std::vector<uint8_t>& out, const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  }
  void Text(const std::string& s) { body_.insert(body_.end(), s.begin(), s.end()); }

  void WriteText(const Node& n, int depth) {
    const std::string ind(depth, ' ');
    if (n.type.empty()) {
      Text(ind + "{ " + n.name + (n.guid.empty() ? "" : " <" + n.guid + ">") + " }\n");
      return;
    }
    Text(ind + n.type + (n.name.empty() ? "" : " " + n.name) + " {\n");
    if (!n.guid.empty()) Text(ind + " <" + n.guid + ">\n");
    if (!n.items.empty()) {
      Text(ind + " ");
      for (const Item& it : n.items) {
        char buf[64];
        switch (it.kind) {
          case Item::Int:
            std::snprintf(buf, sizeof buf, "%u", it.i);
            Text(buf);
            break;
          case Item::Float:
            std::snprintf(buf, sizeof buf, "%.9g", it.f);
            Text(buf);
            break;
          case Item::Str: {
            std::string q;
            for (char c : it.s)
              q += c == '\\' ? std::string("\\\\") : std::string(1, c);
            Text("\"" + q + "\";");
            break;
          }
          case Item::Sep:
            Text(it.s);
            break;
        }
      }
      Text("\n");
    }
    for (const Node& c : n.children)
      WriteText(c, depth + 1);
    Text(n.raw);
    Text(ind + "}\n");
  }

  void Code(uint16_t c) { Append(body_, &c, 2); }
  void U32(uint32_t v) { Append(body_, &v, 4); }
  void Counted(uint16_t code, const std::string& s) {
    Code(code);
    U32(static_cast<uint32_t>(s.size()));
    Append(body_, s.data(), s.size());
  }
  void Guid(const std::string& g) {
    // 8-4-4-4-12 text to Data1 (LE u32), Data2, Data3 (LE u16), Data4 (8 bytes).
    std::string hex;
    for (char c : g) {
      if (c != '-') hex += c;
    }
    uint8_t b[16];
    for (int i = 0; i < 16; ++i)
      b[i] = static_cast<uint8_t>(std::stoi(hex.substr(i * 2, 2), nullptr, 16));
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    Code(5);
    for (int i = 0; i < 16; ++i)
      body_.push_back(b[order[i]]);
  }

  void FlushNumbers(std::vector<uint32_t>& ints, std::vector<double>& floats) {
    const bool wide = flavour_ == Flavour::Bin64;
    if (!ints.empty()) {
      if (lists_ == ListMode::Merged) {
        Code(6);
        U32(static_cast<uint32_t>(ints.size()));
        for (uint32_t v : ints)
          U32(v);
      } else {
        for (uint32_t v : ints) {
          if (lists_ == ListMode::IntegerTokens) {
            Code(3);
            U32(v);
          } else {
            Code(6);
            U32(1);
            U32(v);
          }
        }
      }
      ints.clear();
    }
    if (!floats.empty()) {
      const size_t per = lists_ == ListMode::Merged ? floats.size() : 1;
      for (size_t at = 0; at < floats.size(); at += per) {
        Code(7);
        U32(static_cast<uint32_t>(per));
        for (size_t k = at; k < at + per; ++k) {
          if (wide) {
            Append(body_, &floats[k], 8);
          } else {
            const float f = static_cast<float>(floats[k]);
            Append(body_, &f, 4);
          }
        }
      }
      floats.clear();
    }
  }

  void WriteBinary(const Node& n) {
    if (n.type.empty()) {
      Code(10);
      if (!n.name.empty()) Counted(1, n.name);
      if (!n.guid.empty()) Guid(n.guid);
      Code(11);
      return;
    }
    Counted(1, n.type);
    if (!n.name.empty()) Counted(1, n.name);
    Code(10);
    if (!n.guid.empty()) Guid(n.guid);
    std::vector<uint32_t> ints;
    std::vector<double> floats;
    for (const Item& it : n.items) {
      if (it.kind == Item::Int) {
        if (!floats.empty()) FlushNumbers(ints, floats);
        ints.push_back(it.i);
      } else if (it.kind == Item::Float) {
        if (!ints.empty()) FlushNumbers(ints, floats);
        floats.push_back(it.f);
      } else if (it.kind == Item::Str) {
        FlushNumbers(ints, floats);
        Counted(2, it.s);
        Code(20);
      }
    }
    FlushNumbers(ints, floats);
    for (const Node& c : n.children)
      WriteBinary(c);
    Code(11);
  }

  Flavour flavour_;
  ListMode lists_;
  std::vector<uint8_t> body_;
};

inline std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace wz::d3dx::xtest
