// One conversion as a job: a model file and the folder its output goes to, with everything the
// conversion needs carried in the job and its run (the folder the model's texture names resolve
// from, the run's record of its outputs and of the files it has read), and no process-wide
// state: no current directory, no window, no library object. The command line runs jobs on
// worker threads; the converter window loads a dropped file into its own model slot and runs the
// save half of a job on it.
//
// What a run promises: no output replaces a file the run has read (models, textures, material
// libraries), nor one whose name differs from the output's only by case; of two inputs that map
// to one output, the later one is skipped; images the output names are put where it will look
// for them; what the target cannot hold is counted in `dropped`.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/load_log.h"
#include "formats/targets.h"
#include "model/model.h"
#include "model/model_host.h"
#include "platform/file_io.h"

namespace wz {

// What every job of a run shares.
struct ConvertSettings {
  int target = 0;       // a batch target (TargetFormatOf)
  std::string dataDir;  // the library's data directory (new-model defaults)
  bool toonLoaded = false;
  ModelCapacities capacities;
  // Files a model names are read only from the model's folder and below.
  bool confine = false;
};

struct ConvertJob {
  std::string input;      // library path of the model file
  std::string outputDir;  // library path of the output's folder; empty: the input's folder
};

struct ConvertOutcome {
  enum Kind { kConverted, kNoModel, kNoGeometry, kNoWriter, kWriteFailed, kSkipped };
  // Why a file was skipped.
  enum class Skip {
    kNone,
    kReplacesInput,  // an output would replace an input of the run (`conflict`)
    kReplacesRead,   // ... a file the run has read, a texture or a library (`conflict`)
    kNameCase,       // ... a file whose name differs only by case (`conflict`)
    kSameOutput,     // an earlier input (`conflict`) has the same output
  };
  Kind kind = kNoModel;
  Skip skip = Skip::kNone;
  std::string path;      // the input (library path)
  std::string output;    // the main output written, or the one that was not (library path)
  std::string conflict;  // see Skip
  std::vector<DroppedItem> dropped;  // what the target cannot hold
  // From what the job logged (RunConvertJob): notes on a converted file, the reasons of one that
  // failed, and every line (UTF-8) for --verbose.
  std::string notes;
  std::string reasons;
  std::vector<std::string> log;
};

// The run: its jobs, the outputs planned for them, and the files read so far. Safe to use from
// several threads.
class ConvertRun {
 public:
  ConvertRun(ConvertSettings settings, std::vector<ConvertJob> jobs);

  const ConvertSettings& Settings() const { return settings_; }
  size_t Size() const { return jobs_.size(); }
  const ConvertJob& Job(size_t k) const { return jobs_[k]; }
  // The main output of job k (a library path) and the files written beside it (.bin, .mtl).
  const std::vector<std::string>& OutputsOf(size_t k) const { return outputs_[k]; }
  // The earlier job with the same output as job k (a main output or a file beside it, names
  // compared without case), or k itself.
  size_t FirstWithOutputOf(size_t k) const { return first_[k]; }

  // Notes a file the run has read: no output may replace it.
  void NoteRead(const std::string& libraryPath);
  // True when `libraryPath` is an output of some job of the run (names compared without case).
  bool Reserved(const std::string& libraryPath) const;
  // Whether writing to `output` for job k may go ahead: kNone, or why not (`conflict` set). With
  // `upgrade` job k may replace its own input (a WZP converted to WZP); `writeTo` is then where
  // the file goes (the input, whatever the case of its name), else `output`.
  ConvertOutcome::Skip CheckOutput(size_t k, const std::string& output, bool upgrade,
                                   std::string& conflict, std::string& writeTo) const;

 private:
  // Outputs are compared by their host paths in ASCII lower case.
  static std::string Key(const std::string& libraryPath);
  static std::string Lower(std::string text);

  ConvertSettings settings_;
  std::vector<ConvertJob> jobs_;
  std::vector<std::vector<std::string>> outputs_;
  std::vector<size_t> first_;
  std::vector<platform::FileId> inputIds_;
  std::unordered_map<std::string, size_t> reserved_;  // Key of an output -> its job
  mutable std::mutex mutex_;
  std::set<std::pair<uint64_t, uint64_t>> read_;  // device and inode of files read
};

// The model host of a job: the log is kept (no library), textures are measured from their
// headers and never decoded, the texture table is the job's own.
class ConvertHost : public ModelHost {
 public:
  explicit ConvertHost(const ConvertSettings& settings) : settings_(settings) {}
  void Log(const std::string& line) override;
  void LoadModelTexture(Model& model, int32_t slot, const std::string& path) override;
  int32_t LoadTexture(const std::string& path, int32_t* index) override;
  int32_t* TextureIdCell(int32_t id) override;
  void TextureSize(int32_t index, float& width, float& height) override;
  std::string TexturePath(int32_t index) override;
  void ResetFrameClock() override {}
  bool MotionSet(Model& model, int32_t motion, float fadeSeconds) override;
  bool ToonLoaded() const override { return settings_.toonLoaded; }
  ModelCapacities Capacities() const override { return settings_.capacities; }
  std::string DataDir() const override { return settings_.dataDir; }

  LogCollector collector;
  std::vector<std::string> lines;  // every line, UTF-8

 private:
  // Width and height from the image's header; false (and the load's error line) when it is no
  // image the loader would take.
  bool Measure(const std::string& path, uint32_t& width, uint32_t& height);
  struct Row {
    std::string path;
    float width = 0, height = 0;
  };
  const ConvertSettings& settings_;
  std::vector<Row> rows_;
  std::vector<int32_t> ids_;
};

// Reads job k's model into a new model (not preallocated: no polygon cut) through `host`, which
// it points at the model's folder (and confines there when the run says so). Null when the file
// cannot be opened.
std::unique_ptr<Model> LoadConvertInput(ConvertRun& run, size_t k, ConvertHost& host);

// The save half: checks the outputs, places the images the output names, writes, and counts
// what was dropped. `host` is the job's host or the library's (the window).
ConvertOutcome SaveConverted(ConvertRun& run, size_t k, ModelHost& host, Model& model);

// The whole job: LoadConvertInput, then SaveConverted.
ConvertOutcome RunConvertJob(ConvertRun& run, size_t k);

}  // namespace wz
