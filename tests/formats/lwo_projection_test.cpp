// Projected image maps and colour maps of the LightWave readers: each projection against its own
// formula, the wrap seam, an LWOB cylindrical map, LWO2 RGB and RGBA colour maps, and a sample
// file whose cylindrical map LightWave also wrote out as a UV map (Debian's assimp-testmodels).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "app/render_command.h"
#include "formats/formats.h"
#include "formats/lwo_projection.h"
#include "formats/lwo_test_files.h"
#include "model/model_invariants.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "render/render_fixture.h"

namespace wz {
namespace {

using testing::Bytes;
using testing::PutBe16;
using testing::PutBe32;
using testing::PutBeF32;
using testing::PutText;

constexpr float kPi = std::numbers::pi_v<float>;

struct ProjectionCase {
  const char* name;
  LwoImageMap map;
  Vec3 point;
  float u, v;  // expected, from the formula written out for that case
};

TEST(LwoProjection, EachProjectionPlacesAPointAsItsFormulaSays) {
  auto make = [](LwoProjection p, int axis, Vec3 centre, Vec3 size, float ww = 1, float hw = 1) {
    LwoImageMap m;
    m.projection = p, m.axis = axis, m.centre = centre, m.size = size;
    m.widthWrap = ww, m.heightWrap = hw;
    return m;
  };
  const Vec3 c{1, 2, 3}, s{2, 4, 8};
  const Vec3 p{1.5f, 3.0f, 5.0f};  // relative to c: (0.5, 1, 2)
  // Around the y axis the angle runs from +x (0.5) to +z (0.75): u = 0.5 + atan2(z, x) / 2pi.
  const float turnY = 0.5f + std::atan2(2.0f, 0.5f) / (2 * kPi);
  const float lat = std::atan2(1.0f, std::sqrt(0.25f + 4.0f));
  const ProjectionCase cases[] = {
      {"planar x", make(LwoProjection::kPlanar, 0, c, s), p, 2.0f / 8 + 0.5f, -1.0f / 4 + 0.5f},
      {"planar y", make(LwoProjection::kPlanar, 1, c, s), p, 0.5f / 2 + 0.5f, -2.0f / 8 + 0.5f},
      {"planar z", make(LwoProjection::kPlanar, 2, c, s), p, 0.5f / 2 + 0.5f, -1.0f / 4 + 0.5f},
      {"cylindrical y", make(LwoProjection::kCylindrical, 1, c, s, 2), p, 2 * turnY,
       0.5f - 1.0f / 4},
      {"spherical y", make(LwoProjection::kSpherical, 1, c, s, 1, 3), p, turnY,
       3 * (0.5f - lat / kPi)},
      // About x: u = 0.5 + atan2(-y, -z) / 2pi; about z: u = 0.5 + atan2(-y, x) / 2pi.
      {"spherical z", make(LwoProjection::kSpherical, 2, {}, s), {0, -1, 0}, 0.75f, 0.5f},
      {"cylindrical x",
       make(LwoProjection::kCylindrical, 0, {}, s),
       {3, -1, 0},
       0.75f,
       0.5f - 3.0f / 2},
  };
  for (const ProjectionCase& k : cases) {
    SCOPED_TRACE(k.name);
    Uv uv;
    LwoProjectPolygon(k.map, &k.point, 1, &uv);
    EXPECT_NEAR(uv.u, k.u, 1e-5f);
    EXPECT_NEAR(uv.v, k.v, 1e-5f);
  }
}

TEST(LwoProjection, CubicTakesTheAxisNearestThePolygonsNormalAndSeamsDoNotSmear) {
  LwoImageMap cubic;
  cubic.projection = LwoProjection::kCubic;
  const Vec3 top[] = {{0, 1, 0}, {0, 1, 0.5f}, {0.5f, 1, 0.5f}};  // faces y: u from x, v from -z
  Uv uv[3];
  LwoProjectPolygon(cubic, top, 3, uv);
  EXPECT_EQ(uv[2].u, 1.0f);
  EXPECT_EQ(uv[2].v, 0.0f);
  // A quad across -x, where a y cylinder's u goes from 1 back to 0: all its corners stay within
  // half a turn of each other, and a corner on the axis takes the others' mean.
  LwoImageMap cylinder;
  cylinder.projection = LwoProjection::kCylindrical;
  cylinder.axis = 1;
  const Vec3 seam[] = {{-1, 0, -0.1f}, {-1, 0, 0.1f}, {-1, 1, 0.1f}, {0, 1, 0}};
  Uv su[4];
  LwoProjectPolygon(cylinder, seam, 4, su);
  EXPECT_GT(su[0].u, 1.0f);
  EXPECT_NEAR(su[1].u, 1.0f - 0.1f / (2 * kPi), 1e-2f);
  EXPECT_LT(std::fabs(su[0].u - su[2].u), 0.5f);
  EXPECT_NEAR(su[3].u, (su[0].u + su[1].u + su[2].u) / 3, 1e-5f);
}

// ---- Whole files ---------------------------------------------------------------------------

Bytes S0(const std::string& s) {
  Bytes b;
  testing::PutName(b, s);
  return b;
}
Bytes Sub2(const char* id, const Bytes& body) {  // LWO2 sub-chunks are padded to even length
  Bytes b = testing::Sub(id, body);
  if (body.size() % 2) b.push_back(0);
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts)
    b.insert(b.end(), p.begin(), p.end());
  return b;
}
Bytes Floats(std::initializer_list<float> v) {
  Bytes b;
  for (float f : v)
    PutBeF32(b, f);
  return b;
}
Bytes Words(std::initializer_list<uint32_t> v) {
  Bytes b;
  for (uint32_t w : v)
    PutBe16(b, w);
  return b;
}
Bytes Text(const std::string& s) {
  Bytes b;
  PutText(b, s);
  return b;
}

struct Loaded {
  explicit Loaded(const Bytes& bytes) : model(CreateModel({})) {
    result = LoadLightWaveFromMemory(host, *model, "\\m\\a.lwo", bytes, 0);
    auto fault = CheckModelInvariants(*model);
    EXPECT_FALSE(fault) << fault->message;
  }
  const Corner& At(int p, int c) const { return model->polygons[size_t(p)].corners[size_t(c)]; }
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  int result = 0;
};

// A unit square in the z = 0 plane, x and y from 0 to 1.
constexpr Vec3 kSquare[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

TEST(LwoProjection, LwobPlanarImageMapGivesTheSquareItsImageAndCoordinates) {
  testing::LwoFile f;
  f.Srfs({"Tex", "Plain"})
      .Pnts({kSquare[0], kSquare[1], kSquare[2], kSquare[3]})
      .Pols({4, 0, 1, 2, 3, 1, 3, 0, 1, 2, 2})
      .Surf("Tex", {testing::Colr(10, 20, 30), testing::Sub("CTEX", S0("Planar Image Map")),
                    testing::Sub("TFLG", Words({4})), testing::Sub("TSIZ", Floats({2, 2, 2})),
                    testing::Sub("TCTR", Floats({0.5f, 0.5f, 0})),
                    testing::Sub("TIMG", S0("C:\\img\\wall.png"))});
  Loaded l(f.Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.host.textureLoads, (std::vector<std::pair<int32_t, std::string>>{{1, "wall.png"}}));
  EXPECT_EQ(l.model->groups[0].textureSlot, 1);
  EXPECT_EQ(l.model->groups[0].colour, (ColourF{255, 255, 255, 255}));
  EXPECT_EQ(l.model->groups[1].textureSlot, 0);
  ASSERT_EQ(l.model->uvCount, 4);  // the untextured triangle has none
  for (int c = 0; c < 4; ++c) {
    const Vec3& p = kSquare[c];
    const Uv& uv = l.model->uvs[size_t(l.At(0, c).uv)];
    EXPECT_FLOAT_EQ(uv.u, (p.x - 0.5f) / 2 + 0.5f);
    EXPECT_FLOAT_EQ(uv.v, -(p.y - 0.5f) / 2 + 0.5f);
  }
}

// LWO2: the square with an RGB map (VMAP) and the triangle with an RGBA map's VMAD entry; the
// surface names "rgba" through VCOL, so "rgb" stays unused until a file names no map at all.
Bytes ColourFile(bool withVcol) {
  Bytes chunks;
  auto chunk = [&](const char* id, const Bytes& body) {
    PutText(chunks, id);
    PutBe32(chunks, uint32_t(body.size()));
    chunks.insert(chunks.end(), body.begin(), body.end());
    if (body.size() % 2) chunks.push_back(0);
  };
  chunk("TAGS", S0("S"));
  chunk("PNTS", Floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
  chunk("VMAP", Cat({Text("RGB "), Words({3}), S0("rgb"), Words({0}), Floats({1, 0, 0})}));
  chunk("POLS", Cat({Text("FACE"), Words({3, 0, 1, 2, 3, 0, 2, 3})}));
  chunk("PTAG", Cat({Text("SURF"), Words({0, 0, 1, 0})}));
  chunk("VMAD",
        Cat({Text("RGBA"), Words({4}), S0("rgba"), Words({2, 1}), Floats({0, 1, 0, 0.5f})}));
  Bytes surf = Cat({S0("S"), S0(""), Sub2("COLR", Cat({Floats({0, 0, 1}), Words({0})}))});
  if (withVcol)
    surf = Cat({surf, Sub2("VCOL", Cat({Floats({1}), Words({0}), Text("RGBA"), S0("rgba")}))});
  chunk("SURF", surf);
  Bytes b = Text("FORM");
  PutBe32(b, uint32_t(chunks.size() + 4));
  PutText(b, "LWO2");
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}

TEST(LwoProjection, Lwo2ColourMapsColourTheCornersTheyReach) {
  struct Case {
    bool vcol;
    int polygon, corner;
    ColourF expected;
  };
  const ColourF blue{0, 0, 255, 255};
  const Case cases[] = {
      {true, 1, 1, {0, 127.5f, 127.5f, 255}},  // half the RGBA green over the surface's blue
      {true, 0, 0, blue},                      // VCOL names "rgba": the RGB map is not used
      {false, 0, 0, {255, 0, 0, 255}},         // no VCOL: the first map, "rgb", colours all
      {false, 0, 1, blue},                     // a point that map leaves out keeps the surface's
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << k.vcol << " " << k.polygon << " " << k.corner);
    Loaded l(ColourFile(k.vcol));
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(l.model->vertexColoursOn, 1);
    EXPECT_EQ(l.model->colours[size_t(l.At(k.polygon, k.corner).colour)], k.expected);
  }
}

TEST(LwoProjection, SampleCylindricalMapMatchesTheUvMapLightWaveMadeOfIt) {
  const std::string dir = "/usr/share/assimp/models/LWO/LWO2/MappingModes/";
  auto load = [&](const char* name) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(platform::ReadFileBytes(platform::LibraryPath(dir + name), bytes));
    auto l = std::make_unique<Loaded>(bytes);
    EXPECT_EQ(l->result, 1);
    return l;
  };
  const auto projected = load("earth_cylindrical_y.lwo");
  const auto mapped = load("earth_uv_cylindrical_y.lwo");
  ASSERT_EQ(projected->model->polygonCount, mapped->model->polygonCount);
  size_t compared = 0;
  for (int p = 0; p < projected->model->polygonCount; ++p) {
    for (int c = 0; c < projected->model->polygons[size_t(p)].cornerCount; ++c) {
      const Uv a = projected->model->uvs[size_t(projected->At(p, c).uv)];
      const Uv b = mapped->model->uvs[size_t(mapped->At(p, c).uv)];
      // The same place on the image: u may differ by whole turns where a polygon crosses the
      // seam; the pole's corners are placed differently by either.
      const float du = a.u - b.u;
      if (std::fabs(a.v) < 1e-3f || std::fabs(a.v - 1) < 1e-3f) continue;
      EXPECT_NEAR(du, std::round(du), 2e-3f) << p << " " << c;
      EXPECT_NEAR(a.v, b.v, 2e-3f) << p << " " << c;
      ++compared;
    }
  }
  EXPECT_GT(compared, 500u);
}

// The earth seen from the front through a planar z map: the picture holds ocean and land, where
// the map left out (as before) draws the sphere in one grey.
class LwoProjectedPicture : public wz::testing::RenderTest {
 protected:
  void SetUp() override { Start(d3d::BackendChoice::kOpenGL, 64, 64); }
};

TEST_F(LwoProjectedPicture, PlanarEarthShowsOceanAndLandFromTheFront) {
  // Images are looked for from the current directory, which the render command sets to the
  // model's.
  const std::string dir = platform::LibraryPath("/usr/share/assimp/models/LWO/LWO2/MappingModes");
  const std::string before = platform::GetCurrentDirectoryA();
  ASSERT_TRUE(platform::SetCurrentDirectoryA(dir));
  const ModelId id = Lib().Model3_Create();
  Model* m = Lib().Model3_Get(id);
  ASSERT_NE(m, nullptr);
  m->directory.Set(dir);
  m->fileName.Set("earth_planar_z.lwo");
  m->fullPath.Set(dir + "/earth_planar_z.lwo");
  const ModelId loaded = Lib().Model3_Load(id, dir + "/earth_planar_z.lwo");
  platform::SetCurrentDirectoryA(before);
  ASSERT_EQ(loaded, id);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->textureSlotCount, 2);
  ShowEveryGroupTexture(*m);
  ShowInFixedView(Lib(), id, {64, 64, 0, 0, 0, 0});
  Lib().RenderFrame();
  const auto p = Pixels();
  int ocean = 0, land = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint32_t c = At(p, x, y);
      const int r = int(c >> 16 & 0xFF), g = int(c >> 8 & 0xFF), b = int(c & 0xFF);
      if (b > r + 30 && b > g) ++ocean;
      if (r > b + 20 || g > b + 20) ++land;
    }
  }
  EXPECT_GT(ocean, 100);
  EXPECT_GT(land, 50);
}

}  // namespace
}  // namespace wz
