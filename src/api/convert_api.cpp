// The converter's load and save of the public interface: one conversion job per call.
#include <filesystem>
#include <string>
#include <system_error>

#include "api/api_state.h"
#include "app/convert_job.h"
#include "app/converter.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "wz/convert.h"
#include "wz/library.h"

namespace wz {
namespace api {
ModelInfo Describe(const Model& m);
}  // namespace api

namespace {

ConvertSettings SettingsFor(Format format) {
  ConvertSettings settings;
  settings.target = int(format);
  settings.dataDir = WZ.DataDir();
  settings.toonLoaded = WZ.System().toonLoaded;
  settings.capacities = ModelCapacities::ForPolygonCapacity(WZ.PolygonCapacity());
  return settings;
}

std::string Why(const ConvertOutcome& o) {
  const std::string output = platform::DisplayPath(o.output);
  switch (o.kind) {
    case ConvertOutcome::kConverted:
      return {};
    case ConvertOutcome::kNoModel:
      return o.reasons.empty() ? "cannot be opened" : o.reasons;
    case ConvertOutcome::kNoGeometry:
      return o.reasons.empty() ? "no polygons were read" : "not read: " + o.reasons;
    case ConvertOutcome::kNoWriter:
      return "no writer for this format";
    case ConvertOutcome::kWriteFailed:
      return "writing " + output + " failed" + (o.reasons.empty() ? "" : ": " + o.reasons);
    case ConvertOutcome::kSkipped:
      return "skipped: the output " + output + " would replace " +
             platform::DisplayPath(o.conflict);
  }
  return {};
}

}  // namespace

bool InspectFile(const char* path, ModelInfo& info) {
  if (!api::Require("wz::InspectFile")) return false;
  ConvertRun run(SettingsFor(Format::kWzp), {{api::ToLibraryPath(path), ""}});
  ConvertHost host(run.Settings());
  std::unique_ptr<Model> m = LoadConvertInput(run, 0, host);
  if (!m || m->polygonCount <= 0) {
    const std::string reasons = host.collector.Reasons();
    api::SetError(std::string("wz::InspectFile: ") + (path ? path : "") + ": " +
                  (!reasons.empty() ? reasons
                   : !m             ? "cannot be opened"
                                    : "no polygons were read"));
    return false;
  }
  info = api::Describe(*m);
  return true;
}

ConvertResult ConvertFile(const char* path, Format format, const char* outputFolder) {
  ConvertResult result;
  if (!api::Require("wz::ConvertFile")) {
    result.error = LastError();
    return result;
  }
  if (int(format) < 0 || int(format) >= kTargetCount) {
    result.error = "no such format";
    api::SetError("wz::ConvertFile: " + result.error);
    return result;
  }
  std::string folder;
  if (outputFolder && *outputFolder) {
    std::error_code ec;
    std::filesystem::create_directories(outputFolder, ec);
    if (ec || !std::filesystem::is_directory(outputFolder, ec)) {
      result.error = std::string("cannot use ") + outputFolder + " as the output folder";
      api::SetError("wz::ConvertFile: " + result.error);
      return result;
    }
    folder = api::ToLibraryPath(outputFolder);
  }
  ConvertRun run(SettingsFor(format), {{api::ToLibraryPath(path), folder}});
  const ConvertOutcome o = RunConvertJob(run, 0);
  result.ok = o.kind == ConvertOutcome::kConverted;
  result.output = platform::DisplayPath(o.output);
  for (const DroppedItem& d : o.dropped)
    result.dropped.push_back(d.Text());
  result.error = Why(o);
  if (!result.ok)
    api::SetError(std::string("wz::ConvertFile: ") + (path ? path : "") + ": " + result.error);
  return result;
}

}  // namespace wz
