// What a model reader or writer needs from the library around it: the log, textures, the frame
// clock, motions and the capacities. The library object implements it for real loads; tests and
// fuzzers use RecordingModelHost, which loads nothing and keeps the log lines.
//
// Every reader and writer has the form
//   int LoadFmt(ModelHost& host, Model& model, const std::string& path, int32_t version);
//   int LoadFmtFromMemory(ModelHost& host, Model& model, const std::string& path,
//                         std::span<const uint8_t> bytes, int32_t version);
//   int SaveFmt(ModelHost& host, const Model& model, const std::string& path);
// where `path` is a library path (backslashes, code page 932) and `version` is the int32 that
// the model manager read at offset 3 of the file (only the WZP reader uses it).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/model.h"
#include "platform/file_io.h"

namespace wz {

class ModelHost {
 public:
  virtual ~ModelHost() = default;

  // Where the files a model names (textures, material libraries) come from.
  struct NamedFiles {
    // The folder relative names resolve from (a library path); empty: the current directory.
    std::string baseFolder;
    // When not empty, a file outside this folder (a library path; links and ".." resolved) is not
    // read.
    std::string confineTo;
    size_t maxBytes = platform::kMaxNamedFileBytes;
    // Told the library path of every file read through ReadNamedFile (a run that writes files
    // must never replace one it has read).
    std::function<void(const std::string&)> onRead;
  };
  NamedFiles namedFiles;
  // Files a model carries inside itself (the images of a glTF file), by the resolved path they
  // are known under: ReadNamedFile answers those paths from here and never looks on disk for
  // them. A reader adds them before it loads its textures and forgets them afterwards unless the
  // host keeps them for writers that read them again. Safe to use from several threads.
  void AddEmbeddedFile(const std::string& path, std::vector<uint8_t> bytes) {
    std::lock_guard lock(embedded_->mutex);
    embedded_->files[path] = std::move(bytes);
  }
  void ForgetEmbeddedFile(const std::string& path) {
    std::lock_guard lock(embedded_->mutex);
    embedded_->files.erase(path);
  }
  bool keepEmbeddedFiles = true;
  // True for a library path that another output of the same run will take (its main file or a
  // file beside it): writers that name files of their own (images) pass over such names.
  std::function<bool(const std::string&)> reservedOutput;

  // A name the model gives, as the path to open: an absolute name as it is, a relative one under
  // namedFiles.baseFolder.
  std::string ResolveNamed(const std::string& name) const {
    // A name from a file written here may use host separators ("/textures/a.png").
    const bool absolute =
        !name.empty() && (name[0] == '\\' || name[0] == '/' || (name.size() > 1 && name[1] == ':'));
    if (absolute || namedFiles.baseFolder.empty()) return name;
    return namedFiles.baseFolder + "\\" + name;
  }
  // Reads a file the model names (resolved as above): a regular file of at most
  // namedFiles.maxBytes, inside namedFiles.confineTo when that is set. platform::NamedFileErrorText
  // names a failure.
  platform::NamedFileError ReadNamedFile(const std::string& name, std::vector<uint8_t>& out) const {
    const std::string path = ResolveNamed(name);
    {
      std::lock_guard lock(embedded_->mutex);
      if (const auto it = embedded_->files.find(path); it != embedded_->files.end()) {
        out = it->second;
        return platform::NamedFileError::kNone;
      }
    }
    if (!namedFiles.confineTo.empty() && !platform::IsInsideFolder(path, namedFiles.confineTo))
      return platform::NamedFileError::kOutside;
    const platform::NamedFileError error =
        platform::ReadRegularFile(path, out, namedFiles.maxBytes);
    if (error == platform::NamedFileError::kNone && namedFiles.onRead) namedFiles.onRead(path);
    return error;
  }

  // Writes one log line (code page 932, already formatted).
  virtual void Log(const std::string& line) = 0;
  // Refuses a file: logs "*** LoadError *** <path> : <reason>". The one form every reader and
  // writer uses for bad input and failed writes.
  void Refuse(const std::string& path, const std::string& reason) {
    Log("*** LoadError *** " + path + " : " + reason);
  }
  // ShowMessage: a message box that needs the user's attention (code page 932 text). A host
  // without a screen writes it to the log.
  virtual void ShowMessage(const std::string& text) { Log(text); }

  // ModelTexture_Load: loads `path` into texture slot `slot` of the model's runtime and copies the
  // image's width and height into model.textureSlots[slot]. Slots below 0, from 256 up, or beyond
  // the model's texture slots change nothing.
  virtual void LoadModelTexture(Model& model, int32_t slot, const std::string& path) = 0;
  // Texture_Load: appends a row to the texture table; returns the index or -1, also stored
  // through `index` when it is not null.
  virtual int32_t LoadTexture(const std::string& path, int32_t* index) = 0;
  // The cell of the TextureIdMap for `id`, or null when id is outside 0..1023.
  virtual int32_t* TextureIdCell(int32_t id) = 0;
  // Texture_SizeGet: the width and height of a texture-table row, (0, 0) for no row.
  virtual void TextureSize(int32_t index, float& width, float& height) = 0;
  // The file name of a texture-table row ("" for none).
  virtual std::string TexturePath(int32_t index) = 0;

  virtual void ResetFrameClock() = 0;
  // Model3_MotionSet.
  virtual bool MotionSet(Model& model, int32_t motion, float fadeSeconds) = 0;
  virtual bool ToonLoaded() const = 0;
  virtual ModelCapacities Capacities() const = 0;
  virtual std::string DataDir() const = 0;

 private:
  // Shared by copies of the host.
  struct EmbeddedFiles {
    std::mutex mutex;
    std::unordered_map<std::string, std::vector<uint8_t>> files;
  };
  std::shared_ptr<EmbeddedFiles> embedded_ = std::make_shared<EmbeddedFiles>();
};

// The most polygons a reader or writer keeps of `model`: the host's polygon capacity when the
// model's pools were preallocated to it (a window's slot keeps its cut), otherwise every polygon a
// model can count (readers then hold what they size to the memory a read may take).
inline int32_t PolygonLimit(const ModelHost& host, const Model& model) {
  return model.capacityPools ? std::max(host.Capacities().polygons, 0) : INT32_MAX;
}

// A host for tests and fuzzers: loads no texture (slots get width and height 0), keeps every log
// line, answers the texture-table queries from a small table the test fills.
class RecordingModelHost : public ModelHost {
 public:
  void Log(const std::string& line) override { lines.push_back(line); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void LoadModelTexture(Model& model, int32_t slot, const std::string& path) override {
    textureLoads.emplace_back(slot, path);
    if (slot >= 0 && slot < 256 && size_t(slot) < model.textureSlots.size()) {
      model.textureSlots[size_t(slot)].width = 0;
      model.textureSlots[size_t(slot)].height = 0;
    }
  }
  int32_t LoadTexture(const std::string& path, int32_t* index) override {
    textures.push_back(path);
    int32_t result = static_cast<int32_t>(textures.size() - 1);
    if (index) *index = result;
    return result;
  }
  int32_t* TextureIdCell(int32_t id) override {
    if (id < 0 || id >= 1024) return nullptr;
    if (ids.empty()) ids.assign(1024, -1);
    return &ids[size_t(id)];
  }
  void TextureSize(int32_t index, float& width, float& height) override {
    width = height = 0;
    if (index >= 0 && size_t(index) < textureSizes.size()) {
      width = textureSizes[size_t(index)].first;
      height = textureSizes[size_t(index)].second;
    }
  }
  std::string TexturePath(int32_t index) override {
    return index >= 0 && size_t(index) < textures.size() ? textures[size_t(index)] : "";
  }
  void ResetFrameClock() override { ++frameClockResets; }
  bool MotionSet(Model& model, int32_t motion, float) override {
    motionSets.push_back(motion);
    return motion >= 0 && size_t(motion) < model.motions.size();
  }
  bool ToonLoaded() const override { return toonLoaded; }
  ModelCapacities Capacities() const override { return capacities; }
  std::string DataDir() const override { return dataDir; }

  std::vector<std::string> lines;
  std::vector<std::string> messages;
  std::vector<std::pair<int32_t, std::string>> textureLoads;
  std::vector<std::string> textures;
  std::vector<std::pair<float, float>> textureSizes;
  std::vector<int32_t> ids;
  std::vector<int32_t> motionSets;
  int frameClockResets = 0;
  bool toonLoaded = false;
  ModelCapacities capacities;
  std::string dataDir = "\\data";
};

}  // namespace wz
