// X files of the D3DX stand-in: loading every mesh of a text, binary or compressed X file into one
// mesh with its materials, and saving a triangle-list mesh with its materials.
//
// Loading reads the whole file from memory through bounded cursors. Every Mesh of the file (at top
// level or inside Frames at any depth) is taken, its frame transforms applied (positions by the
// world matrix, normals by its inverse transpose, renormalised), and the meshes are concatenated in
// file order. A mesh whose world matrix mirrors (a negative determinant) has the corner order of
// its faces reversed, so that they still face outwards. Faces of more than three indices become
// fans around their first corner, or the triangles of the caller's splitter; faces of fewer are
// dropped. A vertex is one (position, normal, material) combination: the positions a
// face uses become the mesh's vertices in position order (positions no face uses are left out),
// and each further combination a position is used with is appended after the mesh's vertices.
// The materials of the meshes' lists follow each other in mesh order, a material that several
// lists name (by reference) being one material, at its first place; when some meshes have a
// material list and others not, each mesh without one gets one appended default material
// (diffuse 1, 1, 1, 1, no texture). Without any material list there are no materials and every
// attribute id is 0.
//
// Memory and time are in proportion to the file: each material is held once however often it is
// named, a list keeps no more materials than its count, equal positions are merged through a hash
// table, and a compressed body may be at most kXMaxBodyBase + kXMaxBodyRatio times the compressed
// size (x_compress.h).
//
// The loaded mesh has D3DFVF_XYZ plus D3DFVF_NORMAL, D3DFVF_DIFFUSE and D3DFVF_TEX1 when any mesh
// of the file has normals, vertex colours or texture coordinates (missing values are zero); it has
// 32-bit indices (D3DXMESH_32BIT added to the options) when it has more than 65535 vertices. Faces
// stay in file order and the attribute table is empty until the caller sorts the mesh
// (Mesh::OptimizeInplace with D3DXMESHOPT_ATTRSORT): since the material is part of a vertex, that
// sort never needs to split a vertex.
//
// Materials: Diffuse = the file's face colour, Power, Specular and Emissive from the file (alpha
// 1), Ambient zero (the file has none); the texture file name is the first TextureFilename of the
// material, empty for none. In text files a doubled backslash in a string is read as one
// backslash; binary strings are taken as they are.
//
// Limitations: skin weights, animation, effect instances, vertex declarations, template
// declarations and every other object are skipped; only the first texture-coordinate set is read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/d3dx/mesh.h"
#include "platform/win_types.h"

namespace wz::d3dx {

// Why a file was refused (or could not be written).
enum class XError {
  None,
  Io,             // the file could not be read or written
  BadHeader,      // not an X file, or an unknown format or float size
  Compression,    // a compressed block that does not decode to its stated size
  Truncated,      // the data ends inside an object or a record
  Syntax,         // a token where another was expected
  CountTooLarge,  // a count larger than the rest of the file can hold
  BadIndex,       // a vertex, normal or material index out of range
  BadReference,   // a reference to an object not defined before it
  TooDeep,        // frames nested deeper than the loader follows
  NoGeometry,     // no mesh with at least one triangle
  TooLarge,       // the merged mesh does not fit a mesh object
  BadArgument,    // (saving) a mesh or material list that cannot be written
};

// Short English name of an error ("truncated", "bad index", ...).
const char* XErrorName(XError e);

// The outcome of a load or save: the error and a sentence for the log, for example
// "face 3 uses vertex 9 of a mesh with 8 vertices (byte 212)".
struct XStatus {
  XError error = XError::None;
  std::string message;
};

// Nesting depth of Frames the loader follows; deeper files are refused (TooDeep). Objects the
// loader skips may nest to any depth.
constexpr int kXMaxFrameDepth = 256;

// How the long number arrays of a text X file are shared among threads: an array of at least
// twice `minBytesPerRun` bytes is read in stretches of at least that size, at most `maxRuns` of
// them (0: one for the caller and one for each thread of the worker pool; 1: all on the caller).
// A stretch that no thread has begun when the caller gets to it is read by the caller, unless
// `waitForStretches`.
struct XThreads {
  size_t minBytesPerRun = size_t{128} << 10;
  unsigned maxRuns = 0;
  bool waitForStretches = false;
};

// Splits a face of more than three corners into triangles: given the corners' positions (x, y, z
// per corner, in the face's order, after the frame transforms), appends 3 * (n - 2) corner
// numbers (0 to n - 1) to `triangles`. Appending nothing keeps the fan around the first corner.
using XFaceSplitter =
    std::function<void(std::span<const float> xyz, std::vector<uint32_t>& triangles)>;

// Loads the X file in `bytes`. On success returns S_OK, `mesh` holds the merged mesh (created with
// `options`, see above) and `materials` its materials. On failure returns E_FAIL, `mesh` is empty,
// `materials` is cleared and `status` (when given) says why. The result does not depend on
// `threads`.
HRESULT D3DXLoadMeshFromXInMemory(std::span<const uint8_t> bytes, DWORD options,
                                  std::unique_ptr<Mesh>& mesh, std::vector<D3DXMATERIAL>& materials,
                                  XStatus* status = nullptr, const XThreads& threads = {},
                                  const XFaceSplitter& split = {});

// The same for a file given by its library path (read with ReadFileBytes; a file that cannot be
// read gives E_FAIL with XError::Io).
HRESULT D3DXLoadMeshFromX(const std::string& libraryPath, DWORD options,
                          std::unique_ptr<Mesh>& mesh, std::vector<D3DXMATERIAL>& materials,
                          XStatus* status = nullptr);

// Writes `mesh` as an X file: a Frame "Root" with an identity FrameTransformMatrix holding Mesh
// "mesh0" with its positions and faces (indices as 32-bit values), MeshNormals (per vertex, when
// the format has normals), MeshVertexColors (every vertex's diffuse word as four floats, when the
// format has a diffuse colour), MeshTextureCoords (set 0, when the format has one) and, when
// `materials` is not empty, a MeshMaterialList with each face's attribute id and one Material per
// entry ("mat0", "mat1", ...: diffuse as face colour, power, specular, emissive, and a
// TextureFilename when the name is not empty).
// `format` is D3DXF_FILEFORMAT_BINARY or D3DXF_FILEFORMAT_TEXT, optionally with
// D3DXF_FILEFORMAT_COMPRESSED; floats are 32-bit. Fails with D3DERR_INVALIDCALL (BadArgument) for
// an attribute id without a material (unless `materials` is empty), a bad format value, or a
// texture name holding a double quote in text output.
HRESULT D3DXSaveMeshToXInMemory(const Mesh& mesh, std::span<const D3DXMATERIAL> materials,
                                DWORD format, std::vector<uint8_t>& out, XStatus* status = nullptr);

// The same to a file given by its library path, written with WriteFileAtomically: a failed write
// returns E_FAIL (XError::Io) and leaves any earlier file in place.
HRESULT D3DXSaveMeshToX(const std::string& libraryPath, const Mesh& mesh,
                        std::span<const D3DXMATERIAL> materials, DWORD format,
                        XStatus* status = nullptr);

}  // namespace wz::d3dx
