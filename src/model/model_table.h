// The model slots: one Model and one ModelRuntime per ModelId, in two lists that only grow. A
// released model keeps its slot until Model3_Create hands the slot out again.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/vec_math.h"
#include "model/model.h"
#include "model/model_host.h"
#include "platform/d3d/texture.h"
#include "platform/d3dx/image_decode.h"

namespace wz {

struct BoneState {
  Mat4 world{};     // bind-pose world matrix (BindPose)
  Vec3 position{};  // world position
  Mat4 current{};   // the animated world matrix (motion playback); the bind pose after a load
};

struct GroupState {
  int32_t value = 0;
};

// What Model3_MotionSet fills to cross-fade from one motion to the next.
struct MotionTransition {
  uint8_t active = 0;
  int32_t previousMotion = 0;
  int32_t previousFrame = 0;
  float previousFraction = 0;
  int32_t startMotion = 0;
  int32_t startFrame = 0;
  float startFraction = 0;
  int32_t targetMotion = 0;
  float position = 0;
  float step = 0;
  uint8_t fromRest = 0;
};

// The buffers and tables model drawing makes from a model (render/model_drawing.h).
struct ModelDrawData;

// Per-model state of drawing and animation.
struct ModelRuntime {
  uint8_t ready = 0;
  ModelId modelId = kNoModel;
  std::vector<BoneState> bones;
  std::vector<GroupState> groups;
  std::vector<std::shared_ptr<d3d::Texture>> textures;
  std::vector<d3dx::D3DXIMAGE_INFO> imageInfos;
  MotionTransition transition;
  // Owned by drawing and animation, on the main thread only: the drawing data (made on the
  // first draw and again when the model changes) and whether the deformed positions have been
  // computed since the load.
  std::shared_ptr<ModelDrawData> drawing;
  uint8_t posed = 0;
};

// The slots. The lists are deques of owning pointers, so a Model or ModelRuntime never moves
// while the loader thread fills it; the lock guards the lists themselves (appends and slot
// replacement), not the records.
struct ModelTable {
  mutable std::mutex mutex;
  std::deque<std::unique_ptr<Model>> models;
  std::deque<std::unique_ptr<ModelRuntime>> runtimes;
};

// The extension rule of Model3_Load: the text after the last dot of the path, unless that dot is
// its first character; empty without a dot. The directory part is not excluded.
std::string ModelExtension(const std::string& path);
// The dispatch row (named by its extension: "dxf", "x", ...) a file with these first bytes and
// this path goes to: the first format the bytes show, else the extension's; "" for none.
std::string ModelFormatOf(const std::string& path, std::span<const uint8_t> head);

// The post-load steps shared by every format: the model's and each group's bounding box and
// centre, deform on for UV scrolling, the shading selection (6 for a bump map, 8 for a second
// map, 8 winning).
void ComputeBoundsAndShading(Model& model, bool toonLoaded);

// Reads the model file at `path` into `model` as Model3_Load does: the int32 at offset 3 of the
// file as the WZP version, the reader the extension picks (an allocation failure or any other
// exception in it is a refusal, logged through host). False when the file cannot be opened.
bool ReadModelFile(ModelHost& host, Model& model, const std::string& path,
                   const std::string& dataDir, bool toonLoaded);
// The steps every load ends with: bounds and shading, the bind pose (returned, one matrix per
// bone) and automatic binding.
std::vector<Mat4> FinishLoad(Model& model, bool toonLoaded);

}  // namespace wz
