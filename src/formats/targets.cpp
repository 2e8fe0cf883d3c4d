// The table of target formats and the "dropped" list.
#include "formats/targets.h"

#include "formats/formats.h"
#include "model/wzp.h"

namespace wz {
namespace {

int WriteWzp(ModelHost& host, Model& model, const std::string& path) {
  return SaveWzpUpdating(host, model, path) ? 1 : 0;
}
int WriteLwo(ModelHost& host, Model& model, const std::string& path) {
  return SaveLwo(host, model, path) == 1;
}
int WriteMx(ModelHost& host, Model& model, const std::string& path) {
  return SaveMx(host, model, path) == 1;
}
int WriteX(ModelHost& host, Model& model, const std::string& path) {
  return SaveX(host, model, path) == 1;
}
int WriteGltf(ModelHost& host, Model& model, const std::string& path) {
  return SaveGltf(host, model, path) == 1;
}
int WriteGlb(ModelHost& host, Model& model, const std::string& path) {
  return SaveGlb(host, model, path) == 1;
}
int WriteObj(ModelHost& host, Model& model, const std::string& path) {
  return SaveObj(host, model, path) == 1;
}

FormatHolds Everything() {
  return {true, true, true, true, true, true, nullptr};
}

const TargetFormat kTargets[] = {
    {"wzp",
     "the library's own format: everything a model holds",
     WriteWzp,
     {},
     ImagesOfTarget::kByName,
     Everything()},
    {"lwo",
     "LightWave LWOB: positions, polygons, one surface per colour",
     WriteLwo,
     {},
     ImagesOfTarget::kNone,
     {false, false, false, false, false, true, LwoPolygonsLeftOut}},
    {"mx",
     "MX: quads with pixel UVs and BMP textures",
     WriteMx,
     {},
     ImagesOfTarget::kBmpWithout,
     {false, false, false, true, false, true, MxPolygonsLeftOut}},
    {"x",
     "DirectX X (binary): materials, textures, vertex colours",
     WriteX,
     {},
     ImagesOfTarget::kByName,
     {false, false, false, true, true, false, nullptr}},
    {"gltf",
     "glTF 2.0: NAME.gltf, NAME.bin and the images beside it",
     WriteGltf,
     {".bin"},
     ImagesOfTarget::kOwn,
     {false, false, false, true, true, false, nullptr}},
    {"glb",
     "glTF 2.0 in one binary file, images embedded",
     WriteGlb,
     {},
     ImagesOfTarget::kOwn,
     {false, false, false, true, true, false, nullptr}},
    {"obj",
     "Wavefront OBJ: NAME.obj, NAME.mtl and the images beside it",
     WriteObj,
     {".mtl"},
     ImagesOfTarget::kOwn,
     {false, false, false, true, false, false, nullptr}},
};

}  // namespace

const TargetFormat* TargetFormatOf(int target) {
  if (target < 0 || target >= TargetFormatCount()) return nullptr;
  return &kTargets[target];
}

int TargetFormatCount() {
  return int(std::size(kTargets));
}

std::string DroppedItem::Text() const {
  static constexpr struct {
    const char* key;
    const char* one;
    const char* many;
  } kWords[] = {{"bones", "bone", "bones"},
                {"motions", "motion", "motions"},
                {"group_tracks", "group track", "group tracks"},
                {"textures", "texture", "textures"},
                {"vertex_colours", "vertex colours", "vertex colours"},
                {"lines", "line or point", "lines and points"},
                {"polygons", "polygon", "polygons"}};
  for (const auto& w : kWords) {
    if (key != w.key) continue;
    if (key == std::string_view("vertex_colours")) return w.one;
    return std::to_string(count) + " " + (count == 1 ? w.one : w.many);
  }
  return key;
}

std::vector<DroppedItem> Dropped(const Model& model, const ModelSummary& s,
                                 const TargetFormat& target) {
  const FormatHolds& h = target.holds;
  std::vector<DroppedItem> out;
  if (!h.bones && s.bones > 0) out.push_back({"bones", s.bones});
  if (!h.motions && s.motions > 0) out.push_back({"motions", s.motions});
  if (!h.groupTracks && s.groupTracks > 0) out.push_back({"group_tracks", s.groupTracks});
  if (!h.textures && s.textures > 0) out.push_back({"textures", s.textures});
  if (!h.vertexColours && s.vertexColours) out.push_back({"vertex_colours", 1});
  if (!h.lines && s.lines > 0) out.push_back({"lines", s.lines});
  if (h.polygonsLeftOut) {
    if (const int64_t n = h.polygonsLeftOut(model); n > 0) out.push_back({"polygons", n});
  }
  return out;
}

}  // namespace wz
