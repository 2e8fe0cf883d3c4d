// glTF 2.0 reader: .gltf documents (with their buffers and images in data: URIs or in files
// beside them) and .glb files. tinygltf (Debian's libtinygltf) parses the document into its own
// structures; it decodes no image (the reader keeps the bytes) and reads no file by itself: every
// file it asks for goes through the host's named-file reading, so confinement holds.
// Before tinygltf runs, the reader checks the GLB container, the nesting depth of the JSON text
// (64 levels) and what the parse may cost against the reader's memory (256 MB + 16 × the bytes
// read). tinygltf trusts the offsets and counts of the document: every accessor, buffer view,
// sparse part and index is checked here before it is read, and nothing is sized before the whole
// model is known to fit.
// Geometry: the meshes of the default scene's nodes (all root nodes when the file has no scene)
// with every node's transform baked in, once per node that names a mesh. Triangle lists, strips
// and fans become triangles; points and lines are counted in one log line. Axes and scale are the
// exact reverse of the glTF writer: positions (x, y, -z) × 10, normals (x, y, -z), corner order
// reversed (kept when the node's transform mirrors), texture coordinates copied.
// Materials become groups (base colour factor, alpha mode, double-sided switch, base colour
// texture); primitives without a material share a group "Default". COLOR_0 fills the colour pool
// and switches corner colours on. Skins and animations are not read (a log line counts them).
//
// The glTF parser (tinygltf, from its header) is compiled into the library here, in a namespace of
// its own so that a program may also link the system's tinygltf library. Without its image codecs
// (images are kept as bytes and decoded by the texture loader) and without file access of its own
// (every file goes through the host).
#define tinygltf wz_tinygltf
#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_NO_FS
#include <fstream>  // the header's writer needs it even without file access
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"
#include "model/normals.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz {
namespace {

constexpr float kScale = 10.0f;  // metres to library units
constexpr size_t kMaxGroups = kMaxGroupTracks;
constexpr size_t kMaxDepth = 64;
// What the parse holds per JSON object (a tinygltf record with its strings and maps) and per
// other JSON value, at most; text bytes are held about three times (text, DOM, decoded data).
constexpr uint64_t kObjectCost = 768, kValueCost = 96, kTextCost = 3;
// Files a document names (buffers and images), all together.
constexpr uint64_t kMaxExternalBytes = platform::kMaxNamedFileBytes;

constexpr int kByte = 5120, kUnsignedByte = 5121, kShort = 5122, kUnsignedShort = 5123,
              kUnsignedInt = 5125, kFloat = 5126;

std::string Text(const char* format, auto... args) {
  char buffer[240];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

struct Refusal {
  std::string reason;
  explicit operator bool() const { return !reason.empty(); }
};

// ---- Names -------------------------------------------------------------------------------------

// A name from the document (UTF-8) as library text: the reversible mapping of host file names;
// with `path`, '/' separates folders and becomes '\', and an absolute name is cut to its file
// name (it names another machine).
std::string LibraryName(std::string_view utf8, bool path) {
  std::string name(utf8);
  const bool ascii =
      std::all_of(name.begin(), name.end(), [](char c) { return uint8_t(c) < 0x80; });
  if (!ascii && platform::IsValidUtf8(name)) {
    if (path) std::replace(name.begin(), name.end(), '\\', '/');
    name = platform::HostBytesToCp932(name, path);
  } else if (path) {
    std::replace(name.begin(), name.end(), '/', '\\');
  }
  if (path && ((!name.empty() && name[0] == '\\') || (name.size() > 1 && name[1] == ':'))) {
    const size_t slash = platform::Cp932FindLast(name, '\\');
    const size_t colon = platform::Cp932FindLast(name, ':');
    size_t cut = slash == std::string::npos ? colon : slash;
    if (colon != std::string::npos && slash != std::string::npos) cut = std::max(slash, colon);
    name.erase(0, cut + 1);
  }
  return name;
}

// A URI reference with its %XX escapes decoded.
std::string Unescaped(std::string_view uri) {
  auto hex = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  std::string out;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && hex(uri[i + 1]) >= 0 && hex(uri[i + 2]) >= 0) {
      out.push_back(char(hex(uri[i + 1]) * 16 + hex(uri[i + 2])));
      i += 2;
    } else {
      out.push_back(uri[i]);
    }
  }
  return out;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = platform::Cp932FindLast(path, '\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// ---- Before the parse --------------------------------------------------------------------------

// The JSON text's nesting depth and what tinygltf's parse of it may hold.
Refusal ScanJson(std::string_view text, uint64_t& cost) {
  size_t depth = 0;
  uint64_t objects = 0, values = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        ++values;
        break;
      case '{':
      case '[':
        if (++depth > kMaxDepth) return {Text("the JSON nests deeper than %zu levels", kMaxDepth)};
        objects += c == '{';
        ++values;
        break;
      case '}':
      case ']':
        if (depth > 0) --depth;
        break;
      case ',':
      case ':':
        ++values;
        break;
      default:
        break;
    }
  }
  cost = objects * kObjectCost + values * kValueCost + kTextCost * text.size();
  return {};
}

uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The GLB container: its 12-byte header, a JSON chunk and an optional BIN chunk, all within the
// bytes given. `length` is the container's own length.
Refusal CheckGlb(std::span<const uint8_t> bytes, std::string_view& json, uint32_t& length) {
  if (bytes.size() < 20) return {"the GLB header is cut short"};
  if (U32(&bytes[4]) != 2) return {Text("GLB version %u is not 2", U32(&bytes[4]))};
  length = U32(&bytes[8]);
  if (length > bytes.size() || length < 20) return {"the GLB length does not match the file"};
  const uint32_t jsonLength = U32(&bytes[12]);
  if (U32(&bytes[16]) != 0x4E4F534A) return {"the first GLB chunk is not JSON"};
  if (jsonLength > length - 20) return {"the GLB JSON chunk runs past the file"};
  json = {reinterpret_cast<const char*>(&bytes[20]), jsonLength};
  const uint64_t next = 20 + uint64_t{jsonLength};
  if (next < length) {
    if (length - next < 8) return {"the GLB BIN chunk header is cut short"};
    const uint32_t binLength = U32(&bytes[next]);
    if (U32(&bytes[next + 4]) != 0x004E4942) return {"the second GLB chunk is not BIN"};
    if (binLength > length - next - 8) return {"the GLB BIN chunk runs past the file"};
  }
  return {};
}

// ---- What tinygltf is given ---------------------------------------------------------------------

// Files the document names, read through the host beside the model.
struct FileReads {
  ModelHost* host;
  std::string folder;  // of the model, with its '\'
  uint64_t bytes = 0;  // read so far
};

bool AnyFileExists(const std::string&, void*) {
  return true;  // the read decides
}
std::string SameFilePath(const std::string& path, void*) {
  return path;
}
bool ReadThroughHost(std::vector<unsigned char>* out, std::string* err, const std::string& uri,
                     void* user) {
  auto* reads = static_cast<FileReads*>(user);
  const std::string name = LibraryName(uri, true);
  if (name.empty()) {
    *err = "no file name";
    return false;
  }
  std::vector<uint8_t> bytes;
  const platform::NamedFileError error = reads->host->ReadNamedFile(reads->folder + name, bytes);
  if (error != platform::NamedFileError::kNone) {
    *err = platform::NamedFileErrorText(error);
    return false;
  }
  if (bytes.size() > kMaxExternalBytes - reads->bytes) {
    *err = "the files the document names pass 256 MB";
    return false;
  }
  reads->bytes += bytes.size();
  out->assign(bytes.begin(), bytes.end());
  return true;
}
bool NoFileWrite(std::string* err, const std::string&, const std::vector<unsigned char>&, void*) {
  *err = "not written";
  return false;
}

// Keeps the bytes of an image given as a data: URI or a file; an image in a buffer view is
// taken from the buffer later, after its range is checked (tinygltf does not check it).
bool KeepImageBytes(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                    const unsigned char* bytes, int size, void*) {
  if (image->bufferView < 0 && bytes && size > 0) image->image.assign(bytes, bytes + size);
  return true;
}

// ---- Accessors ---------------------------------------------------------------------------------

int ComponentBytes(int type) {
  switch (type) {
    case kByte:
    case kUnsignedByte:
      return 1;
    case kShort:
    case kUnsignedShort:
      return 2;
    case kUnsignedInt:
    case kFloat:
      return 4;
    default:
      return 0;
  }
}

// A checked view of an accessor's elements as floats (or, for indices, as integers).
struct Elements {
  const uint8_t* base = nullptr;  // null: every element is zero
  size_t stride = 0;
  int componentType = kFloat;
  int components = 1;
  bool normalized = false;
  size_t count = 0;
  std::vector<float> dense;  // a sparse accessor, resolved: count × components

  float Get(size_t i, int c) const {
    if (!dense.empty()) return dense[i * size_t(components) + size_t(c)];
    if (!base) return 0.0f;
    const uint8_t* p = base + i * stride + size_t(c) * size_t(ComponentBytes(componentType));
    switch (componentType) {
      case kFloat: {
        float f;
        std::memcpy(&f, p, 4);
        return f;
      }
      case kUnsignedByte:
        return normalized ? float(*p) / 255.0f : float(*p);
      case kByte:
        return normalized ? std::max(float(int8_t(*p)) / 127.0f, -1.0f) : float(int8_t(*p));
      case kUnsignedShort: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return normalized ? float(v) / 65535.0f : float(v);
      }
      case kShort: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return normalized ? std::max(float(v) / 32767.0f, -1.0f) : float(v);
      }
      default: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return float(v);
      }
    }
  }
  uint32_t Index(size_t i) const {
    if (!dense.empty()) {
      // A sparse index of 2^32 - 1 rounds to 2^32 as a float: kept out of range, not wrapped.
      const float f = dense[i];
      return f < 4294967296.0f ? uint32_t(f) : UINT32_MAX;
    }
    if (!base) return 0;
    const uint8_t* p = base + i * stride;
    if (componentType == kUnsignedByte) return *p;
    if (componentType == kUnsignedShort) return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    return U32(p);
  }
};

// The bytes [offset, offset + length) of buffer view `v`, checked against its buffer.
Refusal ViewBytes(const tinygltf::Model& gltf, int v, const uint8_t*& data, size_t& length) {
  if (v < 0 || size_t(v) >= gltf.bufferViews.size())
    return {Text("buffer view %d does not exist", v)};
  const tinygltf::BufferView& view = gltf.bufferViews[size_t(v)];
  if (view.buffer < 0 || size_t(view.buffer) >= gltf.buffers.size())
    return {Text("buffer view %d names buffer %d, which does not exist", v, view.buffer)};
  const std::vector<unsigned char>& buffer = gltf.buffers[size_t(view.buffer)].data;
  if (view.byteOffset > buffer.size() || view.byteLength > buffer.size() - view.byteOffset)
    return {Text("buffer view %d runs past the end of its buffer", v)};
  data = buffer.data() + view.byteOffset;
  length = view.byteLength;
  return {};
}

// What the model being planned takes so far, against the memory the input allows.
struct Budget {
  uint64_t input = 0;
  uint64_t used = 0;
  bool Take(uint64_t bytes) {
    if (!ReadMemoryAllows(used + bytes, input)) return false;
    used += bytes;
    return true;
  }
  Refusal Exceeded() const {
    return {Text("the model would need more than %llu MB", (unsigned long long)((used >> 20) + 1))};
  }
};

// Checks accessor `a` (of one of the `types`, with a component type `componentOk` accepts) and
// makes its view. A sparse accessor is resolved into `dense`, taken from the budget.
template <typename ComponentOk>
Refusal Access(const tinygltf::Model& gltf, int a, std::initializer_list<int> types,
               ComponentOk componentOk, const char* what, Budget& budget, Elements& out) {
  if (a < 0 || size_t(a) >= gltf.accessors.size())
    return {Text("the %s accessor %d does not exist", what, a)};
  const tinygltf::Accessor& acc = gltf.accessors[size_t(a)];
  if (std::find(types.begin(), types.end(), acc.type) == types.end() ||
      !componentOk(acc.componentType)) {
    return {Text("accessor %d has a type that %s data cannot have", a, what)};
  }
  out = Elements{};
  out.componentType = acc.componentType;
  out.components = tinygltf::GetNumComponentsInType(uint32_t(acc.type));
  out.normalized = acc.normalized;
  out.count = acc.count;
  const size_t element = size_t(out.components) * size_t(ComponentBytes(acc.componentType));
  if (acc.bufferView >= 0) {
    const uint8_t* data;
    size_t length;
    if (Refusal r = ViewBytes(gltf, acc.bufferView, data, length)) return r;
    const size_t declared = gltf.bufferViews[size_t(acc.bufferView)].byteStride;
    out.stride = declared ? declared : element;
    if (out.stride < element || out.stride > 252 || (declared && out.stride % 4 != 0))
      return {Text("accessor %d has a byte stride of %zu", a, out.stride)};
    if (acc.count > 0 &&
        (acc.byteOffset > length || (acc.count - 1) > (length - acc.byteOffset) / out.stride ||
         (acc.count - 1) * out.stride + element > length - acc.byteOffset)) {
      return {Text("accessor %d: %zu elements run past the end of buffer view %d", a, acc.count,
                   acc.bufferView)};
    }
    out.base = data + acc.byteOffset;
  }
  if (!acc.sparse.isSparse) return {};
  // Sparse: the base values (or zeros) with the listed elements replaced.
  const int n = acc.sparse.count;
  if (n < 1 || size_t(n) > acc.count) return {Text("accessor %d has %d sparse elements", a, n)};
  const int indexType = acc.sparse.indices.componentType;
  if (indexType != kUnsignedByte && indexType != kUnsignedShort && indexType != kUnsignedInt)
    return {Text("accessor %d has sparse indices of an unknown type", a)};
  const uint8_t *indexData, *valueData;
  size_t indexLength, valueLength;
  if (Refusal r = ViewBytes(gltf, acc.sparse.indices.bufferView, indexData, indexLength)) return r;
  if (Refusal r = ViewBytes(gltf, acc.sparse.values.bufferView, valueData, valueLength)) return r;
  const size_t indexOffset = size_t(std::max(acc.sparse.indices.byteOffset, 0));
  const size_t valueOffset = size_t(std::max(acc.sparse.values.byteOffset, 0));
  if (indexOffset > indexLength ||
      size_t(n) > (indexLength - indexOffset) / size_t(ComponentBytes(indexType)) ||
      valueOffset > valueLength || size_t(n) > (valueLength - valueOffset) / element) {
    return {Text("accessor %d: its sparse elements run past their buffer views", a)};
  }
  Elements indices;
  indices.base = indexData + indexOffset;
  indices.stride = size_t(ComponentBytes(indexType));
  indices.componentType = indexType;
  Elements values = out;
  values.base = valueData + valueOffset;
  values.stride = element;
  if (!budget.Take(uint64_t{acc.count} * uint64_t(out.components) * sizeof(float)))
    return budget.Exceeded();
  out.dense.resize(acc.count * size_t(out.components));
  for (size_t i = 0; i < acc.count; ++i)
    for (int c = 0; c < out.components; ++c)
      out.dense[i * size_t(out.components) + size_t(c)] = out.Get(i, c);
  for (size_t k = 0; k < size_t(n); ++k) {
    const uint32_t i = indices.Index(k);
    if (i >= acc.count) return {Text("accessor %d: sparse index %u of %zu", a, i, acc.count)};
    for (int c = 0; c < out.components; ++c)
      out.dense[size_t(i) * size_t(out.components) + size_t(c)] = values.Get(k, c);
  }
  if (out.dense.empty()) out.dense.push_back(0.0f);  // count 0 is refused above
  return {};
}

bool FloatOrNormalized(int type) {
  return type == kFloat || type == kUnsignedByte || type == kUnsignedShort || type == kByte ||
         type == kShort;
}

// ---- Nodes -------------------------------------------------------------------------------------

struct Matrix {  // column-major, as glTF writes it: m[column * 4 + row]
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix r;
  for (int c = 0; c < 4; ++c)
    for (int row = 0; row < 4; ++row) {
      double s = 0;
      for (int k = 0; k < 4; ++k)
        s += a.m[k * 4 + row] * b.m[c * 4 + k];
      r.m[c * 4 + row] = s;
    }
  return r;
}

Matrix LocalMatrix(const tinygltf::Node& node) {
  Matrix r;
  if (node.matrix.size() == 16) {
    std::copy(node.matrix.begin(), node.matrix.end(), r.m);
    return r;
  }
  double t[3] = {0, 0, 0}, q[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
  if (node.translation.size() == 3) std::copy(node.translation.begin(), node.translation.end(), t);
  if (node.rotation.size() == 4) std::copy(node.rotation.begin(), node.rotation.end(), q);
  if (node.scale.size() == 3) std::copy(node.scale.begin(), node.scale.end(), s);
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double rot[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                         2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                         2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row)
      r.m[c * 4 + row] = rot[c * 3 + row] * s[c];
  r.m[12] = t[0], r.m[13] = t[1], r.m[14] = t[2];
  return r;
}

struct Instance {
  int mesh;
  Matrix world;
};

// The meshes the scene shows, each with its node's world matrix.
Refusal Instances(const tinygltf::Model& gltf, std::vector<Instance>& out) {
  const size_t nodes = gltf.nodes.size();
  std::vector<int> roots;
  if (gltf.defaultScene >= 0 && size_t(gltf.defaultScene) < gltf.scenes.size()) {
    roots = gltf.scenes[size_t(gltf.defaultScene)].nodes;
  } else if (!gltf.scenes.empty()) {
    roots = gltf.scenes[0].nodes;
  } else if (nodes == 0) {
    for (size_t m = 0; m < gltf.meshes.size(); ++m)
      out.push_back({int(m), Matrix{}});
    return {};
  } else {
    std::vector<uint8_t> child(nodes, 0);
    for (const tinygltf::Node& n : gltf.nodes)
      for (int c : n.children)
        if (c >= 0 && size_t(c) < nodes) child[size_t(c)] = 1;
    for (size_t k = 0; k < nodes; ++k)
      if (!child[k]) roots.push_back(int(k));
  }
  std::vector<uint8_t> seen(nodes, 0);
  std::vector<std::pair<int, Matrix>> stack;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it)
    stack.push_back({*it, Matrix{}});
  while (!stack.empty()) {
    const auto [k, parent] = stack.back();
    stack.pop_back();
    if (k < 0 || size_t(k) >= nodes) return {Text("node %d does not exist", k)};
    if (seen[size_t(k)]) return {Text("node %d is reached twice: the nodes are not a tree", k)};
    seen[size_t(k)] = 1;
    const tinygltf::Node& node = gltf.nodes[size_t(k)];
    const Matrix world = Multiply(parent, LocalMatrix(node));
    if (node.mesh >= 0) {
      if (size_t(node.mesh) >= gltf.meshes.size())
        return {Text("node %d names mesh %d, which does not exist", k, node.mesh)};
      out.push_back({node.mesh, world});
    }
    for (auto it = node.children.rbegin(); it != node.children.rend(); ++it)
      stack.push_back({*it, world});
  }
  return {};
}

// ---- The model ---------------------------------------------------------------------------------

// One primitive of one instance, checked and ready to be copied.
struct Part {
  const Instance* instance;
  int group;
  int mode;
  Elements positions, normals, uvs, colours, indices;
  bool hasNormals = false, hasUvs = false, hasColours = false, hasIndices = false;
  size_t triangles = 0;
};

size_t TrianglesOf(int mode, size_t n) {
  if (mode == 4) return n / 3;
  return n >= 3 ? n - 2 : 0;
}

// The corners of triangle t of a primitive in `mode`, as positions in its index list.
void TriangleCorners(int mode, size_t t, size_t c[3]) {
  if (mode == 4) {
    c[0] = 3 * t, c[1] = 3 * t + 1, c[2] = 3 * t + 2;
  } else if (mode == 5) {
    c[0] = t, c[1] = t + 1 + t % 2, c[2] = t + 2 - t % 2;
  } else {
    c[0] = t + 1, c[1] = t + 2, c[2] = 0;
  }
}

float Unit(double v) {
  return v > 0.0 ? float(std::min(v, 1.0)) : 0.0f;
}

struct Plan {
  std::vector<Part> parts;
  std::vector<int> groupOfMaterial;  // per material, then one for "no material"; -1 unused
  std::vector<int> materialOfGroup;  // -1: "Default"
  std::vector<int> slotOfImage;      // per image, 0 for none
  std::vector<int> imageOfSlot;      // per slot from 1
  size_t vertices = 0, triangles = 0, skipped = 0;
  bool normals = true, uvs = false, colours = false;
};

// What a vertex and a triangle of the model take at most.
constexpr uint64_t kVertexBytes =
    4 * sizeof(Vec3) + sizeof(VertexAttr) + sizeof(Uv) + sizeof(ColourF);
constexpr uint64_t kTriangleBytes = sizeof(Polygon);

Refusal PlanModel(const tinygltf::Model& gltf, const std::vector<Instance>& instances,
                  Budget& budget, Plan& plan) {
  const size_t materials = gltf.materials.size();
  plan.groupOfMaterial.assign(materials + 1, -1);
  plan.slotOfImage.assign(gltf.images.size(), 0);
  std::vector<uint8_t> materialUsed(materials + 1, 0);
  for (const Instance& in : instances) {
    for (const tinygltf::Primitive& p : gltf.meshes[size_t(in.mesh)].primitives) {
      const int mode = p.mode < 0 ? 4 : p.mode;
      if (mode < 4 || mode > 6) {
        ++plan.skipped;
        continue;
      }
      Part part;
      part.instance = &in;
      part.mode = mode;
      const auto position = p.attributes.find("POSITION");
      if (position == p.attributes.end()) continue;  // nothing to draw
      if (Refusal r = Access(gltf, position->second, {TINYGLTF_TYPE_VEC3}, FloatOrNormalized,
                             "position", budget, part.positions)) {
        return r;
      }
      const size_t n = part.positions.count;
      auto optional = [&](const char* name, std::initializer_list<int> types, auto componentOk,
                          Elements& e, bool& has) -> Refusal {
        const auto it = p.attributes.find(name);
        if (it == p.attributes.end()) return {};
        if (Refusal r = Access(gltf, it->second, types, componentOk, name, budget, e)) return r;
        if (e.count != n)
          return {Text("the %s accessor %d does not count as POSITION", name, it->second)};
        has = true;
        return {};
      };
      auto unsignedNormalized = [](int t) {
        return t == kFloat || t == kUnsignedByte || t == kUnsignedShort;
      };
      if (Refusal r = optional("NORMAL", {TINYGLTF_TYPE_VEC3}, FloatOrNormalized, part.normals,
                               part.hasNormals)) {
        return r;
      }
      if (Refusal r = optional("TEXCOORD_0", {TINYGLTF_TYPE_VEC2}, FloatOrNormalized, part.uvs,
                               part.hasUvs)) {
        return r;
      }
      if (Refusal r = optional("COLOR_0", {TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4},
                               unsignedNormalized, part.colours, part.hasColours)) {
        return r;
      }
      size_t corners = n;
      if (p.indices >= 0) {
        if (Refusal r = Access(
                gltf, p.indices, {TINYGLTF_TYPE_SCALAR},
                [](int t) {
                  return t == kUnsignedByte || t == kUnsignedShort || t == kUnsignedInt;
                },
                "index", budget, part.indices)) {
          return r;
        }
        part.hasIndices = true;
        corners = part.indices.count;
      }
      part.triangles = TrianglesOf(mode, corners);
      if (part.triangles == 0) continue;
      // Checked as the plan grows, so that a mesh named by very many nodes is refused early.
      if (!budget.Take(n * kVertexBytes + part.triangles * kTriangleBytes))
        return budget.Exceeded();
      for (size_t i = 0; part.hasIndices && i < corners; ++i) {
        if (part.indices.Index(i) >= n) {
          return {Text("index %u of accessor %d is out of range (%zu vertices)",
                       part.indices.Index(i), p.indices, n)};
        }
      }
      const size_t m =
          p.material >= 0 && size_t(p.material) < materials ? size_t(p.material) : materials;
      if (p.material >= 0 && size_t(p.material) >= materials)
        return {Text("material %d does not exist", p.material)};
      materialUsed[m] = 1;
      part.group = int(m);  // numbered below
      plan.normals = plan.normals && part.hasNormals;
      plan.uvs = plan.uvs || part.hasUvs;
      plan.colours = plan.colours || part.hasColours;
      plan.vertices += n;
      plan.triangles += part.triangles;
      if (plan.vertices > size_t{INT32_MAX} || plan.triangles > size_t{INT32_MAX})
        return {"more vertices or triangles than a model can count"};
      plan.parts.push_back(std::move(part));
    }
  }
  if (plan.parts.empty()) return {"no triangles in the scene"};
  for (size_t m = 0; m <= materials; ++m) {
    if (!materialUsed[m]) continue;
    if (plan.materialOfGroup.size() == kMaxGroups) return {"more than 256 materials"};
    plan.groupOfMaterial[m] = int(plan.materialOfGroup.size());
    plan.materialOfGroup.push_back(m < materials ? int(m) : -1);
    if (m == materials) continue;
    const int t = gltf.materials[m].pbrMetallicRoughness.baseColorTexture.index;
    if (t < 0) continue;
    if (size_t(t) >= gltf.textures.size()) return {Text("texture %d does not exist", t)};
    const int image = gltf.textures[size_t(t)].source;
    if (image < 0) continue;
    if (size_t(image) >= gltf.images.size()) return {Text("image %d does not exist", image)};
    if (plan.slotOfImage[size_t(image)] == 0) {
      if (plan.imageOfSlot.size() + 1 >= size_t(INT16_MAX))
        return {"more images than a model can hold"};
      plan.imageOfSlot.push_back(image);
      plan.slotOfImage[size_t(image)] = int(plan.imageOfSlot.size());
    }
  }
  for (Part& part : plan.parts)
    part.group = plan.groupOfMaterial[size_t(part.group)];
  return {};
}

// The name of image `k`'s texture slot and, for an image inside the document, its bytes.
Refusal ImageOf(const tinygltf::Model& gltf, int k, const std::string& path, std::string& name,
                std::span<const uint8_t>& bytes) {
  const tinygltf::Image& image = gltf.images[size_t(k)];
  bytes = {};
  if (image.bufferView >= 0) {
    const uint8_t* data;
    size_t length;
    if (Refusal r = ViewBytes(gltf, image.bufferView, data, length)) return r;
    bytes = {data, length};
  } else if (image.uri.rfind("data:", 0) == 0) {
    bytes = image.image;
  } else {
    name = LibraryName(Unescaped(image.uri), true);
    return {};
  }
  // An image inside the file is known by a name beside the model that no file needs to have.
  std::string stem = path.substr(FolderOf(path).size());
  const size_t dot = platform::Cp932FindLast(stem, '.');
  if (dot != std::string::npos) stem.resize(dot);
  const bool jpeg =
      image.mimeType == "image/jpeg" || (bytes.size() > 2 && bytes[0] == 0xFF && bytes[1] == 0xD8);
  name = stem + "_image" + std::to_string(k) + (jpeg ? ".jpg" : ".png");
  return {};
}

void Fill(const tinygltf::Model& gltf, const Plan& plan, size_t triangleLimit, ModelHost& host,
          const std::string& path, Model& model) {
  const size_t vertices = plan.vertices;
  GrowPositionPools(model, vertices);
  if (plan.normals) GrowTo(model.normals, vertices);
  if (plan.uvs) GrowTo(model.uvs, vertices);
  if (plan.colours) GrowTo(model.colours, vertices);
  const size_t triangles = std::min(plan.triangles, triangleLimit);
  GrowTo(model.polygons, triangles);
  GrowTo(model.groups, plan.materialOfGroup.size());
  GrowTo(model.textureSlots, plan.imageOfSlot.size() + 1);
  model.fileName.Set(path);

  size_t base = 0, out = 0;
  for (const Part& part : plan.parts) {
    if (out == triangles) break;
    const double* m = part.instance->world.m;
    // The inverse transpose for normals: the cofactor matrix, signed as the determinant.
    const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[4] * (m[1] * m[10] - m[2] * m[9]) +
                       m[8] * (m[1] * m[6] - m[2] * m[5]);
    const double sign = det < 0 ? -1.0 : 1.0;
    const double cof[9] = {
        m[5] * m[10] - m[6] * m[9], m[6] * m[8] - m[4] * m[10], m[4] * m[9] - m[5] * m[8],
        m[2] * m[9] - m[1] * m[10], m[0] * m[10] - m[2] * m[8], m[1] * m[8] - m[0] * m[9],
        m[1] * m[6] - m[2] * m[5],  m[2] * m[4] - m[0] * m[6],  m[0] * m[5] - m[1] * m[4]};
    const size_t n = part.positions.count;
    for (size_t i = 0; i < n; ++i) {
      const double x = part.positions.Get(i, 0), y = part.positions.Get(i, 1),
                   z = part.positions.Get(i, 2);
      const double wx = m[0] * x + m[4] * y + m[8] * z + m[12];
      const double wy = m[1] * x + m[5] * y + m[9] * z + m[13];
      const double wz = m[2] * x + m[6] * y + m[10] * z + m[14];
      model.positions[base + i] = {float(wx) * kScale, float(wy) * kScale,
                                   -float(wz) * kScale + 0.0f};
      if (plan.normals) {
        const double nx = part.normals.Get(i, 0), ny = part.normals.Get(i, 1),
                     nz = part.normals.Get(i, 2);
        double v[3] = {cof[0] * nx + cof[3] * ny + cof[6] * nz,
                       cof[1] * nx + cof[4] * ny + cof[7] * nz,
                       cof[2] * nx + cof[5] * ny + cof[8] * nz};
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) * sign;
        if (length != 0 && std::isfinite(length)) v[0] /= length, v[1] /= length, v[2] /= length;
        model.normals[base + i] = {float(v[0]), float(v[1]), -float(v[2]) + 0.0f};
      }
      if (plan.uvs)
        model.uvs[base + i] =
            part.hasUvs ? Uv{part.uvs.Get(i, 0), part.uvs.Get(i, 1)} : Uv{0.0f, 0.0f};
      if (plan.colours) {
        ColourF k{255.0f, 255.0f, 255.0f, 255.0f};
        if (part.hasColours) {
          k = {Unit(part.colours.Get(i, 0)) * 255.0f, Unit(part.colours.Get(i, 1)) * 255.0f,
               Unit(part.colours.Get(i, 2)) * 255.0f,
               part.colours.components == 4 ? Unit(part.colours.Get(i, 3)) * 255.0f : 255.0f};
        }
        model.colours[base + i] = k;
      }
    }
    // The frame change mirrors (z), so corners run reversed, unless the node mirrors as well.
    const bool reverse = det >= 0;
    const size_t count = std::min(part.triangles, triangles - out);
    for (size_t t = 0; t < count; ++t) {
      size_t at[3];
      TriangleCorners(part.mode, t, at);
      Polygon& poly = model.polygons[out++];
      poly = Polygon{};
      poly.group = part.group;
      poly.cornerCount = 3;
      for (int c = 0; c < 3; ++c) {
        const size_t k = at[reverse ? 2 - c : c];
        const int32_t v = int32_t(base + (part.hasIndices ? part.indices.Index(k) : k));
        Corner& corner = poly.corners[size_t(c)];
        corner.position = v;
        corner.normal = plan.normals ? v : 0;
        corner.uv = plan.uvs ? v : 0;
        corner.colour = plan.colours ? v : 0;
      }
    }
    base += n;
  }
  model.positionCount = int32_t(base);
  model.normalCount = plan.normals ? int32_t(base) : 0;
  model.uvCount = plan.uvs ? int32_t(base) : 0;
  model.colourCount = plan.colours ? int32_t(base) : 0;
  model.polygonCount = int32_t(out);
  model.vertexColoursOn = plan.colours ? 1 : 0;

  for (size_t g = 0; g < plan.materialOfGroup.size(); ++g) {
    Group& group = model.groups[g];
    group = NewGroup();
    const int m = plan.materialOfGroup[g];
    if (m < 0) {
      group.name.Set("Default");
      group.colour = {255.0f, 255.0f, 255.0f, 255.0f};
      continue;
    }
    const tinygltf::Material& mat = gltf.materials[size_t(m)];
    group.name.Set(mat.name.empty() ? "material" + std::to_string(m)
                                    : LibraryName(mat.name, false));
    const std::vector<double>& f = mat.pbrMetallicRoughness.baseColorFactor;
    const double alpha = f.size() == 4 ? f[3] : 1.0;
    group.colour = {Unit(f.size() == 4 ? f[0] : 1.0) * 255.0f,
                    Unit(f.size() == 4 ? f[1] : 1.0) * 255.0f,
                    Unit(f.size() == 4 ? f[2] : 1.0) * 255.0f, 255.0f};
    // The record draws alpha as blending: BLEND keeps it, MASK shows all or nothing.
    if (mat.alphaMode == "BLEND") group.colour.a = Unit(alpha) * 255.0f;
    if (mat.alphaMode == "MASK") group.colour.a = alpha >= mat.alphaCutoff ? 255.0f : 0.0f;
    group.doubleSided = mat.doubleSided ? 1 : 0;
    const int t = mat.pbrMetallicRoughness.baseColorTexture.index;
    if (t >= 0) group.textureSlot = plan.slotOfImage[size_t(gltf.textures[size_t(t)].source)];
  }
  model.groupCount = int32_t(plan.materialOfGroup.size());

  std::vector<std::string> names(plan.imageOfSlot.size());
  std::vector<std::string> embedded;  // the paths the images inside the file are known under
  const std::string folder = FolderOf(path);
  for (size_t s = 1; s <= plan.imageOfSlot.size(); ++s) {
    std::span<const uint8_t> bytes;
    ImageOf(gltf, plan.imageOfSlot[s - 1], path, names[s - 1], bytes);  // checked by the caller
    if (!bytes.empty()) {
      // Named beside the model as the host resolves names, from the slot's name or the model's.
      for (std::string key :
           {host.ResolveNamed(names[s - 1]), host.ResolveNamed(folder + names[s - 1])}) {
        host.AddEmbeddedFile(key, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        embedded.push_back(std::move(key));
      }
    }
    model.textureSlots[s] = TextureSlot{};
    model.textureSlots[s].state = 1;
    model.textureSlots[s].fileName.Set(names[s - 1]);
  }
  model.textureSlotCount = int16_t(plan.imageOfSlot.size() + 1);
  model.colour = {255.0f, 255.0f, 255.0f, 255.0f};

  DeriveNormals(model);
  model.texturesUnkeyed = 1;  // a glTF texture's transparency is its alpha and the alpha mode
  for (size_t s = 1; s <= names.size(); ++s)
    host.LoadModelTexture(model, int32_t(s), names[s - 1]);
  if (!host.keepEmbeddedFiles) {
    for (const std::string& key : embedded)
      host.ForgetEmbeddedFile(key);
  }
  model.shadingChanged = 1;
}

int Load(ModelHost& host, Model& model, const std::string& path, std::span<const uint8_t> bytes) {
  std::string reason;
  try {
    const bool binary = bytes.size() >= 4 && std::memcmp(bytes.data(), "glTF", 4) == 0;
    std::string_view json(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    uint32_t length = uint32_t(std::min<size_t>(bytes.size(), UINT32_MAX));
    uint64_t cost = 0;
    Refusal r;
    if (bytes.size() > UINT32_MAX) r = {"larger than 4 GB"};
    if (!r && binary) r = CheckGlb(bytes, json, length);
    if (!r) r = ScanJson(json, cost);
    if (!r && !ReadMemoryAllows(cost + bytes.size(), bytes.size()))
      r = {"the document would need more memory than its size allows"};
    if (r) {
      host.Refuse(path, r.reason);
      return 0;
    }

    FileReads reads{&host, FolderOf(path)};
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(KeepImageBytes, nullptr);
    loader.SetFsCallbacks({AnyFileExists, SameFilePath, ReadThroughHost, NoFileWrite, &reads});
    tinygltf::Model gltf;
    std::string error, warning;
    const bool parsed =
        binary ? loader.LoadBinaryFromMemory(&gltf, &error, &warning, bytes.data(), length, "")
               : loader.LoadASCIIFromString(&gltf, &error, &warning, json.data(),
                                            unsigned(json.size()), "");
    if (!parsed) {
      error.erase(std::find(error.begin(), error.end(), '\n'), error.end());
      host.Refuse(path, error.empty() ? "not a glTF 2.0 document" : error.substr(0, 200));
      return 0;
    }
    std::vector<Instance> instances;
    Plan plan;
    Budget budget{bytes.size() + reads.bytes, cost + bytes.size() + reads.bytes};
    r = Instances(gltf, instances);
    if (!r) r = PlanModel(gltf, instances, budget, plan);
    for (size_t s = 0; !r && s < plan.imageOfSlot.size(); ++s) {
      std::string name;
      std::span<const uint8_t> image;
      r = ImageOf(gltf, plan.imageOfSlot[s], path, name, image);
    }
    const size_t limit = size_t(PolygonLimit(host, model));
    if (r) {
      host.Refuse(path, r.reason);
      return 0;
    }
    Fill(gltf, plan, limit, host, path, model);
    if (plan.triangles > limit)
      host.Log(PolygonCapacityLine(path, int64_t(plan.triangles), int32_t(limit)));
    if (plan.skipped > 0)
      host.Log(path + Text(" : %zu primitives of points or lines are not read", plan.skipped));
    if (!gltf.skins.empty() || !gltf.animations.empty()) {
      host.Log(path + Text(" : %zu skins and %zu animations are not read", gltf.skins.size(),
                           gltf.animations.size()));
    }
    return 1;
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  } catch (const std::exception& e) {
    reason = std::string("cannot be read (") + e.what() + ")";
  } catch (...) {
    reason = "cannot be read";
  }
  host.Refuse(path, reason);
  return 0;
}

}  // namespace

int LoadGltfFromMemory(ModelHost& host, Model& model, const std::string& path,
                       std::span<const uint8_t> bytes, int32_t /*version*/) {
  return Load(host, model, path, bytes);
}

int LoadGltf(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes file;
  if (!platform::ReadFileBytes(path, file)) {
    host.Refuse(path, "cannot be read");
    return 0;
  }
  return LoadGltfFromMemory(host, model, path, file.Bytes(), version);
}

}  // namespace wz
