// The entry points of the exchange-format readers and writers. Every reader has a file form,
// which reads the whole file and hands it to its memory form, and a memory form that parses the
// bytes it is given; writers build the file in memory and replace the target in one step. All
// take the library around them as a ModelHost (see model/model_host.h for the shapes and for
// how refusals are logged). Results: 1 when the model was read or the file written, 0 when the
// input was refused or the write failed; a refused read leaves the model as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "model/model_host.h"
#include "platform/win_types.h"  // E_FAIL

namespace wz {

// The log line of a reader that cuts the polygons of a file at the polygon capacity:
// "<path> : ポリゴン数 <count> ( 最大<capacity>を超えています )" (code page 932). The limit comes
// from PolygonLimit (model/model_host.h): only a preallocated model is cut.
std::string PolygonCapacityLine(const std::string& path, int64_t count, int32_t capacity);

// True when a reader may take `needBytes` for the model it makes from `inputBytes` of file: at
// most 256 MB and 16 times the input's size. Checked before anything is sized.
inline bool ReadMemoryAllows(uint64_t needBytes, uint64_t inputBytes) {
  constexpr uint64_t kBase = uint64_t{256} << 20, kPerInputByte = 16;
  return inputBytes > (UINT64_MAX - kBase) / kPerInputByte ||
         needBytes <= kBase + kPerInputByte * inputBytes;
}

// ---- LightWave LWOB and Metasequoia (lwo_reader.cpp, lwo_writer.cpp, mqo_reader.cpp) -----------

// Reads a LightWave object file of the LWOB generation: points (× 10), polygons (larger ones as
// n - 2 triangles, detail polygons as ordinary ones), one group per surface with the surface
// colour (grey 128 without one), one colour entry per polygon. Polygons beyond PolygonLimit
// (counted after the fans) are cut with PolygonCapacityLine; a file whose polygons would take more
// memory than ReadMemoryAllows is refused. Runs DeriveNormals.
int LoadLwo(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadLwoFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

// Writes the model as an LWOB file: one flat-coloured surface "WZ<k>" per distinct first-corner
// colour, positions × 0.1, 16-bit point indices. A model beyond what the layout holds (65536
// points, 32767 surfaces) is written in part, its polygons in order while they fit, with a log
// line; the points are then the positions those polygons use, in order of first use. The file is
// replaced atomically; 0 when the model breaks its invariants or the file could not be written.
int SaveLwo(ModelHost& host, const Model& model, const std::string& path);
// How many polygons SaveLwo leaves out of `model` (0 when all fit, or when it breaks the model
// invariants and is refused whole).
int64_t LwoPolygonsLeftOut(const Model& model);
// The same file as bytes; `path` only names the model in a refusal line.
int SaveLwoToMemory(ModelHost& host, const Model& model, const std::string& path,
                    std::vector<uint8_t>& out);

// Reads a Metasequoia "Format Text Ver 1.0" document (CR LF line ends): materials as groups with
// colour and texture, every object's vertices ((x, y, -z) × 0.1) and its faces of 2 to 4
// vertices with UVs for textured materials; faces beyond PolygonLimit are cut with
// PolygonCapacityLine. Runs DeriveNormals and loads the textures through host.LoadModelTexture.
int LoadMqo(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadMqoFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

// Reads a LightWave object file of the LWO2 generation (LightWave 6 and later): every layer's
// points (× 10) and FACE polygons (larger ones as n - 2 triangles; other polygon types skipped and
// counted in one log line), one group per surface with its colour, diffuse level, transparency,
// sides and smoothing, and the first UV-mapped colour image of each surface as a texture slot with
// the corners' texture coordinates (v as 1 - v). Runs DeriveNormals and loads the textures through
// host.LoadModelTexture.
int LoadLwo2FromMemory(ModelHost& host, Model& model, const std::string& path,
                       std::span<const uint8_t> bytes, int32_t version);

// The reader of ".lwo" files: LWO2 files (form type "LWO2") go to the LWO2 reader, LWO3 files
// are refused, every other file goes to the LWOB reader.
int LoadLightWave(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadLightWaveFromMemory(ModelHost& host, Model& model, const std::string& path,
                            std::span<const uint8_t> bytes, int32_t version);

// ---- End of LightWave LWOB and Metasequoia -----------------------------------------------------

// ---- Wavefront OBJ and glTF 2.0 (obj_reader.cpp, obj_writer.cpp, gltf_reader.cpp,
// gltf_writer.cpp)
//
// Both formats are right-handed with y up and in metres; the library is left-handed with y up and
// a library unit is a tenth of a metre. Readers and writers negate z, reverse every face's corner
// order and scale by 10 (read) or 0.1 (write). OBJ's v runs upward (v <-> 1 - v); glTF's does not.

// Reads an OBJ document and the material libraries it names, beside it (each file once, regular
// files only, through host.ReadNamedFile; one that cannot be read is a log line, not a refusal):
// faces of 3 or 4 corners as they are, larger ones (of any number of corners) as n - 2 triangles
// (concave ones split along their outline, model/polygon_split.h); vertex colours; one group per
// material used (Kd, d, map_Kd as colour, alpha and texture slot); normals kept when every corner
// has one. Runs DeriveNormals and loads the textures through host.LoadModelTexture.
int LoadObj(ModelHost& host, Model& model, const std::string& path, int32_t version);
// The same with the text of the material libraries given.
int LoadObjFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, std::string_view materialText,
                      int32_t version);

// Writes NAME.obj, its material library NAME.mtl and the groups' images beside it (PNG and JPEG
// copied, other images converted to PNG). 0 (with a refusal line) when the model is not sound,
// has no face of 3 or 4 corners, or a file could not be written.
int SaveObj(ModelHost& host, const Model& model, const std::string& path);

// Writes a glTF 2.0 document NAME.gltf with its buffer NAME.bin and the images beside it
// (SaveGltf), or one binary file holding all of them (SaveGlb). 0 as for SaveObj.
int SaveGltf(ModelHost& host, const Model& model, const std::string& path);
int SaveGlb(ModelHost& host, const Model& model, const std::string& path);

// Reads a glTF 2.0 document (.gltf, with its buffers and images in data: URIs or in files beside
// it read through host.ReadNamedFile) or binary file (.glb): the triangles, strips and fans of
// every mesh the default scene's nodes show (all root nodes when there is no scene), each node's
// transform baked in (corners reversed where it mirrors), normals kept when every primitive has
// them; one group per material (base colour, BLEND alpha, MASK as opaque or hidden, double-sided,
// base colour texture as a texture slot); COLOR_0 as corner colours. Images inside the file are
// handed to the host as embedded files under names beside the model. Points, lines, skins and
// animations are counted in the log, not read. Triangles beyond PolygonLimit are cut with
// PolygonCapacityLine; a file whose model would take more memory than ReadMemoryAllows is
// refused. Runs DeriveNormals and loads the textures through host.LoadModelTexture.
int LoadGltf(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadGltfFromMemory(ModelHost& host, Model& model, const std::string& path,
                       std::span<const uint8_t> bytes, int32_t version);

// ---- End of Wavefront OBJ and glTF 2.0 ----------------------------------------------------------

// ---- DirectX X (x_mesh.cpp) ---------------------------------------------------------------------
//
// LoadX reads every mesh of a text, binary or compressed X file into the model: one position,
// normal, colour and UV per mesh vertex (positions unscaled; a colour whose alpha byte is 0 is
// white; the colours are drawn when the file gives vertex colours), one triangle per face sorted
// by material, one group per material (at most 256; one
// white group when the file has none), a texture slot per material that names a texture (loaded
// with host.LoadModelTexture, the group named after the texture up to its last dot), the bones'
// first key list brought to 16 keys, then DeriveNormals. Faces beyond PolygonLimit are cut with
// PolygonCapacityLine; a mesh whose model would take more memory than ReadMemoryAllows is refused
// (E_FAIL). Returns 1 when the model was filled; E_FAIL when the file is refused
// (logged through host.Refuse, the model left unchanged); -1 when the loaded mesh cannot be
// brought to the vertex layout or sorted (logged, the model left unchanged).
int LoadX(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadXFromMemory(ModelHost& host, Model& model, const std::string& path,
                    std::span<const uint8_t> bytes, int32_t version);

// SaveX writes the model as a binary X file: every used polygon of 3 or 4 corners as a fan of
// triangles around its first corner, one vertex per triangle corner (position / 5, normal and UV
// from their pools), 32-bit indices when the vertices do not fit 16 bits, one material per group
// that has such a polygon, in group order (diffuse: the group colour as drawing shows it;
// specular colour and power 20 when the group's specular is on, black and 0 otherwise; the file
// its texture slot names), each face naming its group's material, and, when the model draws
// corner colours, each vertex's colour as drawn (corner colour times model colour). Returns 1
// when the file was written, -1 when there is nothing to write, the model is not sound, a
// position (after the / 5), normal or UV of a written corner is not a finite number, or the
// write failed (each logged through host.Refuse; an earlier file at `path` is then left as it
// was).
int SaveX(ModelHost& host, const Model& model, const std::string& path);

// ---- MX (quad lists with pixel UVs), Rokkaku Daioh ROK, DXF 3DFACE ------------------------------

int LoadMx(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadMxFromMemory(ModelHost& host, Model& model, const std::string& path,
                     std::span<const uint8_t> bytes, int32_t version);
// Writes the model as an MX file. Block A counts the quads in 16 bits and a quad names its group
// in 16 signed bits: a model beyond them is written in part, its first polygons while they fit,
// with a log line. Refused (0): a model that breaks its invariants, a texture name that does not
// fit a name record, a failed write.
int SaveMx(ModelHost& host, const Model& model, const std::string& path);
// How many polygons SaveMx leaves out of `model` (0 when all fit, or when it breaks the model
// invariants and is refused whole).
int64_t MxPolygonsLeftOut(const Model& model);

int LoadRok(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadRokFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

int LoadDxf(ModelHost& host, Model& model, const std::string& path, int32_t version);
// How a large DXF file is shared among threads: stretches of at least `minBytesPerRun` bytes, at
// most `maxRuns` of them (0: one for the caller and one for each thread of the worker pool).
struct DxfThreads {
  size_t minBytesPerRun = size_t{1} << 20;
  unsigned maxRuns = 0;
};
int LoadDxfFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version,
                      const DxfThreads& threads = {});
}  // namespace wz
