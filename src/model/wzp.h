// WZP, the library's native model file: a little-endian serialisation of the Model record, field
// by field, without tags. The reader takes the five versions 2004002, 2005000, 2006000, 2008000
// and 2009000 (each later one appends fields at fixed places); the writer writes 2009000 only,
// with every group's export geometry (its polygons again as a de-indexed triangle list, mirrored
// groups with the mirrored half written out).
//
// Files are untrusted: the reader parses from memory through ByteCursor into a scratch copy of
// the model and publishes it only when the whole file was read and the result meets
// CheckModelInvariants; otherwise the model stays as it was and the refusal is logged through
// ModelHost::Refuse. The writer refuses a model that breaks the invariants and writes through a
// temporary file, so a failed save never destroys an existing file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/model.h"
#include "model/model_host.h"

namespace wz {

// The versions the reader knows, oldest first.
inline constexpr int32_t kWzpVersion2004 = 2004002;
inline constexpr int32_t kWzpVersion2005 = 2005000;
inline constexpr int32_t kWzpVersion2006 = 2006000;
inline constexpr int32_t kWzpVersion2008 = 2008000;
inline constexpr int32_t kWzpVersion2009 = 2009000;  // also the version written

// Limits of the reader that the record itself does not impose. A Motion holds 256 group tracks
// (about 100 KB), so the motion count is capped to keep a small file from asking for gigabytes.
// A 2004002 bone stores only a count of rest keys, with no key data, so a few bytes could ask for
// millions of 44-byte keys: each count is capped at the 16-bit range that the other counts of
// that version use, and the rest keys of all bones together at kWzpRestKeysBase plus one per
// kWzpBytesPerRestKey bytes of the file.
inline constexpr int32_t kWzpMaxMotions = 1024;
inline constexpr int32_t kWzpMaxRestKeys = 65535;
inline constexpr int64_t kWzpRestKeysBase = 65536;
inline constexpr int64_t kWzpBytesPerRestKey = 4;

// Reads the file at `path` (a library path) and hands its bytes to LoadWzpFromMemory. A file
// that cannot be read is refused; the completion steps still run.
int LoadWzp(ModelHost& host, Model& model, const std::string& path, int32_t version);

// Reads a WZP file from memory into `model`. `version` is the int32 the model manager read at
// offset 3 and selects the layout.
//  - version below 2004002 or above 2009000: the message box of the library, a refusal line,
//    nothing else; returns 0.
//  - version in range but none of the five: nothing is read; the completion steps run; returns 1.
//  - one of the five: the file is read; a refused file (truncated, a name of 256 bytes or more,
//    a polygon of 0 or more than 4 corners, a track of more than 16 keys, keys in a track of a
//    group past 256, more than 128 bones, too many motions or rest keys, an index outside its
//    pool, a negative count) leaves the model as it was and returns 0 after the completion
//    steps; a read file returns 1. A bone's parent may be any index.
// Completion steps: file name := path, display mode := 2, DeriveNormals, the textures of the
// slots in state 1 loaded from "<model directory>\<slot directory>\<file name>", switch A := 1
// for files older than 2008000, post-load mark := 1, and motion 0 started at once.
int LoadWzpFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

// Saves `model` as a 2009000 file at `path`. Every polygon is written; the mirrored half of a
// group's export geometry stops at PolygonLimit triangles (the cut of a preallocated slot, none
// for another model). False, with a refusal line and no file written,
// when the model breaks its invariants or the file cannot be written; an existing file is then
// left as it was.
bool SaveWzp(ModelHost& host, const Model& model, const std::string& path);

// The bytes SaveWzp writes. `path` only names the file in a refusal line. False (with `out`
// emptied) when the model breaks its invariants.
bool SaveWzpToMemory(ModelHost& host, const Model& model, const std::string& path,
                     std::vector<uint8_t>& out);

// The export geometry of one group: every export pool and the triangle list hold exactly the
// entries in use. Triangles have 3 corners whose position index names an export vertex.
struct ExportGeometry {
  std::vector<Vec3> positions;
  std::vector<Vec3> normals;
  std::vector<ColourF> colours;
  std::vector<Uv> uvs;
  std::vector<VertexAttr> attrs;
  std::vector<Polygon> triangles;
  friend bool operator==(const ExportGeometry&, const ExportGeometry&) = default;
};

// The export geometry of every used group, as the writer saves it. Each face (3 or 4 corners) of
// the group, in polygon order, is split into the fan (0, l + 1, l + 2); each corner becomes the
// first export vertex whose position, normal, colour and UV equal its own as floats compare
// (-0 equals +0, NaN equals nothing), or a new one carrying a copy of its position's attribute.
// A mirrored group then gets the copy of its V vertices with x of position and normal negated
// (zero attributes), and the reversed copy of its triangles with every index raised by V, as long
// as the group has fewer than `polygonCapacity` triangles. Linear in the size of the model.
// Precondition: CheckModelInvariants(model) holds.
std::vector<ExportGeometry> BuildExportGeometry(const Model& model, int32_t polygonCapacity);

// Model3_Save: SaveWzp, and the model takes what the save rules give it: every group keeps the
// export geometry that was rebuilt for the file (also when the file cannot be written), and the
// model's version becomes 2009000 once the file is written.
bool SaveWzpUpdating(ModelHost& host, Model& model, const std::string& path);

// Sets every group's export geometry (counts, pools, triangles, scratch arrays of the vertex
// count) from `exports`, one entry per group.
void StoreExportGeometry(Model& model, std::vector<ExportGeometry>&& exports);

}  // namespace wz
