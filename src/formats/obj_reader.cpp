// Wavefront OBJ reader: the document is parsed by tinyobjloader (Debian's libtinyobjloader-dev),
// with the text of its material libraries; this file turns the result into a model and checks every
// index before the model is touched.
// Axes and scale: OBJ is right-handed with y up and no fixed unit; the library is left-handed
// with y up. Positions become (x, y, -z) × 10 (OBJ files are read as metres, a library unit is a
// tenth, as for LightWave files), normals (x, y, -z), and every face's corner order is reversed,
// so the model faces the way it did. OBJ's v runs upward while the library's (0, 0) is the
// image's top-left, so v becomes 1 - v.
// Faces of three or four corners are kept as they are, larger ones become fans of triangles;
// lines and points are not read. Each material that faces use becomes a group (in the order of
// the material library; faces without a material share a group "Default"): Kd as the colour, d
// as alpha, map_Kd as its texture slot. A group whose faces all have smoothing off and no normals
// is flat-shaded. File normals are kept when every face corner has one.
// tinyobjloader is compiled here from its header rather than linked as Debian's shared library:
// one more shared C++ library would cost every program start-up time.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "formats/formats.h"
#include "model/normals.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz {
namespace {

constexpr float kScale = 10.0f;
constexpr size_t kMaxGroups = kMaxGroupTracks;
constexpr uint64_t kMemoryBase = uint64_t{256} << 20;
constexpr uint64_t kMemoryPerInputByte = 16;

std::string Text(const char* format, auto... args) {
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

// Names in OBJ files are UTF-8 as today's tools write them; older Japanese tools wrote code page
// 932, which the library keeps as it is.
std::string LibraryText(const std::string& text) {
  return platform::IsValidUtf8(text) ? platform::Utf8ToCp932(text) : text;
}

// A texture name of a material as a library path: relative paths keep their folders (resolved
// beside the model), absolute ones are cut to the file name, since they name another machine.
std::string TexturePath(const std::string& name) {
  if (name.empty()) return {};
  const bool absolute = name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':');
  std::string cut = name;
  if (absolute) {
    const size_t slash = name.find_last_of("\\/");
    cut = name.substr(slash + 1);
  }
  std::replace(cut.begin(), cut.end(), '/', '\\');
  return LibraryText(cut);
}

float Unit(float v) {
  return v > 0.0f ? std::min(v, 1.0f) : 0.0f;
}

// The material of face f as an index into `materials`, or materials.size() for none. A material
// without a name (what "usemtl" alone selects, and what the parser adds for an empty library)
// counts as none.
size_t MaterialKey(const tinyobj::mesh_t& mesh, size_t f,
                   const std::vector<tinyobj::material_t>& materials) {
  const int m = f < mesh.material_ids.size() ? mesh.material_ids[f] : -1;
  if (m < 0 || size_t(m) >= materials.size() || materials[size_t(m)].name.empty())
    return materials.size();
  return size_t(m);
}

struct GroupPlan {
  int material = -1;  // -1: faces without a material
  bool flat = true;   // every face has smoothing off
  int32_t textureSlot = 0;
};

struct Refusal {
  std::string reason;
  explicit operator bool() const { return !reason.empty(); }
};

Refusal Build(const tinyobj::ObjReader& reader, ModelHost& host, const std::string& path,
              Model& model, size_t inputSize) {
  const tinyobj::attrib_t& attrib = reader.GetAttrib();
  const std::vector<tinyobj::shape_t>& shapes = reader.GetShapes();
  const std::vector<tinyobj::material_t>& materials = reader.GetMaterials();
  const size_t positionCount = attrib.vertices.size() / 3;
  const size_t normalCount = attrib.normals.size() / 3;
  const size_t texcoordCount = attrib.texcoords.size() / 2;
  if (positionCount > size_t{INT32_MAX} || normalCount > size_t{INT32_MAX} ||
      texcoordCount >= size_t{INT32_MAX}) {
    return {"more vertices than a model can count"};
  }

  // Check every face and plan the groups: materials in library order, "Default" last.
  std::vector<int32_t> groupOfMaterial(materials.size() + 1, -1);  // the last: no material
  size_t polygonCount = 0, missingNormals = 0, missingUvs = 0, faces = 0;
  for (const tinyobj::shape_t& shape : shapes) {
    const tinyobj::mesh_t& mesh = shape.mesh;
    size_t at = 0;
    for (size_t f = 0; f < mesh.num_face_vertices.size(); ++f) {
      const size_t n = mesh.num_face_vertices[f];
      if (at + n > mesh.indices.size()) return {"a face runs past its index list"};
      for (size_t c = 0; c < n; ++c) {
        const tinyobj::index_t& i = mesh.indices[at + c];
        if (i.vertex_index < 0 || size_t(i.vertex_index) >= positionCount) {
          return {
              Text("face %zu names vertex %d of %zu", faces, i.vertex_index + 1, positionCount)};
        }
        if (i.normal_index >= 0 && size_t(i.normal_index) >= normalCount) {
          return {Text("face %zu names normal %d of %zu", faces, i.normal_index + 1, normalCount)};
        }
        if (i.texcoord_index >= 0 && size_t(i.texcoord_index) >= texcoordCount) {
          return {Text("face %zu names texture coordinate %d of %zu", faces, i.texcoord_index + 1,
                       texcoordCount)};
        }
        if (n >= 3) {
          missingNormals += i.normal_index < 0;
          missingUvs += i.texcoord_index < 0;
        }
      }
      at += n;
      ++faces;
      if (n < 3) continue;
      polygonCount += n > kMaxCorners ? n - 2 : 1;
      const size_t key = MaterialKey(mesh, f, materials);
      groupOfMaterial[key] = 0;  // used; numbered below
    }
  }
  if (polygonCount == 0) return {"no faces of three or more corners"};
  if (polygonCount > size_t{INT32_MAX}) return {"more polygons than a model can count"};

  std::vector<GroupPlan> groups;
  std::vector<std::string> textures;
  for (size_t k = 0; k < groupOfMaterial.size(); ++k) {
    if (groupOfMaterial[k] < 0) continue;
    if (groups.size() == kMaxGroups) return {"more than 256 materials"};
    groupOfMaterial[k] = int32_t(groups.size());
    GroupPlan g;
    g.material = k < materials.size() ? int(k) : -1;
    if (g.material >= 0) {
      const std::string texture = TexturePath(materials[k].diffuse_texname);
      if (!texture.empty()) {
        auto slot = std::find(textures.begin(), textures.end(), texture);
        if (slot == textures.end()) {
          textures.push_back(texture);
          slot = textures.end() - 1;
        }
        g.textureSlot = int32_t(slot - textures.begin()) + 1;
      }
    }
    groups.push_back(g);
  }
  if (textures.size() + 1 >= size_t{INT16_MAX}) return {"more images than a model can hold"};

  const bool useNormals = normalCount > 0 && missingNormals == 0;
  // Corners without texture coordinates share one extra entry (0, 0) at the end of the pool.
  const size_t uvCount = texcoordCount + (missingUvs > 0 && texcoordCount > 0 ? 1 : 0);
  const uint64_t need = uint64_t{polygonCount} * sizeof(Polygon) +
                        uint64_t{positionCount} * (3 * sizeof(Vec3) + sizeof(VertexAttr)) +
                        uint64_t{normalCount} * sizeof(Vec3) + uint64_t{uvCount} * sizeof(Uv);
  if (need > kMemoryBase + kMemoryPerInputByte * inputSize) {
    return {Text("the model would need %llu MB", (unsigned long long)(need >> 20))};
  }

  // The document is sound: grow every pool first, then fill the model.
  GrowPositionPools(model, positionCount);
  if (useNormals) GrowTo(model.normals, normalCount);
  GrowTo(model.uvs, uvCount);
  GrowTo(model.polygons, polygonCount);
  GrowTo(model.groups, groups.size());
  GrowTo(model.textureSlots, textures.size() + 1);
  model.fileName.Set(path);

  for (size_t i = 0; i < positionCount; ++i) {
    const float* v = &attrib.vertices[3 * i];
    model.positions[i] = {v[0] * kScale, v[1] * kScale, -v[2] * kScale};
  }
  model.positionCount = int32_t(positionCount);
  model.normalCount = 0;
  if (useNormals) {
    for (size_t i = 0; i < normalCount; ++i) {
      const float* n = &attrib.normals[3 * i];
      model.normals[i] = {n[0], n[1], -n[2]};
    }
    model.normalCount = int32_t(normalCount);
  }
  for (size_t i = 0; i < texcoordCount; ++i)
    model.uvs[i] = {attrib.texcoords[2 * i], 1.0f - attrib.texcoords[2 * i + 1]};
  if (uvCount > texcoordCount) model.uvs[texcoordCount] = {0.0f, 0.0f};
  model.uvCount = int32_t(uvCount);

  size_t out = 0;
  for (const tinyobj::shape_t& shape : shapes) {
    const tinyobj::mesh_t& mesh = shape.mesh;
    size_t at = 0;
    for (size_t f = 0; f < mesh.num_face_vertices.size(); ++f) {
      const size_t n = mesh.num_face_vertices[f];
      const tinyobj::index_t* face = &mesh.indices[at];
      at += n;
      if (n < 3) continue;
      const size_t key = MaterialKey(mesh, f, materials);
      const int32_t group = groupOfMaterial[key];
      if (f < mesh.smoothing_group_ids.size() && mesh.smoothing_group_ids[f] != 0)
        groups[size_t(group)].flat = false;
      // Corners in reverse order; larger faces as fans around the (reversed) first corner.
      auto corner = [&](size_t r) {
        const tinyobj::index_t& i = face[n - 1 - r];
        Corner c;
        c.position = i.vertex_index;
        c.normal = useNormals ? i.normal_index : 0;
        c.uv = uvCount == 0 ? 0 : i.texcoord_index >= 0 ? i.texcoord_index : int32_t(texcoordCount);
        c.colour = 0;
        return c;
      };
      const size_t pieces = n > kMaxCorners ? n - 2 : 1;
      for (size_t k = 1; k <= pieces; ++k) {
        Polygon& p = model.polygons[out++];
        p = Polygon{};
        p.group = group;
        if (n > kMaxCorners) {
          p.cornerCount = 3;
          p.corners[0] = corner(0), p.corners[1] = corner(k), p.corners[2] = corner(k + 1);
        } else {
          p.cornerCount = uint8_t(n);
          for (size_t c = 0; c < n; ++c)
            p.corners[c] = corner(c);
        }
      }
    }
  }
  model.polygonCount = int32_t(polygonCount);
  model.colourCount = 0;

  for (size_t g = 0; g < groups.size(); ++g) {
    Group& group = model.groups[g];
    group = NewGroup();
    const GroupPlan& plan = groups[g];
    if (plan.material >= 0) {
      const tinyobj::material_t& mat = materials[size_t(plan.material)];
      group.name.Set(LibraryText(mat.name));
      group.colour = {Unit(mat.diffuse[0]) * 255.0f, Unit(mat.diffuse[1]) * 255.0f,
                      Unit(mat.diffuse[2]) * 255.0f, Unit(mat.dissolve) * 255.0f};
    } else {
      group.name.Set("Default");
    }
    group.textureSlot = plan.textureSlot;
    group.shading = plan.flat && !useNormals ? 3 : 4;
  }
  model.groupCount = int32_t(groups.size());

  for (size_t s = 1; s <= textures.size(); ++s) {
    model.textureSlots[s] = TextureSlot{};
    model.textureSlots[s].state = 1;
    model.textureSlots[s].fileName.Set(textures[s - 1]);
  }
  model.textureSlotCount = int16_t(textures.size() + 1);
  model.colour = {255.0f, 255.0f, 255.0f, 255.0f};

  DeriveNormals(model);
  for (size_t s = 1; s <= textures.size(); ++s)
    host.LoadModelTexture(model, int32_t(s), textures[s - 1]);
  model.shadingChanged = 1;
  return {};
}

// The names after "mtllib" on each such line, in order.
std::vector<std::string> MaterialLibraries(std::string_view text) {
  std::vector<std::string> names;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    if (line.substr(0, 7) != "mtllib " && line.substr(0, 7) != "mtllib\t") continue;
    line.remove_prefix(7);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    if (!line.empty()) names.emplace_back(line);
  }
  return names;
}

}  // namespace

int LoadObjFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, std::string_view materialText,
                      int32_t /*version*/) {
  try {
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!reader.ParseFromString(text, std::string(materialText), config)) {
      std::string error = reader.Error();
      if (size_t eol = error.find('\n'); eol != std::string::npos) error.resize(eol);
      host.Refuse(path, error.empty() ? "not an OBJ document" : error);
      return 0;
    }
    if (Refusal r = Build(reader, host, path, model, bytes.size() + materialText.size())) {
      host.Refuse(path, r.reason);
      return 0;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    host.Refuse(path, "out of memory");
    return 0;
  }
}

int LoadObj(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be read");
    return 0;
  }
  // The material libraries named by the document, beside it; one that is missing is logged and
  // its materials' faces fall back to the default group.
  const size_t slash = path.rfind('\\');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string materials;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (const std::string& name : MaterialLibraries(text)) {
    std::string library = LibraryText(name);
    std::replace(library.begin(), library.end(), '/', '\\');
    std::vector<uint8_t> mtl;
    if (!platform::ReadFileBytes(dir + library, mtl, bytes.size() + (size_t{64} << 20))) {
      host.Log(path + " : material library " + library + " cannot be read");
      continue;
    }
    materials.append(reinterpret_cast<const char*>(mtl.data()), mtl.size());
    materials.push_back('\n');
  }
  return LoadObjFromMemory(host, model, path, bytes, materials, version);
}

}  // namespace wz
