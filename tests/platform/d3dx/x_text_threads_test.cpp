// Text X files whose long arrays are read in stretches on several threads must load exactly as
// when read on one: same mesh, same materials, same refusal down to the byte it names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/d3dx/x_file.h"
#include "platform/d3dx/x_lexer.h"
#include "platform/worker_pool.h"

namespace wz::d3dx {
namespace {

// A grid of `n` x `n` cells as a text X file. `comment` puts a comment holding numbers after every
// third line (where a stretch may begin inside it); the other switches vary the spelling.
struct Style {
  const char* name;
  bool comment = false, crlf = false, quads = false, longNumbers = false;
  std::string fault{};    // text put in place of the numbers of one late vertex
  size_t cutAt = 0;       // when not 0, the file is cut to this share of a thousand
  bool badIndex = false;  // a late face names a vertex past the last
};

std::string GridText(const Style& s, int n = 24) {
  const char* nl = s.crlf ? "\r\n" : "\n";
  std::string t = "xof 0303txt 0032";
  t += nl;
  int line = 0;
  auto end = [&] {
    if (s.comment && ++line % 3 == 0) t += (line % 2) ? " // 7; 8, 9;;" : " # 1.5;2,";
    t += nl;
  };
  const int v = (n + 1) * (n + 1);
  t += "Mesh grid {" + std::string(nl) + std::to_string(v) + ";" + nl;
  for (int i = 0; i < v; ++i) {
    if (!s.fault.empty() && i == v - 5) {
      t += s.fault + ";,";
    } else {
      t += std::to_string(i % (n + 1)) + (s.longNumbers ? ".1234567890123456789;" : ".5;");
      t += s.longNumbers && i % 7 == 0 ? "1.#IND00;" : "0.25;";
      t += std::to_string(i / (n + 1)) + (i + 1 < v ? ";," : ";;");
    }
    end();
  }
  std::string faces;
  int count = 0;
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      const int a = (s.badIndex && r == n - 1 && c == n - 3) ? 99999 : r * (n + 1) + c;
      const int b = r * (n + 1) + c + 1, d = b + n, e = d + 1;
      const bool quad = s.quads && (r + c) % 3 == 0;
      const std::string sep = s.longNumbers ? ",0000000000" : ",";
      faces += quad ? "4;" + std::to_string(a) + sep + std::to_string(d) + "," + std::to_string(e) +
                          "," + std::to_string(b) + ";,"
                    : "3;" + std::to_string(a) + sep + std::to_string(d) + "," + std::to_string(b) +
                          ";,3;" + std::to_string(b) + "," + std::to_string(d) + "," +
                          std::to_string(e) + ";,";
      count += quad ? 1 : 2;
      faces += nl;
    }
  }
  faces.back() = ';';
  t += std::to_string(count) + ";" + nl + faces + nl;
  t += "MeshNormals {" + std::string(nl) + std::to_string(v) + ";" + nl;
  for (int i = 0; i < v; ++i) {
    t += "0.0;1.0;0.0;,";
    end();
  }
  t += std::to_string(count) + ";" + nl + faces + nl + "}" + nl;
  t += "MeshTextureCoords {" + std::string(nl) + std::to_string(v) + ";" + nl;
  for (int i = 0; i < v; ++i) {
    t += "0." + std::to_string(i % 97) + ";0." + std::to_string(i % 89) + ";,";
    end();
  }
  t += "}" + std::string(nl) + "MeshMaterialList { 2; " + std::to_string(count) + ";" + nl;
  for (int f = 0; f < count; ++f)
    t += std::string(f % 2 ? "1" : "0") + (f + 1 < count ? "," : ";") + (f % 9 == 8 ? nl : "");
  t += nl + std::string("Material { 1;0;0;1;; 5; 1;1;1;; 0;0;0;; }") + nl;
  t += "Material { 0;1;0;1;; 5; 1;1;1;; 0;0;0;; }" + std::string(nl) + "}" + nl + "}" + nl;
  if (s.cutAt) t.resize(t.size() * s.cutAt / 1000);
  return t;
}

struct Result {
  HRESULT hr;
  XStatus status;
  std::vector<uint8_t> vertices;
  std::vector<uint32_t> indices;
  std::vector<DWORD> attributes;
  size_t materials = 0;
};

Result Load(const std::string& text, const XThreads& threads) {
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials;
  Result r;
  r.hr = D3DXLoadMeshFromXInMemory(bytes, D3DXMESH_SYSTEMMEM, mesh, materials, &r.status, threads);
  if (mesh) {
    r.vertices.assign(mesh->VertexBuffer().begin(), mesh->VertexBuffer().end());
    r.indices.resize(size_t{mesh->GetNumFaces()} * 3);
    mesh->ReadIndices(r.indices);
    r.attributes.assign(mesh->AttributeBuffer().begin(), mesh->AttributeBuffer().end());
  }
  r.materials = materials.size();
  return r;
}

TEST(XTextThreads, StretchesGiveTheOneThreadReading) {
  const Style styles[] = {
      {.name = "plain"},
      {.name = "comments holding numbers", .comment = true},
      {.name = "CR LF and quads among triangles", .comment = true, .crlf = true, .quads = true},
      {.name = "long numbers, old non-finite spellings", .longNumbers = true},
      {.name = "malformed number late in the positions", .comment = true, .fault = "1.5.5;0;0"},
      {.name = "vertex of two numbers", .fault = "1;2"},
      {.name = "index past the vertices late in the faces", .badIndex = true},
      {.name = "cut inside the normals", .comment = true, .cutAt = 500},
      {.name = "cut inside the first faces", .quads = true, .cutAt = 300},
  };

  for (const Style& s : styles) {
    SCOPED_TRACE(s.name);
    const std::string text = GridText(s);
    const Result one = Load(text, XThreads{64, 1});
    for (unsigned runs : {2u, 3u, 5u, 16u}) {
      SCOPED_TRACE(runs);
      const Result many = Load(text, XThreads{64, runs, true});
      EXPECT_EQ(many.hr, one.hr);
      EXPECT_EQ(many.status.message, one.status.message);
      EXPECT_EQ(many.vertices, one.vertices);
      EXPECT_EQ(many.indices, one.indices);
      EXPECT_EQ(many.attributes, one.attributes);
      EXPECT_EQ(many.materials, one.materials);
    }
    EXPECT_EQ(one.hr == S_OK, s.fault.empty() && !s.cutAt && !s.badIndex) << one.status.message;
  }
}

// The reader itself: numbers taken from other threads are the numbers it would have read, end
// where they would have ended, and are taken (not read again here) when the stretches join.
TEST(XTextThreads, NumbersReadAheadAreTakenWhereTheStretchesJoin) {
  struct Case {
    const char* name;
    std::string text;
    bool joins;  // every stretch begins where the one before it ended
  };
  std::string plain, commented;
  for (int i = 0; i < 3000; ++i) {
    plain += std::to_string(i) + ".25;" + (i % 10 == 9 ? "\n" : " ");
    commented += std::to_string(i) + ".25;" + (i % 10 == 9 ? " // 1 2 3 4 5 6 7 8 9\n" : " ");
  }
  const Case cases[] = {{"plain", plain, true}, {"comments holding numbers", commented, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto* data = reinterpret_cast<const uint8_t*>(c.text.data());
    xlex::TextLexer one(data, c.text.size(), false, XThreads{64, 1});
    xlex::TextLexer many(data, c.text.size(), false, XThreads{1024, 8, true});
    many.ReadAhead(xlex::TextLexer::Kind::Float, 3000);
    for (int i = 0; i < 3000; ++i) {
      // A stray number skipped between reads moves the reader off the numbers read ahead.
      if (i == 2990) {
        ASSERT_TRUE(one.SkipStray(one.Peek()) && many.SkipStray(many.Peek()));
      }
      float a = -1, b = -1;
      ASSERT_EQ(one.ReadFloat(a), many.ReadFloat(b));
      ASSERT_EQ(a, b) << "number " << i;
      ASSERT_EQ(one.offset(), many.offset()) << "number " << i;
    }
    if (c.joins && platform::WorkerCount() > 0) {  // a machine of one processor reads here
      EXPECT_GT(many.TakenAhead(), 2000u);
    }
    EXPECT_EQ(one.status().message, many.status().message);
  }
}

}  // namespace
}  // namespace wz::d3dx
