// wz-convert: the converter front end from the command line.
//   wz-convert [--to FORMAT] [--verbose] FILE...         converts every file as a drop on the
//                                                         window would, beside the input
//   wz-convert info [--json] [--verbose] FILE...          loads each file and describes it
//   wz-convert render [options] FILE...                  draws each file into NAME.png
// Exit code 0 when every file was handled, 1 when any failed, 2 for a usage error.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "app/converter.h"
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
    "usage: wz-convert [--to wzp|lwo|mx|x|gltf|glb|obj] [--verbose] FILE...\n"
    "       wz-convert info [--json] [--verbose] FILE...\n"
    "       wz-convert render [-o OUT] [--output-dir DIR] [--size WxH] [--yaw DEG] [--pitch DEG]\n"
    "                         [--frame N] [--background RRGGBB] [--verbose] FILE...\n"
    "Converts model files (WZP, DXF, LWO (LWOB and LWO2), MQO, MX, ROK, X, OBJ) into the chosen\n"
    "format, writing NAME.EXT beside each input; 'info' loads each file and prints its counts;\n"
    "'render' draws each file into NAME.png ('wz-convert render --help' for more).\n"
    "  gltf  glTF 2.0: NAME.gltf, NAME.bin and the images beside it\n"
    "  glb   glTF 2.0 in one binary file, images embedded\n"
    "  obj   Wavefront OBJ: NAME.obj, NAME.mtl and the images beside it\n"
    "glTF and OBJ are written in metres (a model unit is 0.1 m) with z toward the viewer.\n";

const char* const kKnownExtensions[] = {"wzp", "dxf", "lwo", "mqo", "mx", "rok", "x", "obj"};
// The --to names, in batch-target order.
const char* const kTargetNames[] = {"wzp", "lwo", "mx", "x", "gltf", "glb", "obj"};
static_assert(std::size(kTargetNames) == kTargetCount);

struct Options {
  bool info = false;
  bool json = false;
  bool verbose = false;
  int target = kTargetWzp;
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

// The reasons the library logged while one file was handled: refusals and errors, with the
// "*** LoadError *** path : " prefix taken off.
struct LogCollector {
  std::vector<std::string> lines;
  bool verbose = false;
  void Take(const std::string& cp932) {
    std::string line = platform::Cp932ToUtf8(cp932);
    if (verbose) std::fprintf(stderr, "%s\n", line.c_str());
    for (const char* prefix : {"*** LoadError *** ", "*** ERROR *** ", "*** エラー *** "}) {
      if (line.rfind(prefix, 0) == 0) {
        std::string reason = line.substr(std::strlen(prefix));
        if (size_t sep = reason.rfind(" : "); sep != std::string::npos) {
          reason = reason.substr(sep + 3);
        }
        lines.push_back(reason);
        return;
      }
    }
    if (line.find("を開くことができませんでした") != std::string::npos) {
      lines.push_back("cannot be opened");
    }
  }
  std::string Reasons() const {
    std::string out;
    for (const std::string& l : lines)
      out += (out.empty() ? "" : "; ") + l;
    return out;
  }
};

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
      return "writing " + platform::HostPath(o.output) + " failed" +
             (logged.empty() ? "" : ": " + logged);
    default:
      return {};
  }
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

std::string Describe(const std::string& given, const Model* m, bool json) {
  if (!json) {
    if (!m) return given + ": not loaded";
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, ": %d polygons, %d groups, %d textures", m->polygonCount,
                  m->groupCount, int(m->textureSlotCount));
    return given + buffer;
  }
  std::string o = "{\"file\":" + JsonString(given) + ",\"loaded\":" + (m ? "true" : "false");
  if (m) {
    int64_t triangles = 0;
    for (int32_t p = 0; p < m->polygonCount; ++p) {
      triangles += std::max(0, int(m->polygons[size_t(p)].cornerCount) - 2);
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
      int64_t polygons = 0;
      for (int32_t p = 0; p < m->polygonCount; ++p)
        polygons += m->polygons[size_t(p)].group == g;
      if (g) o += ",";
      o += "{\"name\":" + JsonString(platform::Cp932ToUtf8(group.name.CStr())) + ",\"colour\":[" +
           JsonNumber(group.colour.r) + "," + JsonNumber(group.colour.g) + "," +
           JsonNumber(group.colour.b) + "," + JsonNumber(group.colour.a) +
           "],\"texture_slot\":" + I(group.textureSlot) + ",\"shading\":" + I(group.shading) +
           ",\"polygons\":" + I(polygons) + "}";
    }
    o += "],\"texture_slots\":[";
    for (int16_t t = 0; t < m->textureSlotCount && size_t(t) < m->textureSlots.size(); ++t) {
      const TextureSlot& slot = m->textureSlots[size_t(t)];
      if (t) o += ",";
      o += "{\"state\":" + I(slot.state) +
           ",\"file\":" + JsonString(platform::Cp932ToUtf8(slot.fileName.CStr())) + "}";
    }
    o += "]";
  }
  return o + "}";
}

void Progress(size_t k, size_t n, const std::string& given) {
  std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", k + 1, n, given.c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "render") == 0) return RenderCommand(WZ, argc - 1, argv + 1);
  Options options;
  if (int stop = ParseArguments(argc, argv, options)) return stop - 1;

  // Paths are made absolute before start-up moves the current directory to the data directory.
  std::vector<std::string> libraryPaths;
  for (const std::string& f : options.files) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(f, ec);
    libraryPaths.push_back(platform::LibraryPath(ec ? f : absolute.lexically_normal().string()));
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

  int failures = 0;
  if (options.info) {
    for (size_t k = 0; k < libraryPaths.size(); ++k) {
      log.lines.clear();
      const std::string& path = libraryPaths[k];
      std::string dir = DirectoryOf(path);
      platform::SetCurrentDirectoryA(dir.empty() ? "\\" : dir);
      converter.Load(path.substr(dir.size() + 1));
      const Model* m = converter.State().currentModel;
      bool ok = m && log.lines.empty() && m->polygonCount > 0;
      failures += !ok;
      std::string line = Describe(options.files[k], m, options.json);
      if (!options.json && m && !ok)
        line += " (" + (log.Reasons().empty() ? "nothing read" : log.Reasons()) + ")";
      std::printf("%s\n", line.c_str());
    }
  } else {
    const bool progress = libraryPaths.size() > 3 && isatty(STDERR_FILENO);
    converter.onDropStart = [&](size_t k, size_t n, const std::string&) {
      log.lines.clear();
      if (progress) Progress(k, n, options.files[k]);
    };
    size_t index = 0;
    converter.onDropDone = [&](const DropOutcome& o) {
      if (progress) std::fputs("\r\033[K", stderr);
      const std::string& given = options.files[index++];
      if (o.kind == DropOutcome::kConverted) {
        // The model's file name is the full path it was loaded from, so the output is too.
        std::string out =
            o.output.rfind('\\', 0) == 0 ? o.output : DirectoryOf(o.path) + "\\" + o.output;
        std::printf("%s -> %s\n", given.c_str(), platform::HostPath(out).c_str());
      } else {
        ++failures;
        std::printf("%s: failed: %s\n", given.c_str(), FailureReason(o, log).c_str());
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
