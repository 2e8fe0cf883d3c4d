// Models and textures of the public interface.
#include <algorithm>
#include <string>

#include "api/api_state.h"
#include "model/model_summary.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/text.h"
#include "wz/model.h"
#include "wz/texture.h"

namespace wz {
namespace api {

// The model's counts as `wz-convert info` gives them.
ModelInfo Describe(const Model& m) {
  ModelInfo info;
  info.polygons = m.polygonCount;
  info.vertices = m.positionCount;
  info.groups = m.groupCount;
  for (int16_t t = 0; t < m.textureSlotCount && size_t(t) < m.textureSlots.size(); ++t)
    info.textures += m.textureSlots[size_t(t)].state == 1;
  const ModelSummary s = Summarise(m);
  info.bones = s.bones;
  info.motions = s.motions;
  info.boundsMin = {m.boundsMin.x, m.boundsMin.y, m.boundsMin.z};
  info.boundsMax = {m.boundsMax.x, m.boundsMax.y, m.boundsMax.z};
  return info;
}

namespace {

// The model of `id` unless it was released; null for none.
Model* Live(ModelId id) {
  Model* m = WZ.Model3_Get(id);
  return m && m->released.Get() == 0 ? m : nullptr;
}

// A loaded model of `id`; null for none.
Model* Loaded(ModelId id) {
  Model* m = Live(id);
  return m && WZ.Model3_IsLoaded(id) ? m : nullptr;
}

// The models of background loads, until they are waited for at Stop.
std::vector<ModelId> backgroundLoads;

// The model file's folder and name (library paths); false for a path with no name.
bool SplitPath(const char* path, std::string& folder, std::string& name) {
  if (!path || !*path) return false;
  const std::string full = ToLibraryPath(path);
  const size_t cut = platform::Cp932FindLast(full, '\\');
  if (cut == std::string::npos || cut + 1 >= full.size()) return false;
  folder = cut == 0 ? "\\" : full.substr(0, cut);
  name = full.substr(cut + 1);
  return true;
}

}  // namespace

void WaitForBackgroundLoads() {
  for (const ModelId id : backgroundLoads) {
    if (Live(id) && !WZ.Model3_IsLoaded(id)) WZ.LoaderWait(id);
  }
  backgroundLoads.clear();
}

}  // namespace api

ModelId LoadModel(const char* path) {
  if (!api::Require("wz::LoadModel")) return kNoModel;
  std::string folder, name;
  if (!api::SplitPath(path, folder, name)) {
    api::SetError("wz::LoadModel: no file name given");
    return kNoModel;
  }
  // Texture names the model gives (".\\a.png", "a.png") resolve beside it, as a dropped file's
  // do; the caller's current directory is kept.
  const std::string before = platform::GetCurrentDirectoryA();
  platform::SetCurrentDirectoryA(folder);
  api::Collected().Clear();
  const ModelId id = WZ.Model3_Create();
  if (Model* m = WZ.Model3_Get(id)) {
    m->directory.Set(folder);
    m->fileName.Set(name);
    m->fullPath.Set(folder + "\\" + name);
  }
  const ModelId loaded = WZ.Model3_Load(id, folder + "\\" + name);
  platform::SetCurrentDirectoryA(before);
  const Model* m = WZ.Model3_Get(id);
  if (loaded < 0 || !m || m->polygonCount <= 0) {
    const std::string reasons = api::Collected().Reasons();
    api::SetError(std::string("wz::LoadModel: ") + path + ": " +
                  (!reasons.empty() ? reasons
                   : loaded < 0     ? "cannot be opened"
                                    : "no polygons were read"));
    WZ.Model3_Release(id);
    return kNoModel;
  }
  return id;
}

ModelId LoadModelInBackground(const char* path) {
  if (!api::Require("wz::LoadModelInBackground")) return kNoModel;
  std::string folder, name;
  if (!api::SplitPath(path, folder, name)) {
    api::SetError("wz::LoadModelInBackground: no file name given");
    return kNoModel;
  }
  const ModelId id = WZ.Model3_Create();
  if (!WZ.LoaderSubmit(id, folder, name)) {
    api::SetError("wz::LoadModelInBackground: the loading thread does not run");
    WZ.Model3_Release(id);
    return kNoModel;
  }
  api::backgroundLoads.push_back(id);
  return id;
}

bool IsModelLoaded(ModelId model) {
  return api::Require("wz::IsModelLoaded") && api::Loaded(model);
}

bool WaitForModel(ModelId model) {
  if (!api::Require("wz::WaitForModel")) return false;
  if (!WZ.LoaderWait(model)) {
    api::SetError("wz::WaitForModel: the model was not loaded");
    return false;
  }
  return true;
}

bool SaveModel(ModelId model, const char* path) {
  if (!api::Require("wz::SaveModel")) return false;
  Model* m = api::Loaded(model);
  if (!m) {
    api::SetError("wz::SaveModel: no loaded model " + std::to_string(model));
    return false;
  }
  if (!path || !*path || !WZ.Model3_Save(m, api::ToLibraryPath(path))) {
    api::SetError(std::string("wz::SaveModel: writing ") + (path ? path : "") + " failed");
    return false;
  }
  return true;
}

bool GetModelInfo(ModelId model, ModelInfo& info) {
  if (!api::Require("wz::GetModelInfo")) return false;
  const Model* m = api::Loaded(model);
  if (!m) {
    api::SetError("wz::GetModelInfo: no loaded model " + std::to_string(model));
    return false;
  }
  info = api::Describe(*m);
  return true;
}

void ReleaseModel(ModelId model) {
  if (api::Require("wz::ReleaseModel") && api::Live(model)) WZ.Model3_Release(model);
}

bool SetModelMotion(ModelId model, int motion, float fadeSeconds) {
  if (!api::Require("wz::SetModelMotion")) return false;
  if (!WZ.Model3_MotionSet(api::Loaded(model), motion, fadeSeconds)) {
    api::SetError("wz::SetModelMotion: no motion " + std::to_string(motion) + " of model " +
                  std::to_string(model) + ", or it is playing");
    return false;
  }
  return true;
}

void AdvanceModel(ModelId model, float frames) {
  if (api::Require("wz::AdvanceModel") && api::Loaded(model)) WZ.Model3_FrameAdvance(model, frames);
}

int LoadTexture(const char* path) {
  if (!api::Require("wz::LoadTexture")) return -1;
  const int index = WZ.Texture_Load(api::ToLibraryPath(path).c_str(), nullptr);
  if (index < 0)
    api::SetError(std::string("wz::LoadTexture: ") + (path ? path : "") +
                  " is no image the library reads");
  return index;
}

bool GetTextureSize(int texture, float& width, float& height) {
  if (!api::Require("wz::GetTextureSize")) return false;
  if (texture < 0 || size_t(texture) >= WZ.TextureCount() || !WZ.Texture_Entry(texture).texture) {
    api::SetError("wz::GetTextureSize: no loaded texture " + std::to_string(texture));
    return false;
  }
  WZ.Texture_SizeGet(texture, width, height);
  return true;
}

int TextureCount() {
  return api::Require("wz::TextureCount") ? int(WZ.TextureCount()) : 0;
}

bool DrawSprite(int texture, int x, int y, float angle, float scale, Rgba c) {
  if (!api::Require("wz::DrawSprite")) return false;
  const int32_t cell = texture;
  if (!WZ.Sprite_Draw(&cell, x, y, angle, scale, scale, c.r, c.g, c.b, c.a)) {
    api::SetError("wz::DrawSprite: no loaded texture " + std::to_string(texture));
    return false;
  }
  return true;
}

}  // namespace wz
