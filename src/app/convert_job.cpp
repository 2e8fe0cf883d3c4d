// Conversion jobs: planning a run's outputs, the checks before a file is replaced, the job's own
// model host, and the load and save halves.
#include "app/convert_job.h"

#include <strings.h>

#include <algorithm>

#include "app/converter.h"
#include "formats/model_export.h"
#include "formats/targets.h"
#include "model/model_summary.h"
#include "model/model_table.h"
#include "platform/text.h"
#include "texture/texture_table.h"

namespace wz {
namespace {

std::string FileNameOf(const std::string& path) {
  const size_t slash = platform::Cp932FindLast(path, '\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder of a library path as a path to write into: "\\" for a file at the root.
std::string FolderOfInput(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  return dir.empty() && !path.empty() && path[0] == '\\' ? "\\" : dir;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// The files of one job's output: the main file, then those beside it.
std::vector<std::string> PlanOutputs(const ConvertJob& job, int target) {
  const SaveFormat* format = SaveFormatOf(target);
  const TargetFormat* writer = TargetFormatOf(target);
  if (!format || !writer) return {};
  const std::string folder = job.outputDir.empty() ? FolderOfInput(job.input) : job.outputDir;
  std::string name = format->batchPattern;
  name.replace(name.find("%s"), 2, StripExtension(FileNameOf(job.input)));
  std::vector<std::string> out = {Join(folder, name)};
  for (const char* ext : writer->sideExtensions)
    out.push_back(exchange::WithoutExtension(out[0]) + ext);
  return out;
}

bool IsWzpInput(const std::string& path) {
  return strcasecmp(ExtensionOf(FileNameOf(path)).c_str(), "wzp") == 0;
}

// While it lives, the slots named in `names` carry those names (the images were put elsewhere).
class SlotNames {
 public:
  SlotNames(Model& model, const std::vector<std::string>& names) : model_(model) {
    for (size_t s = 0; s < names.size() && s < model.textureSlots.size(); ++s) {
      if (names[s].empty()) continue;
      saved_.emplace_back(s, model.textureSlots[s].fileName);
      model.textureSlots[s].fileName.Set(names[s]);
    }
  }
  ~SlotNames() {
    for (auto& [s, name] : saved_)
      model_.textureSlots[s].fileName = name;
  }
  SlotNames(const SlotNames&) = delete;
  SlotNames& operator=(const SlotNames&) = delete;

 private:
  Model& model_;
  std::vector<std::pair<size_t, Name256>> saved_;
};

// Sets a host's output rules for one save and puts them back afterwards (the window's host is
// the library's, shared with everything else).
class SaveRules {
 public:
  SaveRules(ModelHost& host, ConvertRun& run) : host_(host), saved_(host.reservedOutput) {
    host.reservedOutput = [&run](const std::string& path) { return run.Reserved(path); };
  }
  ~SaveRules() { host_.reservedOutput = std::move(saved_); }
  SaveRules(const SaveRules&) = delete;
  SaveRules& operator=(const SaveRules&) = delete;

 private:
  ModelHost& host_;
  std::function<bool(const std::string&)> saved_;
};

}  // namespace

// ---- The run
// -------------------------------------------------------------------------------------

ConvertRun::ConvertRun(ConvertSettings settings, std::vector<ConvertJob> jobs)
    : settings_(std::move(settings)), jobs_(std::move(jobs)) {
  outputs_.resize(jobs_.size());
  first_.resize(jobs_.size());
  inputIds_.resize(jobs_.size());
  // The jobs of a batch mostly share a folder: each folder is found on the host once.
  std::unordered_map<std::string, std::string> folders;
  for (size_t k = 0; k < jobs_.size(); ++k) {
    platform::GetFileId(jobs_[k].input, inputIds_[k]);
    if (inputIds_[k].valid) read_.emplace(inputIds_[k].device, inputIds_[k].inode);
    outputs_[k] = PlanOutputs(jobs_[k], settings_.target);
    first_[k] = k;
    for (const std::string& output : outputs_[k]) {
      const size_t slash = platform::Cp932FindLast(output, '\\');
      std::string key;
      if (slash == std::string::npos) {
        key = Key(output);
      } else {
        auto [folder, added] = folders.try_emplace(output.substr(0, slash + 1));
        if (added) folder->second = Lower(platform::OutputHostPath(folder->first + "x"));
        key = folder->second.substr(0, folder->second.size() - 1) +
              Lower(platform::Cp932ToHostBytes(output.substr(slash + 1), true));
      }
      const auto [at, added] = reserved_.emplace(std::move(key), k);
      if (!added && at->second != k && first_[k] == k) first_[k] = at->second;
    }
  }
}

std::string ConvertRun::Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

std::string ConvertRun::Key(const std::string& libraryPath) {
  return Lower(platform::OutputHostPath(libraryPath));
}

void ConvertRun::NoteRead(const std::string& libraryPath) {
  platform::FileId id;
  if (!platform::GetFileId(libraryPath, id)) return;
  std::lock_guard lock(mutex_);
  read_.emplace(id.device, id.inode);
}

bool ConvertRun::Reserved(const std::string& libraryPath) const {
  return reserved_.count(Key(libraryPath)) > 0;
}

ConvertOutcome::Skip ConvertRun::CheckOutput(size_t k, const std::string& output, bool upgrade,
                                             std::string& conflict, std::string& writeTo) const {
  using Skip = ConvertOutcome::Skip;
  writeTo = output;
  // The file the output would replace: the one of its own name, else one whose name differs
  // only by case.
  std::string other = output;
  platform::FileId id;
  if (!platform::GetOutputFileId(output, id)) {
    other = platform::CaseVariantOf(output);
    if (other.empty() || !platform::GetFileId(other, id)) return Skip::kNone;
  }
  if (upgrade && id == inputIds_[k]) {
    writeTo = jobs_[k].input;  // a WZP upgraded in place keeps its own name
    return Skip::kNone;
  }
  for (size_t j = 0; j < jobs_.size(); ++j) {
    if (inputIds_[j].valid && inputIds_[j] == id) {
      conflict = jobs_[j].input;
      return Skip::kReplacesInput;
    }
  }
  bool read;
  {
    std::lock_guard lock(mutex_);
    read = read_.count({id.device, id.inode}) > 0;
  }
  if (read) {
    conflict = other;
    return Skip::kReplacesRead;
  }
  if (other != output) {
    conflict = other;
    return Skip::kNameCase;
  }
  return Skip::kNone;  // an earlier conversion's output, replaced as a batch conversion does
}

// ---- The job's host
// ------------------------------------------------------------------------------

void ConvertHost::Log(const std::string& line) {
  lines.push_back(platform::Cp932ToUtf8(line));
  collector.Take(line);
}

bool ConvertHost::Measure(const std::string& path, uint32_t& width, uint32_t& height) {
  std::vector<uint8_t> bytes;
  D3DXIMAGE_INFO info{};
  if (ReadNamedFile(path, bytes) == platform::NamedFileError::kNone &&
      ImageInfoFromMemory(path.c_str(), bytes, info)) {
    width = info.Width;
    height = info.Height;
    return true;
  }
  width = height = 0;
  // The line the library's image loader logs for an image it cannot load.
  Log(std::string(WZ_TEXT("*** ERROR *** ")) + path + WZ_TEXT(" Loadできませんでした。"));
  return false;
}

void ConvertHost::LoadModelTexture(Model& model, int32_t slot, const std::string& path) {
  if (slot < 0 || slot >= kLoadableTextureSlots || size_t(slot) >= model.textureSlots.size())
    return;
  uint32_t w = 0, h = 0;
  Measure(path, w, h);
  model.textureSlots[size_t(slot)].width = int32_t(w);
  model.textureSlots[size_t(slot)].height = int32_t(h);
}

int32_t ConvertHost::LoadTexture(const std::string& path, int32_t* index) {
  // As the texture table: a row for every load, 32 x 32 for an image that failed, -1 then.
  uint32_t w = 0, h = 0;
  const bool ok = Measure(ResolveNamed(path), w, h);
  rows_.push_back({ResolveNamed(path), ok ? float(w) : 32.0f, ok ? float(h) : 32.0f});
  const int32_t result = ok ? int32_t(rows_.size() - 1) : -1;
  if (index) *index = result;
  return result;
}

int32_t* ConvertHost::TextureIdCell(int32_t id) {
  if (id < 0 || id >= 1024) return nullptr;
  if (ids_.empty()) ids_.assign(1024, -1);
  return &ids_[size_t(id)];
}

void ConvertHost::TextureSize(int32_t index, float& width, float& height) {
  width = height = 0;
  if (index < 0 || size_t(index) >= rows_.size()) return;
  width = rows_[size_t(index)].width;
  height = rows_[size_t(index)].height;
}

std::string ConvertHost::TexturePath(int32_t index) {
  return index >= 0 && size_t(index) < rows_.size() ? rows_[size_t(index)].path : "";
}

bool ConvertHost::MotionSet(Model& model, int32_t motion, float) {
  // What Model3_MotionSet leaves in the record; a job has no playback to fade.
  if (motion < 0 || size_t(motion) >= model.motions.size()) return false;
  model.deformOn = 1;
  model.currentMotion = motion;
  model.currentFrame = 0;
  model.playbackByte = 0;
  return true;
}

// ---- The job
// ---------------------------------------------------------------------------------------

std::unique_ptr<Model> LoadConvertInput(ConvertRun& run, size_t k, ConvertHost& host) {
  const ConvertSettings& settings = run.Settings();
  const std::string& input = run.Job(k).input;
  const std::string folder = FolderOfInput(input);
  host.namedFiles.baseFolder = folder;
  if (settings.confine) host.namedFiles.confineTo = folder.empty() ? "." : folder;
  host.namedFiles.onRead = [&run](const std::string& path) { run.NoteRead(path); };
  NewModelOptions options;
  options.dataDir = settings.dataDir;
  options.toonLoaded = settings.toonLoaded;
  options.capacities = settings.capacities;
  std::unique_ptr<Model> model = CreateModel(options);
  // As a load through the loader thread names the model: its folder, its name, the whole path.
  model->directory.Set(folder);
  model->fileName.Set(FileNameOf(input));
  model->fullPath.Set(input);
  if (!ReadModelFile(host, *model, input, settings.dataDir, settings.toonLoaded)) return nullptr;
  FinishLoad(*model, settings.toonLoaded);
  return model;
}

ConvertOutcome SaveConverted(ConvertRun& run, size_t k, ModelHost& host, Model& model) {
  using Skip = ConvertOutcome::Skip;
  ConvertOutcome o;
  o.path = run.Job(k).input;
  const TargetFormat* target = TargetFormatOf(run.Settings().target);
  const std::vector<std::string>& outputs = run.OutputsOf(k);
  if (!target || outputs.empty()) {
    o.kind = ConvertOutcome::kNoWriter;
    return o;
  }
  o.output = outputs[0];
  o.kind = ConvertOutcome::kSkipped;
  if (const size_t first = run.FirstWithOutputOf(k); first != k) {
    o.skip = Skip::kSameOutput;
    o.conflict = run.Job(first).input;
    return o;
  }
  const bool upgrade = run.Settings().target == kTargetWzp && IsWzpInput(o.path);
  std::string writeTo = o.output;
  for (size_t i = 0; i < outputs.size(); ++i) {
    std::string to;
    o.skip = run.CheckOutput(k, outputs[i], upgrade && i == 0, o.conflict, to);
    if (o.skip != Skip::kNone) {
      o.output = outputs[i];
      return o;
    }
    if (i == 0) writeTo = to;
  }
  o.output = writeTo;

  // A folder of -r mirrored under the output folder is made when its first file is written.
  if (!run.Job(k).outputDir.empty() && !platform::MakeFolders(run.Job(k).outputDir)) {
    o.kind = ConvertOutcome::kWriteFailed;
    return o;
  }
  SaveRules rules(host, run);
  exchange::ExportImages placed;
  std::vector<std::string> slotNames;
  o.kind = ConvertOutcome::kWriteFailed;
  if (target->images == ImagesOfTarget::kByName || target->images == ImagesOfTarget::kBmpWithout) {
    if (!exchange::PlaceImagesByName(host, model, writeTo,
                                     target->images == ImagesOfTarget::kBmpWithout, slotNames,
                                     placed) ||
        !exchange::WriteImagesBeside(host, writeTo, placed)) {
      exchange::TakeBackImages(placed);
      return o;
    }
  }
  bool written;
  {
    // The file names its images as they now stand beside it, and a writer that measures them
    // (MX's pixel UVs) finds them there.
    SlotNames names(model, slotNames);
    const std::string base = std::exchange(host.namedFiles.baseFolder, exchange::FolderOf(writeTo));
    written = target->write(host, model, writeTo) == 1;
    host.namedFiles.baseFolder = base;
  }
  if (!written) {
    exchange::TakeBackImages(placed);
    return o;
  }
  o.kind = ConvertOutcome::kConverted;
  o.dropped = Dropped(model, Summarise(model), *target);
  return o;
}

ConvertOutcome RunConvertJob(ConvertRun& run, size_t k) {
  ConvertOutcome o;
  o.path = run.Job(k).input;
  if (const size_t first = run.FirstWithOutputOf(k); first != k) {
    // Skipped before anything is read.
    o.kind = ConvertOutcome::kSkipped;
    o.skip = ConvertOutcome::Skip::kSameOutput;
    o.conflict = run.Job(first).input;
    o.output = run.OutputsOf(k).front();
    return o;
  }
  ConvertHost host(run.Settings());
  std::unique_ptr<Model> model = LoadConvertInput(run, k, host);
  if (!model) {
    o.kind = ConvertOutcome::kNoModel;
  } else if (model->polygonCount <= 0) {
    // A file the reader refused leaves an empty model; writing it would replace an earlier
    // conversion with nothing.
    o.kind = ConvertOutcome::kNoGeometry;
  } else {
    o = SaveConverted(run, k, host, *model);
  }
  o.notes = host.collector.Notes();
  o.reasons = host.collector.Reasons();
  o.log = std::move(host.lines);
  return o;
}

}  // namespace wz
