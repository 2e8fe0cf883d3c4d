// What the glTF and OBJ writers share: the change from the library's frame to the right-handed
// frame of those formats, per-corner normals and colours as drawing sees them, the materials of
// the groups, and the images of the texture slots (found beside the model, kept when they are
// PNG or JPEG, converted to PNG otherwise, written beside the output under portable names).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"
#include "model/model_host.h"

namespace wz::exchange {

// Exchange files are in metres; a library unit is a tenth of a metre (the LightWave reader's
// × 10 from LightWave's metres).
inline constexpr float kMetresPerUnit = 0.1f;

// A library position in the exchange frame: right-handed, y up, +z toward the viewer, metres.
inline Vec3 ToExchange(const Vec3& p) {
  return {p.x * kMetresPerUnit, p.y * kMetresPerUnit, -p.z * kMetresPerUnit + 0.0f};  // no -0
}
inline Vec3 DirectionToExchange(const Vec3& d) {
  return {d.x, d.y, -d.z + 0.0f};
}

// The normal drawing gives corner `c` of polygon `p` (library frame, unit length): the face
// normal in a flat-shaded group, the corner's normal when the model has a normal pool, the smooth
// normal of its position otherwise. A normal that is not finite or has no length becomes the face
// normal, or +y when that has none either.
Vec3 CornerNormal(const Model& model, const Polygon& p, int c);

// The colour drawing gives a group's faces, 0 to 1: the group colour times the model colour,
// or the model colour alone when the model draws corner colours.
struct MaterialColour {
  float rgba[4];
};
MaterialColour GroupColour(const Model& model, const Group& group);
// Corner colour (0 to 1) when the model draws corner colours.
bool UsesCornerColours(const Model& model);
MaterialColour CornerColour(const Model& model, const Corner& corner);

// A group's name as UTF-8, made safe for exchange files (blanks and controls become '_', an empty
// name becomes "material") and unique among `taken`, which it joins.
std::string MaterialName(const Group& group, std::vector<std::string>& taken);

// True when some used polygon has 3 or 4 corners (a face the exchange formats can hold).
bool HasFaces(const Model& model);

// The texture slot a group's faces show: its slot when it names a loaded file, else 0.
int32_t GroupTextureSlot(const Model& model, const Group& group);

struct ExportImage {
  std::string name;      // file name to use (UTF-8, portable characters)
  std::string mimeType;  // "image/png" or "image/jpeg"
  std::vector<uint8_t> bytes;
  bool write = true;  // false: a file with these bytes is already where it would go
};

// The images of the texture slots the groups use. imageOfSlot[s] is the index into images of
// slot s, or -1 when the slot's file could not be found or read (logged through host).
struct ExportImages {
  std::vector<ExportImage> images;
  std::vector<int> imageOfSlot;
  std::vector<std::string> claimed;  // library paths of the files NameImagesBeside made
};
ExportImages GatherImages(ModelHost& host, const Model& model, const std::string& outputPath);

// Names the images for the folder of `outputPath` (a library path) and claims each name by making
// its file (platform::ClaimNewFile), so that no other writer, in this run or another process, can
// take it meanwhile: a file of the same name with other contents is left alone and the image takes
// the next free name ("wood_2.png"); a file with the same contents is kept as it is and the image
// is marked as not to be written; names host.reservedOutput reserves are passed over. False, with
// a refusal line, when a name cannot be made.
bool NameImagesBeside(ModelHost& host, const std::string& outputPath, ExportImages& images);
// For formats whose file names each texture by its slot's file name and finds it beside itself
// (X, WZP; with `bmp`, MX, which reads "<name without its last four characters>.bmp"): makes
// every image the groups show reachable from the output at `outputPath`. An image already where
// the output will look (the same bytes) stays as it is; any other goes into the output's folder,
// its bytes as they are or, for `bmp`, as a BMP, under its own relative name where that stays in
// the folder and is free, else under a free name of its own, claimed as NameImagesBeside does.
// `slotNames[s]` is the name slot s must then be given in the output (empty: unchanged); `placed`
// holds the images to write (WriteImagesBeside) and the files claimed. False, with a refusal
// line, when an image cannot be placed.
bool PlaceImagesByName(ModelHost& host, const Model& model, const std::string& outputPath, bool bmp,
                       std::vector<std::string>& slotNames, ExportImages& placed);
// Writes the images NameImagesBeside marked into that folder. False, with a refusal line, when
// one could not be written.
bool WriteImagesBeside(ModelHost& host, const std::string& outputPath, const ExportImages& images);
// Removes the files NameImagesBeside made (a write that failed leaves nothing behind).
void TakeBackImages(ExportImages& images);

// The writers' files as bytes, for callers that keep them in memory. `path` names the output
// (the buffer file's and the library's names derive from it) and the model in refusal lines.
// BuildGltf: `document` is the .gltf text (its buffer in `buffer`, images named by URI) or, when
// `binary`, the .glb up to the data of its BIN chunk, which is `buffer` (images embedded): the
// file is `document` followed by `buffer`.
int BuildGltf(ModelHost& host, const Model& model, const std::string& path, bool binary,
              const ExportImages& images, std::vector<uint8_t>& document,
              std::vector<uint8_t>& buffer);
int BuildObj(ModelHost& host, const Model& model, const std::string& path,
             const ExportImages& images, std::string& obj, std::string& mtl);

// Encodes B,G,R,A pixels (top row first) as an RGBA PNG. False when libpng fails.
bool EncodePng(const uint8_t* bgra, uint32_t width, uint32_t height, std::vector<uint8_t>& out);

// The folder part of a library path, with its trailing backslash ("" for none), and the path cut
// at its last dot.
std::string FolderOf(const std::string& path);
std::string WithoutExtension(const std::string& path);

}  // namespace wz::exchange
