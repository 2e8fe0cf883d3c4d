// What model drawing makes from a model: the per-group polygon lists, the vertex and index
// buffers, the 44-byte skinned arrays, the range tables, the 16-bit index tables and the
// second-map companion that the shading modes draw from, and the CPU assembly of a group into
// scene vertices. Everything here works on a Model and plain memory; only BuildModelDrawData
// creates device buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model/model.h"
#include "model/model_table.h"
#include "platform/d3d/device.h"
#include "render/draw3d.h"

namespace wz {

// The model fields that the made data depends on besides its geometry; the data is made again
// when one of them changes (geometry edits go through Model3_GeometryChanged).
struct DrawStamp {
  int32_t shadingMode = -1;
  int32_t displayMode = 0;
  int32_t vertexColoursOn = 0;
  int32_t selectedBone = -1;
  ColourF colour;
  int32_t polygonCount = 0;
  int32_t positionCount = 0;
  int32_t groupCount = 0;
  friend bool operator==(const DrawStamp&, const DrawStamp&) = default;
};
DrawStamp StampOf(const Model& model, int32_t selectedBone);

// Vertices and 16-bit indices of one DrawIndexedPrimitiveUP call (at most 65536 vertices).
struct IndexedChunk {
  std::vector<MeshVertex> vertices;
  std::vector<uint16_t> indices;
};

struct GroupDrawData {
  std::vector<int32_t> polygons;  // the group's polygons in polygon order, any corner count
  // The group state: vertex buffer (modes 2 to 5), index buffer (3 to 5) and index count (the
  // list's vertex count in mode 2).
  std::shared_ptr<d3d::VertexBuffer> vertexBuffer;
  std::shared_ptr<d3d::IndexBuffer> indexBuffer;
  int32_t indexCount = 0;
  // The range of the indexed draw (modes 3 to 5): vertices the indices reach, triangles.
  int32_t vertexCount = 0;
  int32_t triangleCount = 0;
  int32_t highestBone = -1;            // the highest bone the skinned vertices name
  std::vector<SkinnedVertex> skinned;  // mode 1: a triangle list
  std::vector<IndexedChunk> chunks;    // mode 9
};

struct ModelDrawData {
  DrawStamp stamp;
  std::vector<GroupDrawData> groups;
  // Mode 8: the model with each group's texture slot replaced by its second-map slot.
  std::unique_ptr<Model> companion;
};

// Makes the drawing data of `model` for its shading mode, creating managed buffers on `device`
// (none when it is null). Groups whose data cannot be made (no triangles, a buffer refused) get
// counts of 0 and draw nothing.
std::shared_ptr<ModelDrawData> BuildModelDrawData(const Model& model, int32_t selectedBone,
                                                  d3d::Device* device);

// The model's drawing data, made again when the model changed since it was made; poses the
// model first when that has not happened since its load.
ModelDrawData& DrawDataFor(Model& model, ModelRuntime& runtime, int32_t selectedBone,
                           d3d::Device* device);

// The world matrices of indexed vertex blending: bone i's skinning matrix times the object's
// world for every bone the model has, the object's world alone for the bones up to
// `highestBone` that it does not have.
void SetBonePalette(d3d::Device& device, const ModelRuntime& runtime, int32_t boneCount,
                    int32_t highestBone, const Mat4& world);

// How the CPU assembly reads the model.
struct AssemblyOptions {
  int32_t object = 0;         // display object number; 252 is drawn inflated and highlighted
  int32_t selectedBone = -1;  // display mode 3
  int32_t renderMode = 0;     // 14 to 17: the double-sided copy is not deformed
  // Deformed positions (parallel to the positions) to use instead of the model's own animated
  // ones; null: the model's.
  const Pool<Vec3>* animated = nullptr;
};

// Appends the triangles of group `group` (its polygons listed in `polygons`) as a triangle list:
// fans of the polygons with 3 or more corners, then mirrored and double-sided copies, each
// corner with its position, normal, colours and texture coordinates.
void AssembleGroup(const Model& model, int32_t group, const std::vector<int32_t>& polygons,
                   const AssemblyOptions& options, SceneVertices& out);

// The edge pass's triangles of the group: each fan reversed (corners n-1, n-m-2, n-m-3), every
// position pushed out along its normal by edge width x 0.05, opaque black, and mirrored copies.
void AssembleEdge(const Model& model, int32_t group, const std::vector<int32_t>& polygons,
                  const AssemblyOptions& options, SceneVertices& out);

// Positions of the model as the frame shows them: the deformed ones while deform is on (when
// the model holds enough of them), else the position pool. `doubleSidedCopy` applies the
// stricter rule of the double-sided copy and the edge pass.
const Pool<Vec3>& ShownPositions(const Model& model, const AssemblyOptions& options,
                                 bool doubleSidedCopy);

// The ARGB colour of the bone highlight of display mode 3 for a position.
D3DCOLOR BoneHighlightColour(const Model& model, int32_t position, int32_t selectedBone);

}  // namespace wz
