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

std::string Counted(int64_t n, const char* noun, const char* plural) {
  return std::to_string(n) + " " + (n == 1 ? noun : plural);
}

}  // namespace

const TargetFormat* TargetFormatOf(int target) {
  if (target < 0 || target >= TargetFormatCount()) return nullptr;
  return &kTargets[target];
}

int TargetFormatCount() {
  return int(std::size(kTargets));
}

std::vector<std::string> Dropped(const Model& model, const ModelSummary& s,
                                 const TargetFormat& target) {
  const FormatHolds& h = target.holds;
  std::vector<std::string> out;
  if (!h.bones && s.bones > 0) out.push_back(Counted(s.bones, "bone", "bones"));
  if (!h.motions && s.motions > 0) out.push_back(Counted(s.motions, "motion", "motions"));
  if (!h.groupTracks && s.groupTracks > 0)
    out.push_back(Counted(s.groupTracks, "group track", "group tracks"));
  if (!h.textures && s.textures > 0) out.push_back(Counted(s.textures, "texture", "textures"));
  if (!h.vertexColours && s.vertexColours) out.push_back("vertex colours");
  if (!h.lines && s.lines > 0) out.push_back(Counted(s.lines, "line or point", "lines and points"));
  if (h.polygonsLeftOut) {
    if (const int64_t n = h.polygonsLeftOut(model); n > 0)
      out.push_back(Counted(n, "polygon", "polygons"));
  }
  return out;
}

}  // namespace wz
