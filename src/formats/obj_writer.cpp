// Wavefront OBJ writer: NAME.obj with its material library NAME.mtl and the images beside it.
// The OBJ holds the positions (in metres, z negated: OBJ is right-handed with y up), the texture
// coordinates (v becomes 1 - v: OBJ's v runs upward), the normals drawing uses (each distinct
// value once), and the faces of three or four corners in polygon order, each in reverse corner
// order so the model faces the way it did, with "g" and "usemtl" lines where the group changes.
// Polygons of one or two corners are left out. The library holds one material per group: Kd (group
// colour times model colour), d (alpha) and map_Kd (the image of its texture slot). Numbers are
// written in the shortest form that reads back to the same float. The images and the library are
// written before the OBJ, each through a temporary file and a rename.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/formats.h"
#include "formats/model_export.h"
#include "model/model_invariants.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz {
namespace {

void Number(std::string& out, float v) {
  if (!std::isfinite(v)) v = 0.0f;
  char buffer[32];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  out.append(buffer, end);
}

void Index(std::string& out, int64_t v) {
  char buffer[24];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  out.append(buffer, end);
}

struct Vec3Hash {
  size_t operator()(const Vec3& v) const {
    uint32_t b[3];
    std::memcpy(b, &v, sizeof b);
    uint64_t h = (uint64_t(b[0]) << 32 | b[1]) * 0x9E3779B97F4A7C15ull ^ b[2];
    return size_t(h ^ (h >> 29));
  }
};

std::string FileNameUtf8(const std::string& libraryPath) {
  return platform::Cp932ToUtf8(libraryPath.substr(exchange::FolderOf(libraryPath).size()));
}

}  // namespace

namespace exchange {

int BuildObj(ModelHost& host, const Model& model, const std::string& path,
             const ExportImages& images, std::string& obj, std::string& mtl) {
  obj.clear();
  mtl.clear();
  if (auto fault = CheckModelInvariants(model)) {
    host.Refuse(path, "the model is not sound: " + fault->message);
    return 0;
  }
  if (!exchange::HasFaces(model)) {
    host.Refuse(path, "the model has no polygon of 3 or 4 corners to write");
    return 0;
  }
  try {
    const std::string library = exchange::WithoutExtension(path) + ".mtl";
    obj = "# wz-convert\nmtllib " + FileNameUtf8(library) + "\n";
    obj.reserve(size_t(model.positionCount) * 30 + size_t(model.polygonCount) * 40);
    // A value that is not a finite number has no OBJ spelling: refused rather than written as 0.
    // (The normals written are those drawing uses, always finite.)
    const auto refuse = [&](const char* what) {
      obj.clear();
      host.Refuse(path, std::string("the model has a ") + what + " that is not a finite number");
      return 0;
    };
    for (int32_t i = 0; i < model.positionCount; ++i) {
      const Vec3 p = exchange::ToExchange(model.positions[size_t(i)]);
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
        return refuse("position");
      }
      obj += "v ";
      Number(obj, p.x);
      obj += ' ';
      Number(obj, p.y);
      obj += ' ';
      Number(obj, p.z);
      obj += '\n';
    }
    const bool uvs = model.uvCount > 0;
    for (int32_t i = 0; i < model.uvCount; ++i) {
      const Uv& uv = model.uvs[size_t(i)];
      if (!std::isfinite(uv.u) || !std::isfinite(1.0f - uv.v)) return refuse("texture coordinate");
      obj += "vt ";
      Number(obj, uv.u);
      obj += ' ';
      Number(obj, 1.0f - uv.v);
      obj += '\n';
    }

    // Corner normals, each distinct value once, numbered in order of first use.
    std::unordered_map<Vec3, int64_t, Vec3Hash> normalIndex;
    std::vector<int64_t> cornerNormal;  // per corner of the used faces, in polygon order
    cornerNormal.reserve(size_t(model.polygonCount) * 4);
    for (int32_t p = 0; p < model.polygonCount; ++p) {
      const Polygon& poly = model.polygons[size_t(p)];
      if (poly.cornerCount < 3) continue;
      for (int c = 0; c < poly.cornerCount; ++c) {
        const Vec3 n = exchange::DirectionToExchange(exchange::CornerNormal(model, poly, c));
        auto [it, added] = normalIndex.emplace(n, int64_t(normalIndex.size()) + 1);
        if (added) {
          obj += "vn ";
          Number(obj, n.x);
          obj += ' ';
          Number(obj, n.y);
          obj += ' ';
          Number(obj, n.z);
          obj += '\n';
        }
        cornerNormal.push_back(it->second);
      }
    }

    // Faces in polygon order, with "g" and "usemtl" wherever the group changes.
    std::vector<std::string> materialOf(size_t(model.groupCount));
    std::vector<std::string> names;
    size_t at = 0;
    int32_t current = -1;
    for (int32_t p = 0; p < model.polygonCount; ++p) {
      const Polygon& poly = model.polygons[size_t(p)];
      if (poly.cornerCount < 3) continue;
      if (poly.group != current) {
        current = poly.group;
        std::string& name = materialOf[size_t(current)];
        if (name.empty()) name = exchange::MaterialName(model.groups[size_t(current)], names);
        obj += "g " + name + "\nusemtl " + name + "\n";
      }
      obj += 'f';
      for (int c = poly.cornerCount - 1; c >= 0; --c) {
        const Corner& corner = poly.corners[size_t(c)];
        obj += ' ';
        Index(obj, int64_t(corner.position) + 1);
        obj += '/';
        if (uvs) Index(obj, int64_t(corner.uv) + 1);
        obj += '/';
        Index(obj, cornerNormal[at + size_t(c)]);
      }
      at += poly.cornerCount;
      obj += '\n';
    }

    // One material per group with faces, in group order.
    mtl = "# wz-convert\n";
    for (int32_t g = 0; g < model.groupCount; ++g) {
      const std::string& name = materialOf[size_t(g)];
      if (name.empty()) continue;
      const Group& group = model.groups[size_t(g)];
      const exchange::MaterialColour colour = exchange::GroupColour(model, group);
      mtl += "\nnewmtl " + name + "\nKd ";
      Number(mtl, colour.rgba[0]);
      mtl += ' ';
      Number(mtl, colour.rgba[1]);
      mtl += ' ';
      Number(mtl, colour.rgba[2]);
      mtl += "\nd ";
      Number(mtl, colour.rgba[3]);
      mtl += '\n';
      const int32_t slot = exchange::GroupTextureSlot(model, group);
      if (slot > 0 && size_t(slot) < images.imageOfSlot.size() &&
          images.imageOfSlot[size_t(slot)] >= 0) {
        mtl += "map_Kd " + images.images[size_t(images.imageOfSlot[size_t(slot)])].name + "\n";
      }
    }
    return 1;
  } catch (const std::bad_alloc&) {
    obj.clear();
    mtl.clear();
    host.Refuse(path, "out of memory");
    return 0;
  }
}

}  // namespace exchange

int SaveObj(ModelHost& host, const Model& model, const std::string& path) {
  // The images are named first and written once the OBJ is known to be sound; whatever fails,
  // the files this write claimed go again.
  std::string obj, mtl;
  exchange::ExportImages images = exchange::GatherImages(host, model, path);
  struct TakeBack {
    exchange::ExportImages& images;
    bool done = false;
    ~TakeBack() {
      if (!done) exchange::TakeBackImages(images);
    }
  } takeBack{images};
  if (!exchange::NameImagesBeside(host, path, images)) return 0;
  if (!exchange::BuildObj(host, model, path, images, obj, mtl)) return 0;
  if (!exchange::WriteImagesBeside(host, path, images)) return 0;
  const auto bytes = [](const std::string& s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  if (!platform::WriteFileAtomically(exchange::WithoutExtension(path) + ".mtl", bytes(mtl))) {
    host.Refuse(path, "the material library cannot be written");
    return 0;
  }
  if (!platform::WriteFileAtomically(path, bytes(obj))) {
    host.Refuse(path, "cannot be written");
    return 0;
  }
  takeBack.done = true;
  return 1;
}

}  // namespace wz
