// The model manager: slots, loading by extension with the shared post-load steps, background
// loads through the loader thread, motions, and model textures.
#include <strings.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/library.h"
#include "formats/formats.h"
#include "model/binding.h"
#include "model/normals.h"
#include "model/wzp.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/text.h"

namespace wz {
namespace {

using ReaderFn = int (*)(ModelHost&, Model&, const std::string&, int32_t);
// Tells from a file's first bytes (at most kHeadBytes of them) whether they are of the format.
using LooksLikeFn = bool (*)(std::string_view head);

constexpr size_t kHeadBytes = 4096;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

uint32_t Le32(std::string_view b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// The text's lines from `at` on, blanks (spaces, tabs, CR) trimmed; false at the end.
bool NextLine(std::string_view text, size_t& at, std::string_view& line) {
  if (at >= text.size()) return false;
  size_t end = text.find('\n', at);
  if (end == std::string_view::npos) end = text.size();
  line = text.substr(at, end - at);
  at = end + 1;
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    line = {};
  } else {
    line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
  }
  return true;
}

bool LooksLikeX(std::string_view head) {
  return StartsWith(head, "xof ");
}

bool LooksLikeLightWave(std::string_view head) {
  if (head.size() < 12 || !StartsWith(head, "FORM")) return false;
  const std::string_view type = head.substr(8, 4);
  return type == "LWOB" || type == "LWO2" || type == "LWO3";
}

bool LooksLikeMqo(std::string_view head) {
  return StartsWith(head, "Metasequoia Document");
}

bool LooksLikeGlb(std::string_view head) {
  return StartsWith(head, "glTF");
}

// A JSON object that names an "asset" near its start.
bool LooksLikeGltfJson(std::string_view head) {
  if (StartsWith(head, "\xEF\xBB\xBF")) head.remove_prefix(3);
  const size_t first = head.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && head[first] == '{' &&
         head.find("\"asset\"") != std::string_view::npos;
}

// "0" and "SECTION" as the first pair of lines, after any "999" comment pairs.
bool LooksLikeDxf(std::string_view head) {
  size_t at = 0;
  std::string_view line;
  do {
    if (!NextLine(head, at, line)) return false;
  } while (line.empty());
  while (line == "999") {
    if (!NextLine(head, at, line) || !NextLine(head, at, line)) return false;
  }
  return line == "0" && NextLine(head, at, line) && line == "SECTION";
}

// "WZP", or a version the WZP reader takes in the int32 at offset 3.
bool LooksLikeWzp(std::string_view head) {
  if (StartsWith(head, "WZP")) return true;
  if (head.size() < 7) return false;
  const int32_t version = int32_t(Le32(head, 3));
  return version >= kWzpVersion2004 && version <= kWzpVersion2009;
}

// The 32-byte header whose three blocks follow it back to back: each block's offset is where
// the one before it ends, and each size is a whole number of its records.
bool LooksLikeMx(std::string_view head) {
  if (head.size() < 32) return false;
  const uint32_t sizeA = Le32(head, 8), atA = Le32(head, 12), sizeB = Le32(head, 16),
                 atB = Le32(head, 20), sizeC = Le32(head, 24), atC = Le32(head, 28);
  return atA == 32 && uint64_t(atB) == uint64_t(atA) + sizeA &&
         uint64_t(atC) == uint64_t(atB) + sizeB && sizeA % 60 == 0 && sizeB % 168 == 0 &&
         sizeC % 16 == 0;
}

// A first line "ROKKAKU ...", or the "POINT" and "LINE0" lines the reader looks for.
bool LooksLikeRok(std::string_view head) {
  size_t at = 0;
  std::string_view line;
  bool point = false, line0 = false;
  for (int n = 0; NextLine(head, at, line); ++n) {
    if (n == 0 && StartsWith(line, "ROKKAKU")) return true;
    point = point || line == "POINT";
    line0 = line0 || (point && line == "LINE0");
  }
  return line0;
}

// The last guess: the first line that is not blank or a comment starts with an OBJ statement.
bool LooksLikeObj(std::string_view head) {
  size_t at = 0;
  std::string_view line;
  while (NextLine(head, at, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::string_view word = line.substr(0, line.find_first_of(" \t"));
    if (word.size() == line.size()) return false;
    for (std::string_view k :
         {"v", "vt", "vn", "vp", "f", "l", "p", "o", "g", "s", "mtllib", "usemtl"}) {
      if (word == k) return true;
    }
    return false;
  }
  return false;
}

struct ReaderRow {
  const char* extension;
  ReaderFn reader;        // null until the format's reader is built
  LooksLikeFn looksLike;  // null: known by the extension only
};

// The dispatch table. A file goes to the first row whose format its first bytes show, in this
// order (strong magic numbers first, the OBJ guess last); when none does, to the row of its
// extension (compared without regard to case).
// ".lwo" goes to the LWO2 or the LWOB reader by the file's form type.
const ReaderRow kReaders[] = {
    {"x", LoadX, LooksLikeX},
    {"lwo", LoadLightWave, LooksLikeLightWave},
    {"mqo", LoadMqo, LooksLikeMqo},
    {"glb", LoadGltf, LooksLikeGlb},
    {"gltf", LoadGltf, LooksLikeGltfJson},
    {"dxf", LoadDxf, LooksLikeDxf},
    {"wzp", LoadWzp, LooksLikeWzp},
    {"mx", LoadMx, LooksLikeMx},
    {"rok", LoadRok, LooksLikeRok},
    {"obj", LoadObj, LooksLikeObj},
};

const ReaderRow* RowFor(const std::string& path, std::span<const uint8_t> head) {
  const std::string_view text(reinterpret_cast<const char*>(head.data()),
                              std::min(head.size(), kHeadBytes));
  for (const ReaderRow& row : kReaders) {
    if (row.looksLike && row.looksLike(text)) return &row;
  }
  const std::string extension = ModelExtension(path);
  for (const ReaderRow& row : kReaders) {
    if (strcasecmp(extension.c_str(), row.extension) == 0) return &row;
  }
  return nullptr;
}

// Inlined, so that a box grown in a loop stays in registers.
[[gnu::always_inline]] inline void Grow(Vec3& lo, Vec3& hi, const Vec3& p) {
  lo.x = std::min(lo.x, p.x), lo.y = std::min(lo.y, p.y), lo.z = std::min(lo.z, p.z);
  hi.x = std::max(hi.x, p.x), hi.y = std::max(hi.y, p.y), hi.z = std::max(hi.z, p.z);
}

constexpr Vec3 kBoxMin{99999.0f, 99999.0f, 99999.0f};
constexpr Vec3 kBoxMax{-99999.0f, -99999.0f, -99999.0f};

// The library as seen by format readers.
class LibraryModelHost : public ModelHost {
 public:
  // The library's host lives as long as the library: the images inside a model file are
  // forgotten once its textures are loaded, not kept for every model ever read.
  explicit LibraryModelHost(Library& library) : library_(library) { keepEmbeddedFiles = false; }
  void Log(const std::string& line) override { library_.Log("%s", line.c_str()); }
  void LoadModelTexture(Model& model, int32_t slot, const std::string& path) override {
    library_.ModelTexture_Load(model.modelId, slot, path);
  }
  int32_t LoadTexture(const std::string& path, int32_t* index) override {
    return library_.Texture_Load(ResolveNamed(path).c_str(), index);
  }
  int32_t* TextureIdCell(int32_t id) override {
    if (id < 0 || size_t(id) >= library_.TextureIds().size()) return nullptr;
    return &library_.TextureIds()[size_t(id)];
  }
  void TextureSize(int32_t index, float& width, float& height) override {
    library_.Texture_SizeGet(index, width, height);
  }
  std::string TexturePath(int32_t index) override {
    if (index < 0 || size_t(index) >= library_.TextureCount()) return {};
    return library_.Texture_Entry(index).path;
  }
  void ShowMessage(const std::string& text) override { library_.ShowMessage(text.c_str()); }
  void ResetFrameClock() override { library_.ResetFrameClock(); }
  bool MotionSet(Model& model, int32_t motion, float fade) override {
    return library_.Model3_MotionSet(&model, motion, fade);
  }
  bool ToonLoaded() const override { return library_.System().toonLoaded; }
  ModelCapacities Capacities() const override {
    return ModelCapacities::ForPolygonCapacity(library_.PolygonCapacity());
  }
  std::string DataDir() const override { return library_.DataDir(); }

 private:
  Library& library_;
};

// Runs a reader. An allocation failure, or any other exception, is a refusal: the reader may
// have been stopped half way, so the model starts again from the new-model state (without pools,
// which would need the memory that just ran out).
void ReadGuarded(ModelHost& host, ReaderFn reader, Model& model, const std::string& path,
                 int32_t version, const std::string& dataDir, bool toonLoaded) {
  std::string reason;
  try {
    reader(host, model, path, version);
    return;
  } catch (const std::bad_alloc&) {
    reason = "not enough memory to read it";
  } catch (const std::exception& e) {
    reason = std::string("cannot be read (") + e.what() + ")";
  } catch (...) {
    reason = "cannot be read";
  }
  const ModelId id = model.modelId;
  const PathText directory = model.directory, fileName = model.fileName, fullPath = model.fullPath;
  const uint8_t released = model.released.Get();
  const uint8_t capacityPools = model.capacityPools;  // the slot keeps its polygon cut
  model = Model{};
  model.released.Set(released);
  model.capacityPools = capacityPools;
  ApplyNewModelDefaults(model, dataDir, toonLoaded);
  model.inUse = 1;
  model.modelId = id;
  model.directory = directory;
  model.fileName = fileName;
  model.fullPath = fullPath;
  host.Refuse(path, reason);
}

}  // namespace

std::unique_ptr<ModelHost> MakeLibraryModelHost(Library& library) {
  return std::make_unique<LibraryModelHost>(library);
}

ModelHost& Library::Host() {
  return *host_;
}

std::string ModelExtension(const std::string& path) {
  const size_t dot = platform::Cp932FindLast(path, '.');
  if (dot == std::string::npos || dot == 0) return {};
  return path.substr(dot + 1);
}

std::string ModelFormatOf(const std::string& path, std::span<const uint8_t> head) {
  const ReaderRow* row = RowFor(path, head);
  return row ? row->extension : "";
}

void ComputeBoundsAndShading(Model& model, bool toonLoaded) {
  // The boxes grow in locals, written back at the end.
  Vec3 lo = kBoxMin, hi = kBoxMax;
  for (int32_t i = 0; i < model.positionCount; ++i) {
    Grow(lo, hi, model.positions[size_t(i)]);
  }
  model.boundsMin = lo;
  model.boundsMax = hi;
  // Each group's box over the corners of the polygons that use it, in one pass over polygons.
  const size_t groups = size_t(std::max(model.groupCount, 0));
  std::vector<std::pair<Vec3, Vec3>> boxes(groups, {kBoxMin, kBoxMax});
  // The box of the group of the last polygon is kept in locals while the group stays the same.
  int32_t current = -1;
  Vec3 groupLo{}, groupHi{};
  for (int32_t p = 0; p < model.polygonCount; ++p) {
    const Polygon& polygon = model.polygons[size_t(p)];
    if (polygon.group < 0 || polygon.group >= model.groupCount) continue;
    if (polygon.group != current) {
      if (current >= 0) boxes[size_t(current)] = {groupLo, groupHi};
      current = polygon.group;
      std::tie(groupLo, groupHi) = boxes[size_t(current)];
    }
    for (int k = 0; k < polygon.cornerCount; ++k) {
      int32_t at = polygon.corners[size_t(k)].position;
      if (at >= 0 && at < model.positionCount) {
        Grow(groupLo, groupHi, model.positions[size_t(at)]);
      }
    }
  }
  if (current >= 0) boxes[size_t(current)] = {groupLo, groupHi};
  for (size_t g = 0; g < groups; ++g) {
    model.groups[g].boundsMin = boxes[g].first;
    model.groups[g].boundsMax = boxes[g].second;
  }
  bool bump = false, second = false;
  for (int32_t g = 0; g < model.groupCount; ++g) {
    Group& group = model.groups[size_t(g)];
    group.centre = Vec3{(group.boundsMin.x + group.boundsMax.x) * 0.5f,
                        (group.boundsMin.y + group.boundsMax.y) * 0.5f,
                        (group.boundsMin.z + group.boundsMax.z) * 0.5f};
    if (group.uvScrollOn) model.deformOn = 1;
    bump = bump || (group.bumpMapOn && group.bumpMapSlot > 0);
    second = second || (group.secondMapOn && group.secondMapSlot > 0);
  }
  if (bump) SetShadingMode(model, 6, toonLoaded);
  if (second) SetShadingMode(model, 8, toonLoaded);
}

size_t Library::ModelSlotCount() const {
  std::lock_guard lock(modelTable_.mutex);
  return modelTable_.models.size();
}

ModelId Library::Model3_Create() {
  NewModelOptions options;
  options.dataDir = dataDir_;
  options.toonLoaded = systemTextures_.toonLoaded;
  options.preallocate = std::exchange(preallocateNext_, false);
  options.capacities = ModelCapacities::ForPolygonCapacity(polygonCapacity_);
  std::unique_ptr<Model> model = CreateModel(options);

  ModelId id;
  {
    std::lock_guard lock(modelTable_.mutex);
    auto& models = modelTable_.models;
    size_t slot = 0;
    while (slot < models.size() && models[slot] && !models[slot]->released.Get())
      ++slot;
    id = static_cast<ModelId>(slot);
    model->modelId = id;
    if (slot < models.size()) {
      models[slot] = std::move(model);
      *modelTable_.runtimes[slot] = ModelRuntime{};
    } else {
      models.push_back(std::move(model));
      modelTable_.runtimes.push_back(std::make_unique<ModelRuntime>());
    }
    modelTable_.runtimes[slot]->modelId = id;
  }
  SyncRuntime(id);
  return id;
}

void Library::SyncRuntime(ModelId id) {
  Model* model = Model3_Get(id);
  ModelRuntime* runtime = Model3_Runtime(id);
  if (!model || !runtime) return;
  runtime->bones.resize(size_t(std::clamp(model->boneCount, 0, kMaxBones)));
  runtime->groups.resize(size_t(std::max(model->groupCount, 0)));
  runtime->textures.resize(size_t(std::max<int32_t>(model->textureSlotCount, 0)));
  runtime->imageInfos.resize(size_t(std::max<int32_t>(model->textureSlotCount, 0)));
  runtime->ready = 1;
}

Model* Library::Model3_Get(ModelId id) {
  std::lock_guard lock(modelTable_.mutex);
  if (id < 0 || size_t(id) >= modelTable_.models.size()) return nullptr;
  return modelTable_.models[size_t(id)].get();
}

ModelRuntime* Library::Model3_Runtime(ModelId id) {
  std::lock_guard lock(modelTable_.mutex);
  if (id < 0 || size_t(id) >= modelTable_.runtimes.size()) return nullptr;
  return modelTable_.runtimes[size_t(id)].get();
}

void Library::Model3_Release(ModelId id) {
  if (Model* model = Model3_Get(id)) {
    model->released.Set(1);
    // A background wait for this slot ends when the slot is released.
    platform::PostThreadMessageA(mainThread_, platform::WM_NULL, 0, 0);
  }
}

bool Library::Model3_IsLoaded(ModelId id) {
  Model* model = Model3_Get(id);
  // The loaded mark first: it is written last, with release, so once it reads 1 the rest of the
  // record (readers may assign the whole of it) is safe to read.
  return model && model->loaded.Get() == 1 && model->inUse;
}

bool ReadModelFile(ModelHost& host, Model& model, const std::string& path,
                   const std::string& dataDir, bool toonLoaded) {
  FILE* f = platform::OpenFile(path, "rb");
  if (!f) return false;
  std::array<uint8_t, kHeadBytes> head;
  const size_t got = std::fread(head.data(), 1, head.size(), f);
  std::fclose(f);
  int32_t version = 0;
  if (got >= 7) {
    version = static_cast<int32_t>(uint32_t(head[3]) | uint32_t(head[4]) << 8 |
                                   uint32_t(head[5]) << 16 | uint32_t(head[6]) << 24);
  }
  const ReaderRow* row = RowFor(path, std::span<const uint8_t>(head.data(), got));
  if (row && row->reader) ReadGuarded(host, row->reader, model, path, version, dataDir, toonLoaded);
  return true;
}

std::vector<Mat4> FinishLoad(Model& model, bool toonLoaded) {
  ComputeBoundsAndShading(model, toonLoaded);
  std::vector<Mat4> world = BindPose(model);
  AutoBind(model, world);
  return world;
}

ModelId Library::Model3_Load(ModelId id, const std::string& path) {
  if (id == -1) id = Model3_Create();
  if (path.empty()) {
    ShowMessage(WZ_TEXT("ファイル名が指定されていません。"));
    return -1;
  }
  Model* model = Model3_Get(id);
  if (!model) return -1;
  model->texturesUnkeyed = 0;  // the reader says when its textures carry their own alpha
  if (!ReadModelFile(*host_, *model, path, dataDir_, systemTextures_.toonLoaded)) {
    Log(WZ_TEXT("%s を開くことができませんでした。"), path.c_str());
    Model3_Release(id);
    return -1;
  }
  SyncRuntime(id);
  const std::vector<Mat4> world = FinishLoad(*model, systemTextures_.toonLoaded);
  if (ModelRuntime* runtime = Model3_Runtime(id)) {
    for (size_t b = 0; b < runtime->bones.size() && b < world.size(); ++b) {
      runtime->bones[b].world = world[b];
      runtime->bones[b].current = world[b];
      runtime->bones[b].position = Vec3{world[b].m[3][0], world[b].m[3][1], world[b].m[3][2]};
    }
  }
  model->loaded.Set(1);
  ResetFrameClock();
  return id;
}

void Library::ProcessLoadRequest(const LoadRequest& request) {
  try {
    if (Model* model = Model3_Get(request.slotId)) {
      model->directory.Set(request.directory);
      model->fileName.Set(request.fileName);
      model->fullPath.Set(request.directory + "\\" + request.fileName);
      Model3_Load(request.slotId, std::string(model->fullPath.View()));
    }
  } catch (...) {
    // Memory ran out after the reader (bounds, bind pose, textures): the load cannot complete,
    // and the released slot ends the wait for it.
    host_->Refuse(request.fullPath, "not enough memory to complete the load");
    Model3_Release(request.slotId);
  }
  // Wake the waiting thread whether the load succeeded or the slot was released.
  platform::PostThreadMessageA(mainThread_, platform::WM_NULL, 0, 0);
}

bool Library::LoaderSubmit(ModelId id, const std::string& directory, const std::string& fileName) {
  LoadRequest request;
  request.slotId = id;
  if (!fileName.empty()) {
    // Each field ends at its first NUL byte, as the C strings the request was made of do.
    request.directory = directory.substr(0, directory.find('\0'));
    request.fileName = fileName.substr(0, fileName.find('\0'));
    request.fullPath = request.directory + "\\" + request.fileName;
  }
  FILE* f = platform::OpenFile(request.fullPath, "rb");
  if (!f) return false;
  std::fclose(f);
  return loader_.Enqueue(request);
}

bool Library::LoaderWait(ModelId id) {
  if (id == -1) return false;
  bool quit = false;
  int quitCode = 0;
  bool loaded = false;
  for (;;) {
    if (Model3_IsLoaded(id)) {
      loaded = true;
      break;
    }
    Model* model = Model3_Get(id);
    if (!model || model->released.Get() || loader_.State() != LoaderState::Running) break;
    // Messages are dispatched as they come; the loader posts one when a load ends.
    platform::MSG msg;
    if (platform::GetMessageA(&msg, nullptr, 0, 0) == 0) {
      quit = true;
      quitCode = static_cast<int>(msg.wParam);
      continue;
    }
    platform::TranslateMessage(&msg);
    platform::DispatchMessageA(&msg);
  }
  // A quit asked for during the wait is left for the caller's own loop.
  if (quit) platform::PostQuitMessage(quitCode);
  return loaded;
}

ModelId Library::Model3_LoadInBackground(const std::string& path) {
  std::string directory = platform::GetCurrentDirectoryA();
  ModelId id = Model3_Create();
  ModelId result = LoaderSubmit(id, directory, path) ? id : -1;
  if (!LoaderWait(result)) return -1;
  return result;
}

bool Library::Model3_MotionSet(Model* model, int32_t motion, float fadeSeconds) {
  if (!model || motion < 0 || size_t(motion) >= model->motions.size()) return false;
  ModelRuntime* runtime = Model3_Runtime(model->modelId);
  if (!runtime) return false;
  MotionTransition& t = runtime->transition;
  model->deformOn = 1;
  if (motion == model->currentMotion && t.active) return false;
  if (!t.active) {
    t.startMotion = model->currentMotion;
    t.startFrame = model->currentFrame;
    t.startFraction = model->frameFraction;
    t.fromRest = 1;
  }
  model->currentMotion = motion;
  model->currentFrame = 0;
  model->playbackByte = 0;
  t.previousMotion = t.startMotion;
  t.previousFrame = t.startFrame;
  t.previousFraction = t.startFraction;
  t.startFrame = 0;
  t.startFraction = 0;
  t.position = 0;
  t.targetMotion = motion;
  t.active = 1;
  t.step = fadeSeconds <= 0 ? 1.0f : 1.0f / (fadeSeconds * 60.0f);
  return true;
}

bool Library::Model3_Save(Model* model, const std::string& path) {
  return model && SaveWzpUpdating(*host_, *model, path);
}

void Library::ShadingModeSet(Model& model, int32_t mode) {
  SetShadingMode(model, mode, systemTextures_.toonLoaded);
}

void Library::ModelTexture_Load(ModelId id, int32_t slot, const std::string& path) {
  if (slot < 0 || slot >= kLoadableTextureSlots) return;
  ModelRuntime* runtime = Model3_Runtime(id);
  if (!runtime) return;
  // Readers load textures before the load's own sync: follow the slots they have added.
  if (Model* model = Model3_Get(id);
      model && runtime->textures.size() < size_t(std::max<int32_t>(model->textureSlotCount, 0))) {
    SyncRuntime(id);
  }
  if (size_t(slot) >= runtime->textures.size()) return;
  const Model* owner = Model3_Get(id);
  const bool unkeyed = owner && owner->texturesUnkeyed;
  // The model names the file, so it is read only as a regular file within the host's cap and
  // confinement: a device or a FIFO would never end. A refused file loads as one that cannot be
  // read (an empty slot and the usual error line), after a line with the reason.
  std::vector<uint8_t> bytes;
  const platform::NamedFileError error = Host().ReadNamedFile(path, bytes);
  if (error != platform::NamedFileError::kNone && error != platform::NamedFileError::kMissing &&
      error != platform::NamedFileError::kUnreadable) {
    Log("*** LoadError *** %s : %s", path.c_str(), platform::NamedFileErrorText(error));
  }
  ImageLoadFromFileBytes(
      device_.get(), path.c_str(), error == platform::NamedFileError::kNone, bytes,
      runtime->textures[size_t(slot)], runtime->imageInfos[size_t(slot)],
      [this](const char* line) { Log("%s", line); }, unkeyed ? D3DCOLOR{0} : kBlackColourKey);
  if (Model* model = Model3_Get(id); model && size_t(slot) < model->textureSlots.size()) {
    model->textureSlots[size_t(slot)].width = int32_t(runtime->imageInfos[size_t(slot)].Width);
    model->textureSlots[size_t(slot)].height = int32_t(runtime->imageInfos[size_t(slot)].Height);
  }
}

}  // namespace wz
