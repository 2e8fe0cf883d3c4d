// wz-convert: the converter front end from the command line.
//   wz-convert [--to FORMAT] [-o DIR] [--verbose] FILE...   converts every file as a drop
//                                     on the window would, beside the input or into DIR
//   wz-convert info [--json] [--verbose] FILE...          loads each file and describes it
// A converted file's line goes to standard output, a failed or skipped file's line to standard
// error. Exit code 0 when every file was handled, 1 when any failed or was skipped, 2 for a usage
// error.
//   wz-convert render [options] FILE...                  draws each file into NAME.png
//   wz-convert preview FILE -o OUT.png [--size WxH] [--grid]   one frame of the window
//   wz-convert gui [--to FORMAT] [FILE]                  the converter's window on the desktop
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "app/converter.h"
#include "app/gui.h"
#include "app/load_log.h"
#include "app/preview_command.h"
#include "app/render_command.h"
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
    "usage: wz-convert [--to wzp|lwo|mx|x|gltf|glb|obj] [-o DIR] [--verbose] FILE...\n"
    "       wz-convert info [--json] [--verbose] FILE...\n"
    "       wz-convert render [-o OUT] [--output-dir DIR] [--size WxH] [--yaw DEG] [--pitch DEG]\n"
    "                         [--frame N] [--background RRGGBB] [--shader] [--effect NAME]\n"
    "                         [--verbose] FILE...\n"
    "       wz-convert preview FILE -o OUT.png [--size WxH] [--grid]\n"
    "       wz-convert gui [--to FORMAT] [FILE]\n"
    "Converts model files (WZP, DXF, LWO (LWOB and LWO2), MQO, MX, ROK, X, OBJ) into the chosen\n"
    "format, writing NAME.EXT beside each input, or into DIR with -o/--output-dir (created when\n"
    "missing). An output that would replace one of the inputs is skipped, except a WZP converted\n"
    "to WZP, which is upgraded in place. 'info' loads each file and prints its counts;\n"
    "'render' draws each file into NAME.png ('wz-convert render --help' for more); 'preview'\n"
    "draws one frame of the converter's window; 'gui' opens it on the desktop.\n"
    "  gltf  glTF 2.0: NAME.gltf, NAME.bin and the images beside it\n"
    "  glb   glTF 2.0 in one binary file, images embedded\n"
    "  obj   Wavefront OBJ: NAME.obj, NAME.mtl and the images beside it\n"
    "glTF and OBJ are written in metres (a model unit is 0.1 m) with z toward the viewer.\n"
    "WZ_LOG=1 prints the library's log as --verbose does.\n";

const char* const kKnownExtensions[] = {"wzp", "dxf", "lwo", "mqo", "mx", "rok", "x", "obj"};
// The --to names, in batch-target order.
const char* const kTargetNames[] = {"wzp", "lwo", "mx", "x", "gltf", "glb", "obj"};
static_assert(std::size(kTargetNames) == kTargetCount);

struct Options {
  bool info = false;
  bool json = false;
  bool verbose = false;
  int target = kTargetWzp;
  std::string outputDir;  // host path; empty: beside each input
  std::vector<std::string> files;
};

// 0 to go on, otherwise the exit code + 1 (help and version exit 0, usage errors 2).
int ParseArguments(int argc, char** argv, Options& o) {
  int i = 1;
  if (i < argc && std::strcmp(argv[i], "info") == 0) {
    o.info = true;
    ++i;
  }
  bool filesOnly = false;
  for (; i < argc; ++i) {
    std::string a = argv[i];
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
    } else if (a == "--json" && o.info) {
      o.json = true;
    } else if ((a == "-o" || a == "--output-dir" || a.rfind("--output-dir=", 0) == 0) && !o.info) {
      if (a == "-o" || a == "--output-dir") {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
          std::fprintf(stderr, "wz-convert: %s needs a folder\n", a.c_str());
          return 3;
        }
        o.outputDir = argv[++i];
      } else {
        o.outputDir = a.substr(13);
        if (o.outputDir.empty()) {
          std::fputs("wz-convert: --output-dir needs a folder\n", stderr);
          return 3;
        }
      }
    } else if ((a == "--to" || a.rfind("--to=", 0) == 0) && !o.info) {
      std::string value;
      if (a == "--to") {
        if (i + 1 >= argc) {
          std::fputs("wz-convert: --to needs a format (wzp, lwo, mx, x, gltf, glb or obj)\n",
                     stderr);
          return 3;
        }
        value = argv[++i];
      } else {
        value = a.substr(5);
      }
      o.target = -1;
      for (int t = 0; t < kTargetCount; ++t) {
        if (strcasecmp(value.c_str(), kTargetNames[t]) == 0) o.target = t;
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

std::string FailureReason(const DropOutcome& o, const LogCollector& log) {
  std::string logged = log.Reasons();
  switch (o.kind) {
    case DropOutcome::kNoModel:
      return logged.empty() ? "cannot be opened" : logged;
    case DropOutcome::kNoGeometry:
      if (!logged.empty()) return "not read: " + logged;
      if (!KnownExtension(o.path)) return "no reader for this file's extension";
      return "no polygons were read";
    case DropOutcome::kNoWriter:
      return "no writer for this format";
    case DropOutcome::kWriteFailed:
      return "writing " + platform::DisplayPath(o.output) + " failed" +
             (logged.empty() ? "" : ": " + logged);
    case DropOutcome::kSkipped:
      return o.conflict == o.path
                 ? "the output " + platform::DisplayPath(o.output) +
                       " would replace this file; use -o DIR to write elsewhere"
                 : "the output " + platform::DisplayPath(o.output) + " would replace the input " +
                       platform::DisplayPath(o.conflict) + "; use -o DIR to write elsewhere";
    default:
      return {};
  }
}

// "1 group", "2 groups".
std::string Count(int64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
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
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
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
    // Slot 0 stands for no texture: the textures are the slots that name a file.
    int64_t textures = 0;
    for (int16_t t = 0; t < m->textureSlotCount && size_t(t) < m->textureSlots.size(); ++t)
      textures += m->textureSlots[size_t(t)].state == 1;
    std::string line = given + ": " + Count(m->polygonCount, "polygon") + ", " +
                       Count(m->groupCount, "group") + ", " + Count(textures, "texture");
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
  auto I = [](int64_t v) { return std::to_string(v); };
  o += ",\"version\":" + I(m->version) + ",\"positions\":" + I(m->positionCount) +
       ",\"normals\":" + I(m->normalCount) + ",\"colours\":" + I(m->colourCount) +
       ",\"uvs\":" + I(m->uvCount) + ",\"polygons\":" + I(m->polygonCount) +
       ",\"triangles\":" + I(triangles) + ",\"bones\":" + I(m->boneCount) +
       ",\"motions\":" + I(int64_t(m->motions.size()));
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

// True when the host path names a directory.
bool IsDirectory(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Progress(size_t k, size_t n, const std::string& given) {
  std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", k + 1, n, given.c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "render") == 0) return RenderCommand(WZ, argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "preview") == 0)
    return PreviewCommand(WZ, argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "gui") == 0) return GuiCommand(WZ, argc - 1, argv + 1);
  Options options;
  if (int stop = ParseArguments(argc, argv, options)) return stop - 1;
  // A reader that has gone away (wz-convert ... | head -1) ends the output, not the program.
  std::signal(SIGPIPE, SIG_IGN);
  options.verbose = options.verbose || platform::EnvironmentSwitch("WZ_LOG");

  // Paths are made absolute before start-up moves the current directory to the data directory.
  auto absolute = [](const std::string& f) {
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(f, ec);
    return ec ? f : a.lexically_normal().string();
  };
  int failures = 0;
  std::vector<std::string> libraryPaths;
  std::vector<std::string> given;  // the arguments of libraryPaths, as typed
  for (const std::string& f : options.files) {
    if (IsDirectory(f)) {
      // A folder would be opened as a file and fail with a misleading reason.
      std::fprintf(stderr, "%s: failed: is a directory, not a model file\n", f.c_str());
      ++failures;
      continue;
    }
    libraryPaths.push_back(platform::LibraryPath(absolute(f)));
    given.push_back(f);
  }
  std::string outputDir;
  if (!options.outputDir.empty()) {
    const std::string host = absolute(options.outputDir);
    std::error_code ec;
    std::filesystem::create_directories(host, ec);
    if (ec || !IsDirectory(host)) {
      std::fprintf(stderr, "wz-convert: cannot use %s as the output folder: %s\n",
                   options.outputDir.c_str(), ec ? ec.message().c_str() : "it is not a folder");
      return 1;
    }
    outputDir = platform::LibraryPath(host);
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
  Converter converter(WZ);
  converter.Install();
  converter.State().batchTarget = static_cast<int16_t>(options.target);
  converter.State().outputDirectory = outputDir;

  if (options.info) {
    for (size_t k = 0; k < libraryPaths.size(); ++k) {
      log.Clear();
      const std::string& path = libraryPaths[k];
      std::string dir = DirectoryOf(path);
      platform::SetCurrentDirectoryA(dir.empty() ? "\\" : dir);
      converter.Load(path.substr(dir.size() + 1));
      const Model* m = converter.State().currentModel;
      // A model with polygons was read; anything logged is a note. Otherwise the file was
      // refused (or held nothing) and the log says why.
      const bool ok = m && m->polygonCount > 0;
      failures += !ok;
      std::string error;
      if (!ok) {
        error = !log.Reasons().empty()  ? log.Reasons()
                : !m                    ? "cannot be opened"
                : !KnownExtension(path) ? "no reader for this file's extension"
                                        : "no polygons were read";
      }
      std::string line = Describe(given[k], ok ? m : nullptr, options.json, error, log.Notes());
      std::fprintf(ok || options.json ? stdout : stderr, "%s\n", line.c_str());
      std::fflush(stdout);
    }
  } else if (!libraryPaths.empty()) {
    const bool progress = libraryPaths.size() > 3 && isatty(STDERR_FILENO);
    converter.onDropStart = [&](size_t k, size_t n, const std::string&) {
      log.Clear();
      if (progress) Progress(k, n, given[k]);
    };
    size_t index = 0;
    converter.onDropDone = [&](const DropOutcome& o) {
      if (progress) std::fputs("\r\033[K", stderr);
      const std::string& name = given[index++];
      if (o.kind == DropOutcome::kConverted) {
        // The model's file name is the full path it was loaded from, so the output is too.
        std::string out =
            o.output.rfind('\\', 0) == 0 ? o.output : DirectoryOf(o.path) + "\\" + o.output;
        const std::string notes = log.Notes();
        std::printf("%s -> %s%s\n", name.c_str(), platform::DisplayPath(out).c_str(),
                    notes.empty() ? "" : (" (" + notes + ")").c_str());
      } else {
        ++failures;
        std::fprintf(stderr, "%s: %s: %s\n", name.c_str(),
                     o.kind == DropOutcome::kSkipped ? "skipped" : "failed",
                     FailureReason(o, log).c_str());
      }
      std::fflush(stdout);
    };
    HWND window = WZ.MainWindow();
    platform::PostMessageA(window, platform::WM_DROPFILES,
                           reinterpret_cast<WPARAM>(platform::MakeDrop(libraryPaths)), 0);
    platform::MSG msg;
    bool dropped = false;
    while (!dropped && platform::GetMessageA(&msg, nullptr, 0, 0) != 0) {
      platform::TranslateMessage(&msg);
      platform::DispatchMessageA(&msg);
      dropped = msg.message == platform::WM_DROPFILES;
    }
    if (platform::IsWindow(window)) platform::SendMessageA(window, platform::WM_CLOSE, 0, 0);
  }
  return failures == 0 ? 0 : 1;
}
