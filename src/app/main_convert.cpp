// wz-convert: the converter front end from the command line.
//   wz-convert [--to FORMAT] [-o DIR] [-r] [-j N] [--confine] [--verbose] FILE...
//                                     converts every file (a folder with -r) beside the input or
//                                     into DIR, several at once
//   wz-convert info [--json] [-r] [--verbose] FILE...   loads each file and describes it
// A converted file's line goes to standard output, a failed or skipped file's line to standard
// error, in the order of the inputs. Exit code 0 when every file was handled, 1 when any failed
// or was skipped, 2 for a usage error. Options may stand before or after the verb.
//   wz-convert render [options] FILE...                  draws each file into NAME.png
//   wz-convert preview FILE -o OUT.png [--size WxH] [--grid]   one frame of the window
//   wz-convert gui [--to FORMAT] [FILE]                  the converter's window on the desktop
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/convert_job.h"
#include "app/converter.h"
#include "app/gui.h"
#include "app/load_log.h"
#include "app/preview_command.h"
#include "app/render_command.h"
#include "formats/targets.h"
#include "model/model_summary.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"

namespace wz {
extern Library WZ;
}

namespace {

using namespace wz;

constexpr const char* kUsage =
    "usage: wz-convert [--to wzp|lwo|mx|x|gltf|glb|obj] [-o DIR] [-r] [-j N] [--confine]\n"
    "                  [--json] [--verbose] FILE...\n"
    "       wz-convert info [--json] [-r] [-j N] [--confine] [--verbose] FILE...\n"
    "       wz-convert render [-o OUT] [--output-dir DIR] [--size WxH] [--yaw DEG] [--pitch DEG]\n"
    "                         [--frame N] [--background RRGGBB] [--shader] [--effect NAME]\n"
    "                         [--verbose] FILE...\n"
    "       wz-convert preview FILE -o OUT.png [--size WxH] [--grid]\n"
    "       wz-convert gui [--to FORMAT] [FILE]\n"
    "Converts model files (WZP, DXF, LWO (LWOB and LWO2), MQO, MX, ROK, X, OBJ, glTF 2.0 (.gltf,\n"
    ".glb)) into the chosen\n"
    "format, writing NAME.EXT beside each input, or into DIR with -o/--output-dir (created when\n"
    "missing), with the images the output names beside it. No output replaces a file the run\n"
    "reads (models, textures, material libraries) or one whose name differs only by case, except\n"
    "a WZP converted to WZP, which is upgraded in place; of two inputs with one output the second\n"
    "is skipped. What the format cannot hold is named on the file's line ('dropped: ...').\n"
    "'info' loads each file and prints its counts; 'render' draws each file into NAME.png\n"
    "('wz-convert render --help' for more); 'preview' draws one frame of the converter's window;\n"
    "'gui' opens it on the desktop. Options may stand before or after the verb.\n"
    "  -r, --recursive  a folder converts every model file in it and its subfolders; with -o\n"
    "                   the outputs mirror the subfolders\n"
    "  -j, --jobs N     files converted at once (default: the processors this process may use)\n"
    "  --json           one JSON object per file: status, output, what was dropped (counted)\n"
    "  --confine        read the files a model names (textures, material libraries) only from\n"
    "                   the model's folder and below\n"
    "Formats:\n"
    "  wzp   the library's own format: everything a model holds\n"
    "  lwo   LightWave LWOB: positions, polygons, one surface per colour\n"
    "  mx    MX: quads with pixel UVs and BMP textures\n"
    "  x     DirectX X (binary; positions / 5): materials, textures, vertex colours\n"
    "  gltf  glTF 2.0: NAME.gltf, NAME.bin and the images beside it\n"
    "  glb   glTF 2.0 in one binary file, images embedded\n"
    "  obj   Wavefront OBJ: NAME.obj, NAME.mtl and the images beside it\n"
    "glTF and OBJ are written and read in metres (a model unit is 0.1 m) with z toward the "
    "viewer.\n"
    "WZ_LOG=1 prints the library's log as --verbose does.\n";

const char* const kKnownExtensions[] = {"wzp", "dxf", "lwo", "mqo",  "mx",
                                        "rok", "x",   "obj", "gltf", "glb"};

// Options that take a value, of every verb: the verb is the first argument that is none of
// these and no option.
const char* const kValued[] = {"-o",      "--output-dir", "--output",     "--to",
                               "-j",      "--jobs",       "--size",       "--yaw",
                               "--pitch", "--frame",      "--background", "--effect"};

struct Options {
  bool info = false;
  bool json = false;
  bool verbose = false;
  bool recursive = false;
  bool confine = false;
  unsigned jobs = 0;  // 0: the processors the process may use
  int target = kTargetWzp;
  std::string outputDir;  // host path; empty: beside each input
  std::vector<std::string> files;
};

bool ParseJobs(const std::string& text, unsigned& jobs) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 1 || v > 256) return false;
  jobs = unsigned(v);
  return true;
}

// 0 to go on, otherwise the exit code + 1 (help and version exit 0, usage errors 2).
int ParseArguments(const std::vector<std::string>& args, Options& o) {
  bool filesOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // "--name=value" and "-jN" carry their value.
    std::string name = a, value;
    bool hasValue = false;
    if (const size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      hasValue = true;
    } else if (a.size() > 2 && a.rfind("-j", 0) == 0) {
      name = "-j";
      value = a.substr(2);
      hasValue = true;
    }
    const bool valued = name == "-o" || name == "--output-dir" || name == "--to" || name == "-j" ||
                        name == "--jobs";
    if (valued && !hasValue) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "wz-convert: %s needs %s\n", name.c_str(),
                     name == "--to"   ? "a format (wzp, lwo, mx, x, gltf, glb or obj)"
                     : name[1] == 'o' ? "a folder"
                                      : "a number of files converted at once");
        return 3;
      }
      value = args[++i];
    }
    if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
    } else if (a == "--") {
      filesOnly = true;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 1;
    } else if (a == "--version") {
      std::printf("wz-convert %s\n", kLibraryVersion);
      return 1;
    } else if (a == "--verbose" || a == "-v") {
      o.verbose = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--recursive" || a == "-r") {
      o.recursive = true;
    } else if (a == "--confine") {
      o.confine = true;
    } else if ((name == "-o" || name == "--output-dir") && !o.info) {
      if (value.empty()) {
        std::fprintf(stderr, "wz-convert: %s needs a folder\n", name.c_str());
        return 3;
      }
      o.outputDir = value;
    } else if (name == "-j" || name == "--jobs") {
      if (!ParseJobs(value, o.jobs)) {
        std::fprintf(stderr, "wz-convert: bad value '%s' for %s (a whole number from 1 to 256)\n",
                     value.c_str(), name.c_str());
        return 3;
      }
    } else if (name == "--to" && !o.info) {
      o.target = -1;
      for (int t = 0; t < kTargetCount; ++t) {
        if (strcasecmp(value.c_str(), TargetFormatOf(t)->name) == 0) o.target = t;
      }
      if (o.target < 0) {
        std::fprintf(stderr,
                     "wz-convert: unknown format '%s' (wzp, lwo, mx, x, gltf, glb or obj)\n",
                     value.c_str());
        return 3;
      }
    } else {
      std::fprintf(stderr, "wz-convert: unknown option '%s'\n%s", a.c_str(), kUsage);
      return 3;
    }
  }
  if (o.files.empty()) {
    std::fputs(kUsage, stderr);
    return 3;
  }
  return 0;
}

bool KnownExtension(const std::string& path) {
  std::string ext = ExtensionOf(path);
  for (const char* k : kKnownExtensions) {
    if (strcasecmp(ext.c_str(), k) == 0) return true;
  }
  return false;
}

// A line for a terminal: control characters (which a name from a file may hold, to move the
// cursor or change colours) are shown escaped, as \xNN.
std::string Shown(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    // C1 controls are U+0080 to U+009F: C2 80 to C2 9F in UTF-8.
    const bool c1 = c == 0xC2 && i + 1 < utf8.size() &&
                    static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) {
      const unsigned v = c1 ? static_cast<unsigned char>(utf8[++i]) : c;
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", v);
      out += buffer;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string SkipReason(const ConvertOutcome& o) {
  using Skip = ConvertOutcome::Skip;
  const std::string output = platform::DisplayPath(o.output);
  const std::string other = platform::DisplayPath(o.conflict);
  switch (o.skip) {
    case Skip::kReplacesInput:
      return o.conflict == o.path ? "the output " + output +
                                        " would replace this file; use -o DIR to write elsewhere"
                                  : "the output " + output + " would replace the input " + other +
                                        "; use -o DIR to write elsewhere";
    case Skip::kReplacesRead:
      return "the output " + output + " would replace " + other +
             ", which this run reads; use -o DIR to write elsewhere";
    case Skip::kNameCase:
      return "the output " + output + " would replace " + other +
             " (the names differ only by case); use -o DIR to write elsewhere";
    case Skip::kSameOutput:
      return "its output " + output + " is also the output of " + other +
             ", converted before it; use -o DIR for one of them";
    case Skip::kNone:
      break;
  }
  return "skipped";
}

std::string FailureReason(const ConvertOutcome& o) {
  const std::string& logged = o.reasons;
  switch (o.kind) {
    case ConvertOutcome::kNoModel:
      return logged.empty() ? "cannot be opened" : logged;
    case ConvertOutcome::kNoGeometry:
      if (!logged.empty()) return "not read: " + logged;
      if (!KnownExtension(o.path)) return "no reader for this file's extension";
      return "no polygons were read";
    case ConvertOutcome::kNoWriter:
      return "no writer for this format";
    case ConvertOutcome::kWriteFailed:
      return "writing " + platform::DisplayPath(o.output) + " failed" +
             (logged.empty() ? "" : ": " + logged);
    case ConvertOutcome::kSkipped:
      return SkipReason(o);
    default:
      return {};
  }
}

// "1 group", "2 groups".
std::string Count(int64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// The length of the UTF-8 sequence at text[i], or 0 when none starts there.
size_t Utf8Sequence(const std::string& text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  const size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  return platform::IsValidUtf8(std::string_view(text).substr(i, n)) ? n : 0;
}

// A JSON string of UTF-8 text. Bytes that are not UTF-8 (a file name can hold any) are written
// as \udc80 to \udcff, one per byte, the escapes that read back to the same bytes where surrogate
// escapes are understood, so the output stays JSON text and nothing is lost.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    char buffer[8];
    if (c >= 0x80) {
      const size_t n = Utf8Sequence(text, i);
      if (n == 0) {
        std::snprintf(buffer, sizeof buffer, "\\udc%02x", c);
        out += buffer;
        ++i;
      } else {
        out.append(text, i, n);
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

std::string JsonNumber(double v) {
  if (!std::isfinite(v)) return "null";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", v);
  return buffer;
}

// One file of `info`: `m` is the loaded model, or null when the file was not read (`error` says
// why); `notes` are what the load left out.
std::string Describe(const std::string& given, const Model* m, bool json, const std::string& error,
                     const std::string& notes) {
  if (!json) {
    if (!m) return given + ": not loaded (" + error + ")";
    const ModelSummary s = Summarise(*m);
    // Slot 0 stands for no texture: the textures are the slots that name a file.
    int64_t textures = 0;
    for (int16_t t = 0; t < m->textureSlotCount && size_t(t) < m->textureSlots.size(); ++t)
      textures += m->textureSlots[size_t(t)].state == 1;
    std::string line = given + ": " + Count(m->polygonCount, "polygon") + ", " +
                       Count(m->groupCount, "group") + ", " + Count(textures, "texture");
    if (s.bones > 0) line += ", " + Count(s.bones, "bone");
    if (s.motions > 0) line += ", " + Count(s.motions, "motion");
    return notes.empty() ? line : line + " (" + notes + ")";
  }
  std::string o = "{\"file\":" + JsonString(given) + ",\"loaded\":" + (m ? "true" : "false");
  if (!m) return o + ",\"error\":" + JsonString(error) + "}";
  if (!notes.empty()) o += ",\"notes\":" + JsonString(notes);
  int64_t triangles = 0;
  // Polygons per group in one pass over the polygons.
  std::vector<int64_t> polygonsOfGroup(size_t(std::max(m->groupCount, 0)), 0);
  for (int32_t p = 0; p < m->polygonCount; ++p) {
    const Polygon& polygon = m->polygons[size_t(p)];
    triangles += std::max(0, int(polygon.cornerCount) - 2);
    if (polygon.group >= 0 && size_t(polygon.group) < polygonsOfGroup.size())
      ++polygonsOfGroup[size_t(polygon.group)];
  }
  const ModelSummary s = Summarise(*m);
  auto I = [](int64_t v) { return std::to_string(v); };
  o += ",\"version\":" + I(m->version) + ",\"positions\":" + I(m->positionCount) +
       ",\"normals\":" + I(m->normalCount) + ",\"colours\":" + I(m->colourCount) +
       ",\"uvs\":" + I(m->uvCount) + ",\"polygons\":" + I(m->polygonCount) +
       ",\"triangles\":" + I(triangles) + ",\"bones\":" + I(s.bones) +
       ",\"motions\":" + I(s.motions);
  const Vec3& a = m->boundsMin;
  const Vec3& b = m->boundsMax;
  o += ",\"bbox\":{\"min\":[" + JsonNumber(a.x) + "," + JsonNumber(a.y) + "," + JsonNumber(a.z) +
       "],\"max\":[" + JsonNumber(b.x) + "," + JsonNumber(b.y) + "," + JsonNumber(b.z) + "]}";
  o += ",\"groups\":[";
  for (int32_t g = 0; g < m->groupCount && size_t(g) < m->groups.size(); ++g) {
    const Group& group = m->groups[size_t(g)];
    if (g) o += ",";
    o += "{\"name\":" + JsonString(platform::Cp932ToUtf8(group.name.CStr())) + ",\"colour\":[" +
         JsonNumber(group.colour.r) + "," + JsonNumber(group.colour.g) + "," +
         JsonNumber(group.colour.b) + "," + JsonNumber(group.colour.a) +
         "],\"texture_slot\":" + I(group.textureSlot) + ",\"shading\":" + I(group.shading) +
         ",\"polygons\":" + I(polygonsOfGroup[size_t(g)]) + "}";
  }
  o += "],\"texture_slots\":[";
  for (int16_t t = 0; t < m->textureSlotCount && size_t(t) < m->textureSlots.size(); ++t) {
    const TextureSlot& slot = m->textureSlots[size_t(t)];
    if (t) o += ",";
    o += "{\"state\":" + I(slot.state) +
         ",\"file\":" + JsonString(platform::Cp932ToUtf8(slot.fileName.CStr())) + "}";
  }
  return o + "]}";
}

// One conversion as a JSON object: the file, what became of it, the output, what the target
// format dropped (counted by kind) and the notes or the reason.
std::string DescribeConversion(const std::string& given, const ConvertOutcome& o) {
  const bool ok = o.kind == ConvertOutcome::kConverted;
  std::string j = "{\"file\":" + JsonString(given) + ",\"status\":" +
                  (ok                                   ? "\"converted\""
                   : o.kind == ConvertOutcome::kSkipped ? "\"skipped\""
                                                        : "\"failed\"");
  if (!o.output.empty()) j += ",\"output\":" + JsonString(platform::DisplayPath(o.output));
  if (!ok) return j + ",\"reason\":" + JsonString(FailureReason(o)) + "}";
  j += ",\"dropped\":{";
  for (size_t d = 0; d < o.dropped.size(); ++d)
    j += std::string(d ? "," : "") + "\"" + o.dropped[d].key +
         "\":" + std::to_string(o.dropped[d].count);
  j += "}";
  if (!o.notes.empty()) j += ",\"notes\":" + JsonString(o.notes);
  return j + "}";
}

// True when the host path names a directory.
bool IsDirectory(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One input as given, with the output folder of its job (mirroring the subfolders of a folder
// given with -r), or the line that says why it is not an input.
struct Input {
  std::string given;
  std::string path;       // host path, absolute
  std::string outputDir;  // host path; empty: beside the input
  std::string refusal;
};

// The model files in `folder` and its subfolders, in name order (links to folders are not
// followed, so a link cannot make the walk endless).
std::vector<Input> ModelsIn(const std::string& given, const std::string& folder,
                            const std::string& outputDir) {
  std::vector<Input> out;
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(
      folder, std::filesystem::directory_options::skip_permission_denied, ec),
      end;
  std::vector<std::filesystem::path> files;
  for (; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && KnownExtension(platform::LibraryPath(it->path().filename())))
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path& f : files) {
    const std::filesystem::path relative = f.lexically_relative(folder);
    Input in;
    in.given = (std::filesystem::path(given) / relative).string();
    in.path = f.string();
    if (!outputDir.empty())
      in.outputDir = (std::filesystem::path(outputDir) / relative.parent_path()).string();
    out.push_back(std::move(in));
  }
  if (ec) {
    Input in;
    in.given = given;
    in.refusal = "cannot be read as a folder: " + ec.message();
    out.push_back(std::move(in));
  }
  return out;
}

// Runs work(0) .. work(n - 1) on `threads` threads (the caller is one of them) and hands each
// result to `done` in the order of k, on the calling thread, as soon as it and those before it
// are there.
template <typename Result>
void RunInOrder(size_t n, unsigned threads, const std::function<Result(size_t)>& work,
                const std::function<void(size_t, Result&)>& done) {
  std::vector<std::optional<Result>> results(n);
  std::mutex mutex;
  std::condition_variable ready;
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t k; (k = next.fetch_add(1)) < n;) {
      Result r = work(k);
      std::lock_guard lock(mutex);
      results[k] = std::move(r);
      ready.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < std::min<size_t>(threads, n); ++t)
    pool.emplace_back(worker);
  // The calling thread works too, and hands results on in order between its own jobs.
  for (size_t printed = 0; printed < n;) {
    std::unique_lock lock(mutex);
    if (results[printed]) {
      Result r = std::move(*results[printed]);
      results[printed].reset();
      lock.unlock();
      done(printed++, r);
      continue;
    }
    lock.unlock();
    const size_t k = next.fetch_add(1);
    if (k < n) {
      Result r = work(k);
      std::lock_guard relock(mutex);
      results[k] = std::move(r);
    } else {
      std::unique_lock wait(mutex);
      ready.wait(wait, [&] { return results[printed].has_value(); });
    }
  }
  for (std::thread& t : pool)
    t.join();
}

void Progress(size_t k, size_t n, const std::string& given) {
  std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", k + 1, n, Shown(given).c_str());
  std::fflush(stderr);
}

// The verb and the arguments that go with it: options may stand before or after the verb.
std::string SplitVerb(int argc, char** argv, std::vector<std::string>& rest) {
  std::string verb;
  bool filesOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (verb.empty() && !filesOnly && !a.empty() && a[0] != '-') {
      if (a == "info" || a == "render" || a == "preview" || a == "gui") {
        verb = a;
        continue;
      }
      // The first file: no verb follows.
      rest.insert(rest.end(), argv + i, argv + argc);
      return verb;
    }
    rest.push_back(a);
    if (a == "--") filesOnly = true;
    if (!filesOnly && std::find_if(std::begin(kValued), std::end(kValued),
                                   [&](const char* k) { return a == k; }) != std::end(kValued)) {
      if (i + 1 < argc) rest.push_back(argv[++i]);
    }
  }
  return verb;
}

// The arguments again as argv, the verb first.
int RunVerb(int (*command)(Library&, int, char**), const std::string& verb,
            std::vector<std::string> args) {
  // The commands without a --verbose of their own print the log when it is given.
  if (verb == "preview" || verb == "gui") {
    const auto verbose = std::remove_if(args.begin(), args.end(), [](const std::string& a) {
      return a == "--verbose" || a == "-v";
    });
    if (verbose != args.end() || platform::EnvironmentSwitch("WZ_LOG")) WZ.AttachStderrLogSink();
    args.erase(verbose, args.end());
  }
  args.insert(args.begin(), verb);
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  return command(WZ, int(args.size()), argv.data());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  const std::string verb = SplitVerb(argc, argv, args);
  if (verb == "render") return RunVerb(RenderCommand, verb, args);
  if (verb == "preview") return RunVerb(PreviewCommand, verb, args);
  if (verb == "gui") return RunVerb(GuiCommand, verb, args);
  Options options;
  options.info = verb == "info";
  if (int stop = ParseArguments(args, options)) return stop - 1;
  // A reader that has gone away (wz-convert ... | head -1) ends the output, not the program.
  std::signal(SIGPIPE, SIG_IGN);
  options.verbose = options.verbose || platform::EnvironmentSwitch("WZ_LOG");

  // Paths are made absolute before start-up moves the current directory to the data directory.
  auto absolute = [](const std::string& f) {
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(f, ec);
    return ec ? f : a.lexically_normal().string();
  };
  std::string outputDir;
  if (!options.outputDir.empty()) {
    const std::string host = absolute(options.outputDir);
    std::error_code ec;
    std::filesystem::create_directories(host, ec);
    if (ec || !IsDirectory(host)) {
      std::fprintf(stderr, "wz-convert: cannot use %s as the output folder: %s\n",
                   Shown(options.outputDir).c_str(),
                   ec ? ec.message().c_str() : "it is not a folder");
      return 1;
    }
    outputDir = host;
  }
  std::vector<Input> inputs;
  for (const std::string& f : options.files) {
    const std::string path = absolute(f);
    if (!IsDirectory(path)) {
      inputs.push_back({f, path, outputDir, {}});
    } else if (options.recursive) {
      std::vector<Input> found = ModelsIn(f, path, outputDir);
      std::move(found.begin(), found.end(), std::back_inserter(inputs));
    } else {
      // A folder would be opened as a file and fail with a misleading reason.
      inputs.push_back(
          {f, path, {}, "is a directory, not a model file (-r converts the models in it)"});
    }
  }

  LogCollector log;
  log.verbose = options.verbose;
  WZ.AttachLogSink([&log](const std::string& line) { log.Take(line); });
  // The collector ends with main; the library logs its teardown later, so it is detached first.
  struct DetachLog {
    bool verbose;
    ~DetachLog() {
      WZ.AttachLogSink(nullptr);
      if (verbose) WZ.AttachStderrLogSink();
    }
  } detach{options.verbose};
  if (!WZ.LibInit(nullptr)) {
    WZ.ShowMessage(WZ_TEXT("初期化に失敗しました。"));
    return 1;
  }
  platform::script::SetMessageBoxEcho(options.verbose);

  ConvertSettings settings;
  settings.target = options.target;
  settings.dataDir = WZ.DataDir();
  settings.toonLoaded = WZ.System().toonLoaded;
  settings.capacities = ModelCapacities::ForPolygonCapacity(WZ.PolygonCapacity());
  settings.confine = options.confine;
  std::vector<ConvertJob> jobs;
  std::vector<size_t> jobOf(inputs.size(), SIZE_MAX);
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!inputs[i].refusal.empty()) continue;
    jobOf[i] = jobs.size();
    jobs.push_back({platform::LibraryPath(inputs[i].path),
                    inputs[i].outputDir.empty() ? "" : platform::LibraryPath(inputs[i].outputDir)});
  }
  ConvertRun run(std::move(settings), std::move(jobs));
  const unsigned threads = options.jobs ? options.jobs : platform::UsableProcessorCount();

  int failures = 0;
  const bool progress = !options.info && inputs.size() > 3 && isatty(STDERR_FILENO);
  struct Result {
    std::string line;
    bool ok = false;
    std::vector<std::string> log;
  };
  std::function<Result(size_t)> work = [&](size_t i) -> Result {
    const Input& in = inputs[i];
    if (!in.refusal.empty()) return {in.given + ": failed: " + in.refusal, false, {}};
    const size_t k = jobOf[i];
    if (options.info) {
      ConvertHost host(run.Settings());
      std::unique_ptr<Model> m = LoadConvertInput(run, k, host);
      // A model with polygons was read; anything logged is a note. Otherwise the file was
      // refused (or held nothing) and the log says why.
      const bool ok = m && m->polygonCount > 0;
      std::string error;
      if (!ok) {
        error = !host.collector.Reasons().empty()   ? host.collector.Reasons()
                : !m                                ? "cannot be opened"
                : !KnownExtension(run.Job(k).input) ? "no reader for this file's extension"
                                                    : "no polygons were read";
      }
      return {
          Describe(in.given, ok ? m.get() : nullptr, options.json, error, host.collector.Notes()),
          ok, std::move(host.lines)};
    }
    ConvertOutcome o = RunConvertJob(run, k);
    const bool ok = o.kind == ConvertOutcome::kConverted;
    if (options.json) return {DescribeConversion(in.given, o), ok, std::move(o.log)};
    if (!ok) {
      return {in.given + ": " + (o.kind == ConvertOutcome::kSkipped ? "skipped" : "failed") + ": " +
                  FailureReason(o),
              false, std::move(o.log)};
    }
    std::vector<std::string> notes;
    if (!o.notes.empty()) notes.push_back(o.notes);
    if (!o.dropped.empty()) {
      std::string dropped = "dropped: ";
      for (size_t d = 0; d < o.dropped.size(); ++d)
        dropped += (d ? ", " : "") + o.dropped[d].Text();
      notes.push_back(dropped);
    }
    std::string line = in.given + " -> " + platform::DisplayPath(o.output);
    for (const std::string& n : notes)
      line += " (" + n + ")";
    return {line, true, std::move(o.log)};
  };
  std::function<void(size_t, Result&)> done = [&](size_t i, Result& r) {
    if (progress) std::fputs("\r\033[K", stderr);
    if (options.verbose) {
      for (const std::string& l : r.log)
        std::fprintf(stderr, "%s\n", Shown(l).c_str());
    }
    failures += !r.ok;
    // Lines of a refused file go to standard error, except JSON, which is one stream.
    std::fprintf(r.ok || (options.json && inputs[i].refusal.empty()) ? stdout : stderr, "%s\n",
                 Shown(r.line).c_str());
    std::fflush(stdout);
    if (progress && i + 1 < inputs.size()) Progress(i + 1, inputs.size(), inputs[i + 1].given);
  };
  if (progress && !inputs.empty()) Progress(0, inputs.size(), inputs[0].given);
  RunInOrder<Result>(inputs.size(), threads, work, done);
  return failures == 0 ? 0 : 1;
}
