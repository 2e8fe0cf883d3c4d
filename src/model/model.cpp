// Creation of the model record: capacity pools and the new-model defaults.
#include "model/model.h"

#include <cstdio>

#include "platform/text.h"

namespace wz {

std::unique_ptr<Model> CreateModel(const NewModelOptions& options) {
  auto model = std::make_unique<Model>();
  if (options.preallocate) GiveCapacityPools(*model, options.capacities);
  ApplyNewModelDefaults(*model, options.dataDir, options.toonLoaded);
  model->inUse = 1;
  return model;
}

void GiveCapacityPools(Model& model, const ModelCapacities& capacities) {
  const size_t v = static_cast<size_t>(std::max(capacities.vertices, 0));
  const size_t p = static_cast<size_t>(std::max(capacities.polygons, 0));
  // Emptied, then grown: a Pool's new entries are zero bytes, which is Vec3{}, ColourF{}, Uv{},
  // Polygon{} and kFreshVertexAttr, and storage a Pool never used is zero already, so a new
  // model's pools cost no memory until entries are written.
  auto give = [](auto& pool, size_t n) {
    pool.clear();
    pool.resize(n);
  };
  give(model.positions, v);
  give(model.normals, v);
  give(model.colours, v);
  give(model.uvs, v);
  give(model.attrs, v);
  give(model.animatedPositions, v);
  give(model.smoothNormals, v);
  give(model.polygons, p);
  model.capacityPools = 1;
}

Group NewGroup() {
  Group g;
  g.name.Set(WZ_TEXT("グループ"));
  g.textureSlot = 0;
  g.colour = {200.0f, 200.0f, 200.0f, 255.0f};
  g.shading = 4;
  g.parameterByte = 0;
  g.parameterFloats = {0.0f, 0.0f, 1.0f, 1.0f};
  g.doubleSided = 0;
  g.parameter = 4;
  g.mirror = 0;
  g.specularOn = 0;
  g.specularColour = {64, 64, 64};
  g.switchA = 0;
  g.switchAValue = 0;
  g.switchB = 0;
  g.switchBValue = 1;
  g.switchC = 0;
  g.switchCValue = 1.0f;
  g.switchD = 0;
  g.switchDValue = 1.0f;
  g.bumpMapOn = 0;
  g.bumpMapSlot = 0;
  g.secondMapOn = 0;
  g.secondMapSlot = 0;
  g.mapValue = 1.0f;
  g.reflectionOn = 0;
  g.reflectionValue = 0;
  g.reflectionByte = 0;
  g.reflectivity = 1.0f;
  g.trailingSwitch = 0;
  g.trailingValue = 1;
  g.uvScrollOn = 0;
  g.uvScroll = {0.0f, 0.0f};
  g.uvOffset = {0.0, 0.0};
  g.spareByte = 1;
  return g;
}

Motion NewMotion() {
  Motion m;
  m.name.Set(WZ_TEXT("モーション名"));
  m.value = 60;
  m.motionByte = 1;
  m.motionShort = -1;
  return m;
}

std::string DefaultBoneName(int k) {
  if (k == 0) return WZ_TEXT("親ボーン");
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02d", k);
  return std::string(WZ_TEXT("ボーン_")) + digits;
}

void ResetBone(Bone& bone, int k) {
  bone.name.Set(DefaultBoneName(k));
  bone.restPosition = {0.0f, 0.0f, 0.0f};
  bone.restRotation = {0.0f, 0.0f, 0.0f, 1.0f};
  bone.restScale = {1.0f, 1.0f, 1.0f};
  bone.parent = 0;
  bone.values = {0, 0, 0};
  bone.runtimeVector = {0.0f, 0.0f, 0.0f};
  bone.runtimeInt = 0;
  bone.runtimeFloat = 0.0f;
  bone.keyLists.assign(1, std::vector<BoneKey>{kRestKey});
}

void SetShadingMode(Model& model, int32_t mode, bool toonLoaded) {
  model.shadingMode = (mode == 3 && toonLoaded) ? 2 : mode;
  model.shadingChanged = 1;
}

void ApplyNewModelDefaults(Model& model, std::string_view dataDir, bool toonLoaded) {
  // Names and paths.
  model.version = kModelVersion;
  model.directory.Set(dataDir);
  model.fileName.Set(WZ_TEXT("新規.WZP"));
  std::string full(model.directory.View());
  full += '/';
  full += model.fileName.View();
  model.fullPath.Set(full);

  // Counts, the one group and the one empty texture slot.
  model.positionCount = 0;
  model.normalCount = 0;
  model.colourCount = 0;
  model.uvCount = 0;
  model.polygonCount = 0;
  model.groupCount = 1;
  model.groups.resize(1);
  model.groups[0] = NewGroup();
  model.textureSlotCount = 1;
  model.textureSlots.resize(1);
  model.textureSlots[0] = TextureSlot{};

  model.modelScale = 1.0f;
  model.modelMapSlot = 0;
  model.drawingParameter = 4;
  model.boneCount = 2;
  for (int k = 0; k < kMaxBones; ++k)
    ResetBone(model.bones[k], k);

  model.motions.clear();
  model.motions.push_back(NewMotion());

  model.drawingState = {1, 1, 1, 0, -0.01f, 1.0f, 0.0f, 1.0f, 0.0f};
  model.loaded.Set(0);
  model.drawingByte = 1;
  model.released.Set(0);
  model.postLoadMark = 1;
  model.spare = 0;

  SetShadingMode(model, 3, toonLoaded);

  model.colour = {255.0f, 255.0f, 255.0f, 255.0f};
  model.deformOn = 0;
  model.displayMode = 2;
  model.soundNameCount = 1;
  model.soundNames[0].Set(WZ_TEXT("なし"));

  model.edgeWidth = 1.0f;
  model.drawingSwitch = 1;
  model.vertexColoursOn = 0;
  model.edgePassOn = 0;
  model.currentFrame = 0;
  model.frameFraction = 0.0f;
  model.currentMotion = 0;
  model.playbackByte = 0;
  model.boundsMin = {0.0f, 0.0f, 0.0f};
  model.boundsMax = {0.0f, 0.0f, 0.0f};
  model.spareValue = 3.0f;
  model.drawingFlag = 0;
}

void GrowPositionPools(Model& model, size_t n) {
  GrowTo(model.positions, n);
  GrowTo(model.attrs, n, kFreshVertexAttr);  // zero bytes: see VertexAttr
  GrowTo(model.animatedPositions, n);
  GrowTo(model.smoothNormals, n);
}

}  // namespace wz
