// The model record: an indexed mesh with four independent pools (positions, normals, colours,
// texture coordinates), polygons of up to four corners that index each pool separately, groups
// (materials, with the export geometry of the native file), texture slots, a skeleton of up to 128
// bones, motions, and the drawing state that model drawing keeps per model.
//
// Every reader fills a Model and every writer reads one; the record itself knows nothing of files,
// of the library object or of threads. Pools and lists are growable arrays (the vertex pools and
// the polygon list are Pools, whose untouched storage costs no memory; the rest std::vectors):
// the array's size is the pool's capacity and the matching count field says how many entries are
// in use, so a reader that needs more room grows the array (GrowTo, GrowPositionPools) instead of
// writing past it.
// Fixed parts (128 bones, 256 group tracks of 16 keys, 100 sound names, name and path fields)
// are arrays that cannot be overrun: text fields are written only through FixedString::Set.
//
// Text fields hold code-page-932 bytes. Colours are floats on the 0 to 255 scale.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/fixed_string.h"
#include "core/pool.h"
#include "core/vec_math.h"
#include "wz/types.h"

namespace wz {

// ---- Limits -------------------------------------------------------------------------------------

inline constexpr int32_t kModelVersion = 2009000;  // version written, and of a new model
inline constexpr int32_t kDefaultPolygonCapacity = 65000;
inline constexpr int kMaxCorners = 4;              // corner places of a Polygon
inline constexpr int kMaxBones = 128;              // bone slots of a Model
inline constexpr int kMaxGroupTracks = 256;        // tracks of a Motion, one per group index
inline constexpr int kMaxTrackKeys = 16;           // key places of a GroupTrack
inline constexpr int kLoadableTextureSlots = 256;  // texture slots 0 to 255 can be loaded

inline constexpr int kMaxSoundNames = 100;

// A model's slot number in the model manager (ModelId); kNoModel stands for none. Both are the
// public interface's (wz/types.h).

// PolygonCapacity and VertexCapacity: the library-wide capacities set at start-up from the
// polygon-limit option. They size the pools of a preallocated model (and the library's scratch
// buffers); the record itself may grow past them.
struct ModelCapacities {
  int32_t polygons = kDefaultPolygonCapacity;      // PolygonCapacity
  int32_t vertices = 4 * kDefaultPolygonCapacity;  // VertexCapacity

  // Capacities for the polygon-limit option p (negative p counts as 0; 4p is kept in range).
  static constexpr ModelCapacities ForPolygonCapacity(int32_t p) {
    p = std::clamp<int32_t>(p, 0, INT32_MAX / 4);
    return {p, 4 * p};
  }
};

// ---- Parts of the record ------------------------------------------------------------------------

struct ColourF {  // red, green, blue, alpha on a 0 to 255 scale
  float r = 0.0f;
  float g = 0.0f;
  float b = 0.0f;
  float a = 0.0f;
  friend bool operator==(const ColourF&, const ColourF&) = default;
};

struct Uv {
  float u = 0.0f;
  float v = 0.0f;
  friend bool operator==(const Uv&, const Uv&) = default;
};

// One corner of a polygon: an index into each of the four pools. An index into a pool whose count
// is 0 is 0 and names no entry (the pool is unused); users then take a zero value.
struct Corner {
  int32_t position = 0;
  int32_t normal = 0;
  int32_t colour = 0;
  int32_t uv = 0;
  friend bool operator==(const Corner&, const Corner&) = default;
};

// A polygon of 1 to 4 corners. Only 3 and 4 corners make a face: polygons of 1 or 2 corners get
// no face normal, no export triangles and no drawn triangles. Unused corner places are zero.
struct Polygon {
  uint8_t cornerCount = 0;
  // The face's smoothing angle, not saved: 0 for none (each corner takes the smooth normal of
  // its position); otherwise the angle in hundredths of a degree plus one (SmoothAngleCode).
  // Set by readers of formats that carry one; DeriveNormals then gives the corners normals by
  // the angle rule and stores them in the normal pool.
  uint16_t smoothAngle = 0;
  std::array<Corner, kMaxCorners> corners{};
  int32_t group = 0;  // index into the group list
  Vec3 faceNormal;    // computed by DeriveNormals; not saved
  friend bool operator==(const Polygon&, const Polygon&) = default;
};

// A byte kept as its value XOR 1, so that zero storage reads as 1. It reads and assigns as a
// uint8_t.
class ByteZeroIsOne {
 public:
  constexpr ByteZeroIsOne(uint8_t value = 0) : stored_(uint8_t(value ^ 1u)) {}  // NOLINT: implicit
  constexpr operator uint8_t() const { return uint8_t(stored_ ^ 1u); }          // NOLINT

 private:
  uint8_t stored_;
};

// Skinning data of one position. A zero-initialised VertexAttr is the "zeroed" attribute (auto-bind
// off); kFreshVertexAttr is the one of a preallocated or grown pool. The auto-bind mark is kept
// inverted so that the fresh attribute is all zero bytes: a preallocated pool of fresh attributes
// is then untouched zero storage (see Pool).
struct VertexAttr {
  uint8_t bone = 0;            // bone the position follows
  uint8_t secondByte = 0;      // stored and saved; AutoBind sets it to 0
  float weight = 0.0f;         // AutoBind sets 1.0
  ByteZeroIsOne autoBind = 0;  // 1: AutoBind may assign the nearest bone; 0: the stored bone stays
  friend bool operator==(const VertexAttr&, const VertexAttr&) = default;
};
inline constexpr VertexAttr kFreshVertexAttr{0, 0, 0.0f, 1};

// A group is a material, and carries its polygons again as a de-indexed triangle list (export
// geometry) for the native file. Group{} is the zeroed group that a list resize adds; NewGroup()
// gives the values of a new model's group.
struct Group {
  Name256 name;
  int32_t textureSlot = 0;  // slot in the texture slot list; 0 = no texture
  ColourF colour;
  int32_t shading = 0;  // 1 points, 2 wireframe, 3 flat, 4 and 5 smooth
  uint8_t parameterByte = 0;
  std::array<float, 4> parameterFloats{};
  int32_t doubleSided = 0;  // 1: every triangle is drawn again with its corners reversed
  int32_t parameter = 0;
  int32_t mirror = 0;      // 1: drawn again mirrored in x; the export geometry holds the copy
  int32_t specularOn = 0;  // specular-enable render state while the group is drawn
  std::array<int32_t, 3> specularColour{};  // red, green, blue, 0 to 255

  uint8_t switchA = 0;  // texture switch: while 0 the shader path binds no texture
  int16_t switchAValue = 0;
  uint8_t switchB = 0;
  int16_t switchBValue = 0;
  uint8_t switchC = 0;
  float switchCValue = 0.0f;
  uint8_t switchD = 0;
  float switchDValue = 0.0f;
  uint8_t bumpMapOn = 0;  // with a slot above 0: shading mode 6 after a load
  int16_t bumpMapSlot = 0;
  uint8_t secondMapOn = 0;  // with a slot above 0: shading mode 8 after a load
  int16_t secondMapSlot = 0;
  float mapValue = 0.0f;
  uint8_t reflectionOn = 0;  // 1: the group takes part in the reflection pass
  int16_t reflectionValue = 0;
  uint8_t reflectionByte = 0;
  float reflectivity = 0.0f;
  uint8_t trailingSwitch = 0;  // saved since 2008
  int16_t trailingValue = 0;

  // Export geometry (saved since 2009): exportVertexCount entries of each export pool are used,
  // and exportTriangleCount triangles whose corners use only the position index, as the index of
  // an export vertex.
  int32_t exportVertexCount = 0;
  std::vector<Vec3> exportPositions;
  std::vector<Vec3> exportNormals;
  std::vector<ColourF> exportColours;
  std::vector<Uv> exportUvs;
  std::vector<VertexAttr> exportAttrs;
  std::vector<Polygon> exportTriangles;
  int32_t exportTriangleCount = 0;
  std::vector<Vec3> exportScratchA;  // allocated by the 2009 reader; no other use
  std::vector<Vec3> exportScratchB;

  Vec3 centre;  // centre of the group's bounding box; not saved
  Vec3 boundsMin;
  Vec3 boundsMax;
  uint8_t uvScrollOn = 0;  // 1: drawing adds uvOffset; a load sets deform on (saved since 2009)
  std::array<float, 2> uvScroll{};
  std::array<double, 2> uvOffset{};  // u, v; not saved
  uint8_t spareByte = 0;

  friend bool operator==(const Group&, const Group&) = default;
};

// A texture the groups refer to by slot number. Only the state and the file name are saved.
struct TextureSlot {
  int32_t state = 0;  // 1: the slot names a file; 0: empty
  PathText directory;
  Name256 fileName;
  PathText fullPath;
  int32_t width = 0;  // of the loaded image, written by the texture loader
  int32_t height = 0;
  friend bool operator==(const TextureSlot&, const TextureSlot&) = default;
};

struct BoneKey {
  int32_t frame = 0;
  Vec3 position;
  Vec4 rotation;  // quaternion x, y, z, w
  Vec3 scale;
  friend bool operator==(const BoneKey&, const BoneKey&) = default;
};
inline constexpr BoneKey kRestKey{
    0, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 1.0f}, {1.0f, 1.0f, 1.0f}};

struct Bone {
  Name256 name;
  Vec3 restPosition;                           // relative to the parent bone
  Vec4 restRotation{0.0f, 0.0f, 0.0f, 1.0f};   // saved; the bind pose uses the identity
  Vec3 restScale{1.0f, 1.0f, 1.0f};            // saved; the bind pose uses (1, 1, 1)
  int32_t parent = 0;                          // bone 0 is the root
  std::array<int32_t, 3> values{};             // not saved
  std::vector<std::vector<BoneKey>> keyLists;  // one key list per motion
  Vec3 runtimeVector;                          // runtime; not saved
  int32_t runtimeInt = 0;
  float runtimeFloat = 0.0f;
  friend bool operator==(const Bone&, const Bone&) = default;
};

// One key of a group track. All fields are saved; only the texture slot is read by this system.
// The three trailing 32-bit values are kept as raw bits.
struct GroupKey {
  int32_t value0 = 0;
  int16_t value1 = 0;
  int16_t textureSlot = 0;
  int32_t value2 = 0;
  std::array<uint32_t, 3> words{};
  friend bool operator==(const GroupKey&, const GroupKey&) = default;
};

struct GroupTrack {
  std::array<GroupKey, kMaxTrackKeys> keys{};
  int32_t keyCount = 0;    // at most kMaxTrackKeys
  int32_t currentKey = 0;  // runtime; not saved
  friend bool operator==(const GroupTrack&, const GroupTrack&) = default;
};

// Motion{} is zeroed; NewMotion() gives the values of a new motion.
struct Motion {
  Name256 name;
  int32_t value = 0;
  uint8_t motionByte = 0;                            // saved since 2008
  int16_t motionShort = 0;                           // saved since 2008
  std::array<GroupTrack, kMaxGroupTracks> tracks{};  // track g belongs to group index g
  friend bool operator==(const Motion&, const Motion&) = default;
};

// The nine scalars of runtime drawing state owned by model drawing; not saved.
struct DrawingState {
  int32_t state0 = 0;
  int32_t state1 = 0;
  int32_t state2 = 0;
  int32_t shadowType = 0;
  float shadowHeight = 0.0f;
  float shadowSize = 0.0f;
  float value0 = 0.0f;
  float value1 = 0.0f;
  float value2 = 0.0f;
  friend bool operator==(const DrawingState&, const DrawingState&) = default;
};

// Runtime buffers of model drawing (its own shadow geometry); not saved. Freed with the model.
struct DrawingBuffers {
  int32_t flag = 0;  // 1: drawing takes shadow geometry from here
  int32_t shadowPolygonCount = 0;
  Pool<Polygon> shadowPolygons;
  int32_t shadowPositionCount = 0;
  Pool<Vec3> shadowPositions;
  std::vector<std::byte> bufferA;
  std::vector<std::byte> bufferB;
  friend bool operator==(const DrawingBuffers&, const DrawingBuffers&) = default;
};

// A byte written on one thread and polled on another (the loaded and released marks). Reads
// acquire and writes release, so a thread that sees loaded = 1 sees the whole finished model.
// Copying copies the value.
class SharedByte {
 public:
  SharedByte(uint8_t v = 0) : v_(v) {}  // NOLINT: implicit, like the byte it stands for
  SharedByte(const SharedByte& o) : v_(o.Get()) {}
  SharedByte& operator=(const SharedByte& o) {
    Set(o.Get());
    return *this;
  }
  uint8_t Get() const { return v_.load(std::memory_order_acquire); }
  void Set(uint8_t v) { v_.store(v, std::memory_order_release); }
  friend bool operator==(const SharedByte& a, const SharedByte& b) { return a.Get() == b.Get(); }

 private:
  std::atomic<uint8_t> v_;
};

// ---- The record ---------------------------------------------------------------------------------

// Model{} is the empty state: no pools, empty lists, bones without key lists, every scalar 0.
// CreateModel gives a new model with its defaults.
struct Model {
  int32_t version = 0;  // of the file read; the writer writes kModelVersion
  PathText directory;   // texture file names of a WZP file resolve against it
  PathText fileName;    // the path the model was loaded from
  PathText fullPath;

  // 1 when the pools were preallocated to the library's capacities (GiveCapacityPools): such a
  // slot keeps them as its limit, and readers cut polygons beyond the polygon capacity. Other
  // models take what the file holds.
  uint8_t capacityPools = 0;

  // Pools: the size is the capacity, the count the number of entries in use.
  int32_t positionCount = 0;
  int32_t normalCount = 0;
  int32_t colourCount = 0;
  int32_t uvCount = 0;
  Pool<Vec3> positions;
  Pool<Vec3> normals;  // unit normals
  Pool<ColourF> colours;
  Pool<Uv> uvs;
  Pool<VertexAttr> attrs;  // parallel to positions

  Pool<Polygon> polygons;  // the first polygonCount are in use
  int32_t polygonCount = 0;
  std::vector<Group> groups;  // the first groupCount are in use
  int32_t groupCount = 0;
  std::vector<TextureSlot> textureSlots;  // the first textureSlotCount are in use
  int16_t textureSlotCount = 0;
  int16_t modelMapSlot = 0;  // 2006/2008 files: above 0 selects shading mode 8
  float modelScale = 0.0f;   // saved; no other use

  std::array<Bone, kMaxBones> bones{};  // the first boneCount are in use
  int32_t boneCount = 0;
  int16_t drawingParameter = 0;
  ColourF colour;  // model colour, multiplies group and corner colours; not saved
  int32_t soundNameCount = 0;
  std::array<Name256, kMaxSoundNames> soundNames{};  // not saved
  int32_t drawingSwitch = 0;
  int32_t vertexColoursOn = 0;  // 1: corner colours from the colour pool instead of the group's
  // 1: the model's textures load without the black colour key (kBlackColourKey), for formats
  // whose textures carry their own transparency (OBJ, glTF). Set by such readers before they load
  // textures; a load starts with 0. Not saved.
  uint8_t texturesUnkeyed = 0;
  int32_t edgePassOn = 0;  // 1: an extra black pass pushed out along the normals
  float edgeWidth = 0.0f;  // push distance = edgeWidth * 0.05
  std::vector<Motion> motions;

  DrawingState drawingState;  // not saved
  DrawingBuffers drawingBuffers;

  ModelId modelId = 0;  // the slot of this record
  uint8_t inUse = 0;
  SharedByte loaded;  // 1 once the load has finished; written last
  uint8_t drawingByte = 0;
  SharedByte released;  // set by the model manager's release
  int32_t postLoadMark = 0;
  int32_t spare = 0;
  int32_t shadingMode = 0;  // 2 toon, 3 default, 6 bump map, 8 second map
  int32_t shadingChanged = 0;
  int32_t deformOn = 0;  // 1: drawing uses animatedPositions and smoothNormals

  std::array<Vec3, kMaxBones> boneCentres{};  // written by AutoBind
  std::array<int32_t, kMaxBones> boneCentreCounts{};
  Pool<Vec3> animatedPositions;  // parallel to positions
  Pool<Vec3> smoothNormals;      // parallel to positions; written by DeriveNormals

  int32_t displayMode = 0;  // 0 points, 1 wireframe, 2 solid, 3 solid with bone highlight
  int32_t currentFrame = 0;
  float frameFraction = 0.0f;
  int32_t currentMotion = 0;
  uint8_t playbackByte = 0;
  Vec3 boundsMin;  // over the used positions, computed after a load
  Vec3 boundsMax;
  float spareValue = 0.0f;
  uint8_t drawingFlag = 0;

  friend bool operator==(const Model&, const Model&) = default;
};

// ---- Creation and defaults ----------------------------------------------------------------------

struct NewModelOptions {
  std::string dataDir;       // DataDir, a library path (code page 932)
  bool toonLoaded = false;   // ToonLoaded: shading mode 2 instead of 3
  bool preallocate = false;  // preallocateNext; the caller clears its own flag
  ModelCapacities capacities;
};

// A new model: the empty state, then capacity pools when options.preallocate is set, then the
// new-model defaults, then inUse = 1. The model id is left 0 for the caller to set.
std::unique_ptr<Model> CreateModel(const NewModelOptions& options);

// Capacity pools: positions, normals, colours, UVs, attributes, animated positions and smooth
// normals get capacities.vertices entries each (attributes kFreshVertexAttr, the rest zero), and
// the polygon list capacities.polygons zeroed polygons, and the model is marked (capacityPools).
// Counts are not changed.
void GiveCapacityPools(Model& model, const ModelCapacities& capacities);

// The new-model defaults (everything but the pools and the in-use byte).
void ApplyNewModelDefaults(Model& model, std::string_view dataDir, bool toonLoaded);

Group NewGroup();  // the group of a new model: "グループ", colour 200,200,200,255, shading 4, ...
Motion NewMotion();  // "モーション名", value 60, motion byte 1, motion short -1, tracks zero

// The name of bone k in a new model: "親ボーン" for 0, "ボーン_%02d" otherwise (code page 932).
std::string DefaultBoneName(int k);

// Bone k as in a new model: default name, rest values, parent 0, one key list with the rest key.
void ResetBone(Bone& bone, int k);

// Sets the shading mode (3 becomes 2 when the toon texture is loaded) and marks it changed.
void SetShadingMode(Model& model, int32_t mode, bool toonLoaded);

// ---- Growing pools ------------------------------------------------------------------------------

// Makes `pool` hold at least n entries, new ones equal to `fill`; never shrinks.
template <typename T>
void GrowTo(std::vector<T>& pool, size_t n, const T& fill = T{}) {
  if (pool.size() < n) pool.resize(n, fill);
}
// For a Pool, a fill of zero bytes (every new value but a VertexAttr{}) is the Pool's own new
// entry, which costs nothing where the storage was never used. Readers grow a pool to what they
// then fill, so the first n entries are taken as about to be written.
template <typename T>
void GrowTo(Pool<T>& pool, size_t n, const T& fill = T{}) {
  if (pool.size() < n) {
    if (IsZeroBytes(fill)) {
      pool.resize(n);
    } else {
      pool.resize(n, fill);
    }
  }
  pool.willWrite(n);
}

// Grows the pools parallel to the positions (positions, attributes, animated positions, smooth
// normals) to at least n entries; new attributes are kFreshVertexAttr.
void GrowPositionPools(Model& model, size_t n);

}  // namespace wz
