// Shared by the glTF and OBJ writer tests: a small model with a textured square and a translucent
// triangle, its image as a BMP (so the writers convert it), and what `assimp info` (Debian's
// assimp-utils, an independent reader) says about a written file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "model/model.h"
#include "model/normals.h"
#include "platform/d3dx/image_fixtures.h"
#include "platform/file_io.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz::testing {

// 2 x 2 pixels, top row red then green, bottom row blue then white, as a 24-bit BMP.
inline std::vector<uint8_t> QuadrantBmp() {
  test::BmpLayout bmp;
  bmp.width = 2;
  bmp.height = -2;  // top-down
  bmp.pixels = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
  return test::BuildBmp(bmp);
}

// Group 0 "face": the square (0, 0, 0) to (10, 10, 0), its corners from the top-left clockwise
// as the viewer at -z sees them, the image's corners on its corners (top-left (0, 0)), texture
// slot 1 "face.bmp". Group 1 "glass": a red triangle at z = 5 facing the viewer too, alpha 128,
// double-sided. The
// model's file is `folder`\model.lwo, where the image is expected.
inline std::unique_ptr<Model> SquareAndTriangle(const std::string& folder) {
  auto m = CreateModel({});
  const Vec3 positions[] = {{0, 10, 0}, {10, 10, 0}, {10, 0, 0}, {0, 0, 0},
                            {20, 0, 5}, {20, 10, 5}, {30, 0, 5}};
  GrowPositionPools(*m, 7);
  std::copy(std::begin(positions), std::end(positions), m->positions.begin());
  m->positionCount = 7;
  m->uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  m->uvCount = 4;
  m->polygons.resize(2);
  m->polygons[0].cornerCount = 4;
  for (int c = 0; c < 4; ++c)
    m->polygons[0].corners[size_t(c)] = {c, 0, 0, c};
  m->polygons[1].cornerCount = 3;
  for (int c = 0; c < 3; ++c)
    m->polygons[1].corners[size_t(c)] = {4 + c, 0, 0, 0};
  m->polygons[1].group = 1;
  m->polygonCount = 2;
  m->groups.resize(2, NewGroup());
  m->groups[0].name.Set("face");
  m->groups[0].colour = {255, 255, 255, 255};
  m->groups[0].textureSlot = 1;
  m->groups[1].name.Set("glass");
  m->groups[1].colour = {255, 0, 0, 128};
  m->groups[1].doubleSided = 1;
  m->groupCount = 2;
  m->textureSlots.resize(2);
  m->textureSlots[1].state = 1;
  m->textureSlots[1].fileName.Set("face.bmp");
  m->textureSlotCount = 2;
  m->fileName.Set(platform::LibraryPath(folder) + "\\model.lwo");
  DeriveNormals(*m);
  return m;
}

struct AssimpInfo {
  int faces = -1;
  Vec3 lo, hi;
  std::string output;
};

// `assimp info` of a file: its face count and bounding box ("Faces:", "Minimum point (x y z)",
// "Maximum point (x y z)").
inline AssimpInfo RunAssimpInfo(const std::string& hostPath) {
  AssimpInfo info;
  info.output = RunProgram("assimp info '" + hostPath + "'").output;
  const std::string& out = info.output;
  if (size_t at = out.find("Faces:"); at != std::string::npos)
    std::sscanf(out.c_str() + at, "Faces: %d", &info.faces);
  auto point = [&](const char* label, Vec3& v) {
    size_t at = out.find(label);
    if (at == std::string::npos) return;
    at = out.find('(', at);
    if (at != std::string::npos) std::sscanf(out.c_str() + at, "(%f %f %f)", &v.x, &v.y, &v.z);
  };
  point("Minimum point", info.lo);
  point("Maximum point", info.hi);
  return info;
}

}  // namespace wz::testing
