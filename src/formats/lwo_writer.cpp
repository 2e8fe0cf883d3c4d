// LightWave LWOB writer: the model's positions (× 0.1), its polygons with 16-bit point indices,
// and one flat-coloured surface "WZ<k>" per distinct colour of the polygons' first corners.
// Normals, UVs, textures, group names and everything else are not written. The chunks are
// assembled in ChunkBuffers (a body that learns its length when it is closed), the file is
// written in one piece through a temporary file and a rename.
// Limits: 16-bit point indices hold at most 65536 points, and surface numbers above 32767 would
// read back as detail polygons. A model beyond them is written in part: its polygons in order
// while their points and surfaces fit (LwoPolygonsLeftOut counts the rest), the points then being
// the positions those polygons use, in order of first use.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "formats/formats.h"
#include "model/model_invariants.h"
#include "platform/file_io.h"

namespace wz {
namespace {

constexpr int32_t kMaxPositions = 65536;
constexpr size_t kMaxSurfaces = 32767;

// One chunk body being assembled. Closing it appends the body's length (big-endian 32 bits) and
// the body to the parent's body, or, for the outermost buffer, to the output.
class ChunkBuffer {
 public:
  explicit ChunkBuffer(std::vector<uint8_t>& output) : output_(&output) {}
  ChunkBuffer(const ChunkBuffer&) = delete;
  ChunkBuffer& operator=(const ChunkBuffer&) = delete;

  // Appends the child's identifier here; the child's body starts empty.
  ChunkBuffer(ChunkBuffer& parent, const char id[4]) : parent_(&parent) { parent.Bytes(id, 4); }

  void Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    body_.insert(body_.end(), p, p + n);
  }
  void U16(uint16_t v) {
    const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    Bytes(b, 2);
  }
  void U32(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    Bytes(b, 4);
  }
  void F32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    U32(bits);
  }
  void Close() {
    const auto length = static_cast<uint32_t>(body_.size());
    if (parent_) {
      parent_->U32(length);
      parent_->Bytes(body_.data(), body_.size());
    } else {
      const uint8_t b[4] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8),
                            uint8_t(length)};
      output_->insert(output_->end(), b, b + 4);
      output_->insert(output_->end(), body_.begin(), body_.end());
    }
    body_.clear();
    body_.shrink_to_fit();
  }

 private:
  std::vector<uint8_t> body_;
  ChunkBuffer* parent_ = nullptr;
  std::vector<uint8_t>* output_ = nullptr;
};

// A colour channel as a byte: truncated toward zero, low 8 bits kept. Values that no 32-bit
// integer holds (and NaN) give the integer 0x80000000, whose low byte is 0, as the processor's
// truncating conversion does.
uint8_t ChannelByte(float v) {
  if (!(v >= -2147483648.0f && v < 2147483648.0f)) return 0;
  return static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int32_t>(v)));
}

// "WZ<k>", its NUL, and a pad byte when name plus NUL has odd length.
void SurfaceName(ChunkBuffer& chunk, size_t k) {
  char name[24];
  const int n = std::snprintf(name, sizeof name, "WZ%zu", k);
  chunk.Bytes(name, size_t(n) + 1);
  if ((n + 1) % 2 == 1) chunk.Bytes("", 1);
}

// The sub-chunks after each SURF name: colour, then fixed flags (smoothing, double-sided), a
// smoothing angle of 44.5 degrees, full diffuse, no transparency, specularity or glossiness.
void SurfaceBody(ChunkBuffer& chunk, const uint8_t rgb[3]) {
  const uint8_t colour[10] = {'C', 'O', 'L', 'R', 0, 4, rgb[0], rgb[1], rgb[2], 0};
  static const uint8_t kRest[50] = {
      'F',  'L', 'A', 'G', 0,   2, 0x01, 0x04, 'S',  'M', 'A', 'N', 0,   4, 0x3F, 0x46, 0xD3,
      0xF2, 'D', 'I', 'F', 'F', 0, 2,    0x01, 0x00, 'T', 'R', 'A', 'N', 0, 2,    0,    0,
      'S',  'P', 'E', 'C', 0,   2, 0,    0,    'G',  'L', 'O', 'S', 0,   2, 0,    0};
  chunk.Bytes(colour, sizeof colour);
  chunk.Bytes(kRest, sizeof kRest);
}

// What the layout holds of a model: the polygons written (the model's first ones, while their
// points and surfaces fit), the surface of each, and, for a model with more positions than 16-bit
// point indices reach, the positions written: those the written polygons use, in order of first
// use. A model that fits is written whole, positions as they are.
struct LwoPlan {
  size_t polygons = 0;
  std::vector<uint32_t> surfaceColours;  // 0xRRGGBB, surface k + 1
  std::vector<uint16_t> surfaceOf;       // per polygon written
  bool renumbered = false;
  std::vector<int32_t> pointOf;  // renumbered: per model position, its point number or -1
  std::vector<int32_t> points;   // renumbered: the model position of each point
};

// Precondition: CheckModelInvariants(model) holds.
LwoPlan PlanLwo(const Model& model) {
  LwoPlan plan;
  const size_t polygonCount = size_t(model.polygonCount);
  plan.renumbered = model.positionCount > kMaxPositions;
  if (plan.renumbered) plan.pointOf.assign(size_t(model.positionCount), -1);
  plan.surfaceOf.reserve(polygonCount);
  std::unordered_map<uint32_t, uint16_t> numberOf;
  uint64_t polsBytes = 0;
  for (size_t p = 0; p < polygonCount; ++p) {
    const Polygon& poly = model.polygons[p];
    const ColourF c =
        model.colourCount > 0 ? model.colours[size_t(poly.corners[0].colour)] : ColourF{};
    const uint32_t key =
        uint32_t(ChannelByte(c.r)) << 16 | uint32_t(ChannelByte(c.g)) << 8 | ChannelByte(c.b);
    const auto found = numberOf.find(key);
    if (found == numberOf.end() && plan.surfaceColours.size() == kMaxSurfaces) break;
    const uint64_t bytes = 4 + 2 * uint64_t{poly.cornerCount};
    if (polsBytes + bytes > uint64_t{INT32_MAX} / 2) break;
    if (plan.renumbered) {
      const size_t before = plan.points.size();
      for (int k = 0; k < poly.cornerCount; ++k) {
        int32_t& point = plan.pointOf[size_t(poly.corners[size_t(k)].position)];
        if (point >= 0) continue;
        point = int32_t(plan.points.size());
        plan.points.push_back(poly.corners[size_t(k)].position);
      }
      if (plan.points.size() > size_t(kMaxPositions)) {
        for (size_t i = before; i < plan.points.size(); ++i)
          plan.pointOf[size_t(plan.points[i])] = -1;
        plan.points.resize(before);
        break;
      }
    }
    polsBytes += bytes;
    if (found != numberOf.end()) {
      plan.surfaceOf.push_back(found->second);
    } else {
      plan.surfaceColours.push_back(key);
      plan.surfaceOf.push_back(uint16_t(plan.surfaceColours.size()));
      numberOf.emplace(key, plan.surfaceOf.back());
    }
    plan.polygons = p + 1;
  }
  return plan;
}

}  // namespace

int64_t LwoPolygonsLeftOut(const Model& model) {
  if (CheckModelInvariants(model)) return 0;
  return int64_t{model.polygonCount} - int64_t(PlanLwo(model).polygons);
}

int SaveLwoToMemory(ModelHost& host, const Model& model, const std::string& path,
                    std::vector<uint8_t>& out) {
  out.clear();
  if (auto fault = CheckModelInvariants(model)) {
    host.Refuse(path, "the model breaks an invariant: " + fault->message);
    return 0;
  }
  const LwoPlan plan = PlanLwo(model);
  const size_t polygonCount = plan.polygons;
  const std::vector<uint32_t>& surfaceColours = plan.surfaceColours;
  if (polygonCount < size_t(model.polygonCount)) {
    host.Log(path + " : " + std::to_string(size_t(model.polygonCount) - polygonCount) +
             " polygons left out: LWOB holds 65536 points and 32767 surfaces");
  }

  out.insert(out.end(), {'F', 'O', 'R', 'M'});
  ChunkBuffer form(out);
  form.Bytes("LWOB", 4);

  ChunkBuffer srfs(form, "SRFS");
  for (size_t k = 0; k < surfaceColours.size(); ++k)
    SurfaceName(srfs, k);
  srfs.Close();

  ChunkBuffer pnts(form, "PNTS");
  const double kTenth = 0.1f;
  const size_t points = plan.renumbered ? plan.points.size() : size_t(model.positionCount);
  for (size_t i = 0; i < points; ++i) {
    const Vec3& v = model.positions[plan.renumbered ? size_t(plan.points[i]) : i];
    pnts.F32(float(v.x * kTenth));
    pnts.F32(float(v.y * kTenth));
    pnts.F32(float(v.z * kTenth));
  }
  pnts.Close();

  ChunkBuffer pols(form, "POLS");
  for (size_t p = 0; p < polygonCount; ++p) {
    const Polygon& poly = model.polygons[p];
    pols.U16(poly.cornerCount);
    for (int c = 0; c < poly.cornerCount; ++c) {
      const int32_t position = poly.corners[size_t(c)].position;
      pols.U16(uint16_t(plan.renumbered ? plan.pointOf[size_t(position)] : position));
    }
    pols.U16(plan.surfaceOf[p]);
  }
  pols.Close();

  for (size_t k = 0; k < surfaceColours.size(); ++k) {
    ChunkBuffer surf(form, "SURF");
    SurfaceName(surf, k);
    const uint8_t rgb[3] = {uint8_t(surfaceColours[k] >> 16), uint8_t(surfaceColours[k] >> 8),
                            uint8_t(surfaceColours[k])};
    SurfaceBody(surf, rgb);
    surf.Close();
  }
  form.Close();
  return 1;
}

int SaveLwo(ModelHost& host, const Model& model, const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!SaveLwoToMemory(host, model, path, bytes)) return 0;
  if (!platform::WriteFileAtomically(path, bytes)) {
    host.Refuse(path, "cannot be written");
    return 0;
  }
  return 1;
}

}  // namespace wz
