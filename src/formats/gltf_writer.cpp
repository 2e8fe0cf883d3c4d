// glTF 2.0 writer: a .gltf document with its buffer in a .bin file and its images beside it, or
// one binary .glb file holding all three. The JSON document is built with nlohmann::json
// (Debian's nlohmann-json3-dev); the GLB container (a 12-byte header and two chunks) and the
// buffer layout are written here.
// Content: one mesh with one primitive per group that has faces (indexed triangles, polygons of
// four corners as two triangles; polygons of one or two corners are left out), POSITION, NORMAL,
// TEXCOORD_0 for textured groups, COLOR_0 when the model draws corner colours; one material per
// primitive (base colour from the group and model colours, BLEND when alpha is below 1, double-
// sided from the group's switch, the base colour texture from its texture slot).
// Frame: the library is left-handed with y up, glTF right-handed with y up and +z toward the
// viewer: z is negated and every triangle's corner order reversed, so the model faces the way it
// did; positions are in metres (× 0.1, see model_export.h). Texture coordinates are copied: glTF,
// like the library, has (0, 0) at the image's top-left.
// Every file goes through a temporary file and a rename; the document is written last, so it
// never names a buffer or image that is not there.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

#include "formats/formats.h"
#include "formats/model_export.h"
#include "model/model_invariants.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace wz {
namespace {

using exchange::ExportImages;
using nlohmann::json;

constexpr int kFloat = 5126;
constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

// One vertex of a primitive: the model's pool indices it was made from. The normal key is the
// normal-pool index, or the polygon's index (flat groups), or 0 when the position decides it.
struct VertexKey {
  int32_t position, normal, uv, colour;
  bool operator==(const VertexKey&) const = default;
};

// Room for n entries that are then written in order: the pages of a large array come as huge
// pages where the kernel allows, one fault per 2 MB instead of one per 4 KB (a million-triangle
// model writes hundreds of megabytes of such arrays).
template <typename T>
void ReserveWhole(std::vector<T>& v, size_t n) {
  v.reserve(n);
  platform::AdviseWholeWrite(v.data(), v.capacity() * sizeof(T), v.capacity() * sizeof(T));
}

// Vertex numbers by their keys, for one primitive at a time. The vertices of a position are
// chained from that position, so a lookup reads the few vertices made at the corner's position
// (one, in most models) where a table over all corners would miss the cache at every corner. A
// position shared by very many vertices (the hub of a flat-shaded fan) takes its further
// vertices into a hash map, so that no chain grows long.
class VertexTable {
 public:
  // Ready for a primitive of at most `corners` vertices over a pool of `positions`.
  void Reset(size_t positions, size_t corners) {
    for (const VertexKey& k : keys_) {
      first_[size_t(k.position)] = kEmpty;
      chained_[size_t(k.position)] = 0;
    }
    if (first_.size() < positions) {
      first_.resize(positions, kEmpty);
      chained_.resize(positions, 0);
    }
    keys_.clear();
    chain_.clear();
    overflow_.clear();
    ReserveWhole(keys_, corners);
    ReserveWhole(chain_, corners);
  }
  // The vertex number of `key`, or `next` (then recorded) when it is new; `next` counts the
  // vertices recorded so far.
  uint32_t Find(const VertexKey& key, uint32_t next, bool& added) {
    const size_t position = size_t(key.position);
    added = false;
    for (uint32_t v = first_[position]; v != kEmpty; v = chain_[v]) {
      if (keys_[v] == key) return v;
    }
    if (chained_[position] == kLongestChain) {
      const auto [at, inserted] = overflow_.try_emplace(key, next);
      if (!inserted) return at->second;
      chain_.push_back(kEmpty);
    } else {
      chain_.push_back(first_[position]);
      first_[position] = next;
      ++chained_[position];
    }
    keys_.push_back(key);
    added = true;
    return next;
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr uint8_t kLongestChain = 8;
  struct Hash {
    size_t operator()(const VertexKey& k) const {
      uint64_t h = uint64_t(uint32_t(k.position)) * 0x9E3779B97F4A7C15ull;
      h ^= (uint64_t(uint32_t(k.normal)) << 32 | uint32_t(k.uv)) * 0xC2B2AE3D27D4EB4Full;
      h ^= uint64_t(uint32_t(k.colour)) * 0x165667B19E3779F9ull;
      return size_t(h ^ (h >> 31));
    }
  };
  std::vector<uint32_t> first_;   // per position: its last vertex, or kEmpty
  std::vector<uint8_t> chained_;  // per position: the vertices in its chain
  std::vector<uint32_t> chain_;   // per vertex: the position's vertex before it
  std::vector<VertexKey> keys_;   // per vertex
  std::unordered_map<VertexKey, uint32_t, Hash> overflow_;
};

void Append(std::vector<uint8_t>& bin, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  bin.insert(bin.end(), p, p + n);
  bin.resize((bin.size() + 3) & ~size_t{3}, 0);  // every view starts on a 4-byte boundary
}

// Adds a buffer view and an accessor over `count` elements of `type` just appended to `bin`.
int AddAccessor(json& doc, std::vector<uint8_t>& bin, const void* data, size_t bytes, size_t count,
                int componentType, const char* type, int target) {
  const size_t offset = bin.size();
  Append(bin, data, bytes);
  json view = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}};
  if (target) view["target"] = target;
  doc["bufferViews"].push_back(std::move(view));
  json accessor = {{"bufferView", doc["bufferViews"].size() - 1},
                   {"componentType", componentType},
                   {"count", count},
                   {"type", type}};
  doc["accessors"].push_back(std::move(accessor));
  return int(doc["accessors"].size() - 1);
}

// A file name as a URI reference: every byte outside the unreserved set is percent-encoded.
std::string UriOf(const std::string& utf8) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(char(c));
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

struct Primitive {
  std::vector<float> positions, normals, uvs, colours;
  std::vector<uint32_t> indices;
};

// The primitive of group g: its faces as triangles, vertices shared where every attribute is.
void BuildPrimitive(const Model& model, int32_t g, bool textured, bool colours,
                    const std::vector<int32_t>& polygonsOfGroup, VertexTable& table,
                    Primitive& out) {
  const bool flat = model.groups[size_t(g)].shading == 3;
  size_t corners = 0;
  for (int32_t p : polygonsOfGroup)
    corners += model.polygons[size_t(p)].cornerCount;
  table.Reset(size_t(model.positionCount), corners);
  out.positions.clear(), out.normals.clear(), out.uvs.clear(), out.colours.clear();
  out.indices.clear();
  ReserveWhole(out.indices, corners * 3 / 2 + 3);
  ReserveWhole(out.positions, corners * 3);
  ReserveWhole(out.normals, corners * 3);
  if (textured) ReserveWhole(out.uvs, corners * 2);
  if (colours) ReserveWhole(out.colours, corners * 4);
  uint32_t next = 0;
  for (int32_t p : polygonsOfGroup) {
    const Polygon& poly = model.polygons[size_t(p)];
    uint32_t vertex[kMaxCorners];
    for (int c = 0; c < poly.cornerCount; ++c) {
      const Corner& corner = poly.corners[size_t(c)];
      VertexKey key{corner.position,
                    flat                    ? p
                    : model.normalCount > 0 ? corner.normal
                                            : 0,
                    textured ? corner.uv : 0, colours ? corner.colour : 0};
      bool added = false;
      vertex[c] = table.Find(key, next, added);
      if (!added) continue;
      ++next;
      const Vec3 position = exchange::ToExchange(model.positions[size_t(corner.position)]);
      const Vec3 normal = exchange::DirectionToExchange(exchange::CornerNormal(model, poly, c));
      out.positions.insert(out.positions.end(), {position.x, position.y, position.z});
      out.normals.insert(out.normals.end(), {normal.x, normal.y, normal.z});
      if (textured) {
        const Uv uv = model.uvCount > 0 ? model.uvs[size_t(corner.uv)] : Uv{};
        out.uvs.insert(out.uvs.end(), {uv.u, uv.v});
      }
      if (colours) {
        const exchange::MaterialColour k = exchange::CornerColour(model, corner);
        out.colours.insert(out.colours.end(), k.rgba, k.rgba + 4);
      }
    }
    // Fan (0, k, k + 1) with the corner order reversed for the right-handed frame.
    for (int k = 1; k + 1 < poly.cornerCount; ++k)
      out.indices.insert(out.indices.end(), {vertex[0], vertex[k + 1], vertex[k]});
  }
}

}  // namespace

namespace exchange {

int BuildGltf(ModelHost& host, const Model& model, const std::string& path, bool binary,
              const ExportImages& images, std::vector<uint8_t>& document,
              std::vector<uint8_t>& buffer) {
  document.clear();
  buffer.clear();
  if (auto fault = CheckModelInvariants(model)) {
    host.Refuse(path, "the model is not sound: " + fault->message);
    return 0;
  }
  try {
    std::vector<std::vector<int32_t>> polygonsOfGroup(size_t(model.groupCount));
    for (int32_t p = 0; p < model.polygonCount; ++p) {
      const Polygon& poly = model.polygons[size_t(p)];
      if (poly.cornerCount >= 3) polygonsOfGroup[size_t(poly.group)].push_back(p);
    }
    const bool colours = exchange::UsesCornerColours(model);

    json doc = {{"asset", {{"version", "2.0"}, {"generator", "wz-convert"}}},
                {"scene", 0},
                {"scenes", json::array({{{"nodes", {0}}}})},
                {"bufferViews", json::array()},
                {"accessors", json::array()},
                {"materials", json::array()}};
    json primitives = json::array();
    // The buffer holds at most every corner as a vertex of every attribute, and the indices.
    size_t corners = 0;
    for (int32_t p = 0; p < model.polygonCount; ++p)
      corners += model.polygons[size_t(p)].cornerCount;
    ReserveWhole(buffer, corners * (12 + 12 + 8 + (colours ? 16 : 0) + 8) +
                             64 * size_t(model.groupCount));
    Primitive prim;  // reused, so its arrays are allocated once
    std::vector<uint16_t> shorts;
    std::vector<int> textureOfImage(images.images.size(), -1);
    json textures = json::array();
    std::vector<std::string> names;
    VertexTable table;
    for (int32_t g = 0; g < model.groupCount; ++g) {
      if (polygonsOfGroup[size_t(g)].empty()) continue;
      const Group& group = model.groups[size_t(g)];
      const int32_t slot = exchange::GroupTextureSlot(model, group);
      const int image = slot > 0 && size_t(slot) < images.imageOfSlot.size()
                            ? images.imageOfSlot[size_t(slot)]
                            : -1;
      BuildPrimitive(model, g, image >= 0, colours, polygonsOfGroup[size_t(g)], table, prim);
      const size_t vertices = prim.positions.size() / 3;

      float lo[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                     std::numeric_limits<float>::max()};
      float hi[3] = {-lo[0], -lo[1], -lo[2]};
      for (size_t v = 0; v < vertices; ++v) {
        for (int a = 0; a < 3; ++a) {
          // The bounds glTF requires are JSON numbers: a position that is not one has no place.
          if (!std::isfinite(prim.positions[v * 3 + size_t(a)])) {
            host.Refuse(path, "the model has a position that is not a finite number");
            return 0;
          }
          lo[a] = std::min(lo[a], prim.positions[v * 3 + size_t(a)]);
          hi[a] = std::max(hi[a], prim.positions[v * 3 + size_t(a)]);
        }
      }
      json attributes;
      const int position =
          AddAccessor(doc, buffer, prim.positions.data(), prim.positions.size() * 4, vertices,
                      kFloat, "VEC3", kArrayBuffer);
      doc["accessors"][size_t(position)]["min"] = {lo[0], lo[1], lo[2]};
      doc["accessors"][size_t(position)]["max"] = {hi[0], hi[1], hi[2]};
      attributes["POSITION"] = position;
      attributes["NORMAL"] = AddAccessor(doc, buffer, prim.normals.data(), prim.normals.size() * 4,
                                         vertices, kFloat, "VEC3", kArrayBuffer);
      if (image >= 0) {
        attributes["TEXCOORD_0"] = AddAccessor(doc, buffer, prim.uvs.data(), prim.uvs.size() * 4,
                                               vertices, kFloat, "VEC2", kArrayBuffer);
      }
      if (colours) {
        attributes["COLOR_0"] =
            AddAccessor(doc, buffer, prim.colours.data(), prim.colours.size() * 4, vertices, kFloat,
                        "VEC4", kArrayBuffer);
      }
      int indices;
      // 16-bit indices when they fit: the largest value of a type is not allowed as an index.
      if (vertices < 0xFFFF) {
        shorts.assign(prim.indices.begin(), prim.indices.end());
        indices = AddAccessor(doc, buffer, shorts.data(), shorts.size() * 2, shorts.size(),
                              kUnsignedShort, "SCALAR", kElementArrayBuffer);
      } else {
        indices = AddAccessor(doc, buffer, prim.indices.data(), prim.indices.size() * 4,
                              prim.indices.size(), kUnsignedInt, "SCALAR", kElementArrayBuffer);
      }

      const exchange::MaterialColour colour = exchange::GroupColour(model, group);
      json pbr = {
          {"baseColorFactor", {colour.rgba[0], colour.rgba[1], colour.rgba[2], colour.rgba[3]}},
          {"metallicFactor", 0.0},
          {"roughnessFactor", 1.0}};
      if (image >= 0) {
        if (textureOfImage[size_t(image)] < 0) {
          textureOfImage[size_t(image)] = int(textures.size());
          textures.push_back({{"source", image}, {"sampler", 0}});
        }
        pbr["baseColorTexture"] = {{"index", textureOfImage[size_t(image)]}};
      }
      bool translucent = colour.rgba[3] < 1.0f;
      if (colours) {
        for (size_t v = 3; v < prim.colours.size(); v += 4)
          translucent = translucent || prim.colours[v] < 1.0f;
      }
      json material = {{"name", exchange::MaterialName(group, names)},
                       {"pbrMetallicRoughness", std::move(pbr)}};
      if (translucent) material["alphaMode"] = "BLEND";
      if (group.doubleSided == 1) material["doubleSided"] = true;
      doc["materials"].push_back(std::move(material));
      primitives.push_back({{"attributes", std::move(attributes)},
                            {"indices", indices},
                            {"material", doc["materials"].size() - 1},
                            {"mode", 4}});
    }
    if (primitives.empty()) {
      host.Refuse(path, "the model has no polygon of 3 or 4 corners to write");
      return 0;
    }
    const std::string nodeName = platform::Cp932ToUtf8(
        exchange::WithoutExtension(std::string(model.fileName.View()))
            .substr(exchange::FolderOf(std::string(model.fileName.View())).size()));
    doc["meshes"] = json::array({{{"name", nodeName}, {"primitives", std::move(primitives)}}});
    doc["nodes"] = json::array({{{"name", nodeName}, {"mesh", 0}}});

    if (!textures.empty()) {
      doc["textures"] = std::move(textures);
      // Linear filtering with mipmaps and repeated coordinates, as the device's defaults draw.
      doc["samplers"] = json::array(
          {{{"magFilter", 9729}, {"minFilter", 9987}, {"wrapS", 10497}, {"wrapT", 10497}}});
      json imageList = json::array();
      for (const exchange::ExportImage& im : images.images) {
        if (binary) {
          const size_t offset = buffer.size();
          Append(buffer, im.bytes.data(), im.bytes.size());
          doc["bufferViews"].push_back(
              {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", im.bytes.size()}});
          imageList.push_back(
              {{"bufferView", doc["bufferViews"].size() - 1}, {"mimeType", im.mimeType}});
        } else {
          imageList.push_back({{"uri", UriOf(im.name)}});
        }
      }
      doc["images"] = std::move(imageList);
    }
    json bufferEntry = {{"byteLength", buffer.size()}};
    if (!binary) {
      const std::string bin = exchange::WithoutExtension(path) + ".bin";
      bufferEntry["uri"] = UriOf(platform::Cp932ToUtf8(bin.substr(exchange::FolderOf(bin).size())));
    }
    doc["buffers"] = json::array({std::move(bufferEntry)});

    const std::string text = doc.dump();
    if (!binary) {
      document.assign(text.begin(), text.end());
      return 1;
    }
    // GLB: header, the JSON chunk padded with blanks, the BIN chunk padded with zeros.
    const size_t jsonLength = (text.size() + 3) & ~size_t{3};
    const size_t total = 12 + 8 + jsonLength + 8 + buffer.size();
    if (total > UINT32_MAX) {
      host.Refuse(path, "the model does not fit a GLB file");
      return 0;
    }
    document.reserve(20 + jsonLength + 8);
    auto u32 = [&](uint32_t v) {
      const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
      document.insert(document.end(), b, b + 4);
    };
    u32(0x46546C67);  // "glTF"
    u32(2);
    u32(uint32_t(total));
    u32(uint32_t(jsonLength));
    u32(0x4E4F534A);  // "JSON"
    document.insert(document.end(), text.begin(), text.end());
    document.resize(20 + jsonLength, ' ');
    u32(uint32_t(buffer.size()));
    u32(0x004E4942);  // "BIN"
    return 1;         // the BIN chunk's data is `buffer`, written after the document
  } catch (const std::bad_alloc&) {
    document.clear();
    buffer.clear();
    host.Refuse(path, "out of memory");
    return 0;
  }
}

}  // namespace exchange

namespace {

int SaveGltfFiles(ModelHost& host, const Model& model, const std::string& path, bool binary) {
  ExportImages images = exchange::GatherImages(host, model, path);
  if (!binary && !exchange::NameImagesBeside(host, path, images)) {
    exchange::TakeBackImages(images);
    return 0;
  }
  // Whatever fails from here on, the files this write claimed go again.
  struct TakeBack {
    ExportImages& images;
    bool done = false;
    ~TakeBack() {
      if (!done) exchange::TakeBackImages(images);
    }
  } takeBack{images};
  std::vector<uint8_t> document, buffer;
  if (!exchange::BuildGltf(host, model, path, binary, images, document, buffer)) return 0;
  if (!binary) {
    if (!exchange::WriteImagesBeside(host, path, images)) return 0;
    const std::string bin = exchange::WithoutExtension(path) + ".bin";
    if (!platform::WriteFileAtomically(bin, buffer)) {
      host.Refuse(path, "the buffer file cannot be written");
      return 0;
    }
  }
  const bool written = binary ? platform::WriteFileAtomically(path, {document, buffer})
                              : platform::WriteFileAtomically(path, document);
  if (!written) {
    host.Refuse(path, "cannot be written");
    return 0;
  }
  takeBack.done = true;
  return 1;
}

}  // namespace

int SaveGltf(ModelHost& host, const Model& model, const std::string& path) {
  return SaveGltfFiles(host, model, path, false);
}

int SaveGlb(ModelHost& host, const Model& model, const std::string& path) {
  return SaveGltfFiles(host, model, path, true);
}

}  // namespace wz
