// wz-convert preview FILE -o OUT.png [--size WxH] [--grid]
// Starts the library with a window of the given size, loads FILE into slot 0 as the converter's
// load command does, and writes what one frame of the window shows: the model framed to fit,
// its information lines and the hint line.
#include "app/preview_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/converter.h"
#include "app/render_command.h"
#include "platform/d3dx/png_encode.h"
#include "platform/file_io.h"
#include "platform/gdi.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"

namespace wz {
namespace {

constexpr const char* kPreviewUsage =
    "usage: wz-convert preview FILE -o OUT.png [--size WxH] [--grid]\n"
    "Draws one frame of the converter's window for FILE: the model, its file name and counts,\n"
    "and the hint line. --size sets the window's inner size (default and largest 1280x720);\n"
    "--grid shows the floor grid.\n";

// The library's window is at most its default size; the screen size narrows it.
constexpr int kMaxWidth = 1280;
constexpr int kMaxHeight = 720;
constexpr int kMinSide = 64;

struct PreviewOptions {
  std::string file;
  std::string output;
  int width = kMaxWidth;
  int height = kMaxHeight;
  bool grid = false;
};

bool ParseSide(const std::string& text, int high, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < kMinSide || v > high) return false;
  out = int(v);
  return true;
}

// 0 to go on, otherwise the exit code + 1. Kept out of line: inlined into its caller, GCC 12
// with the sanitizers warns falsely about freeing the options' strings.
[[gnu::noinline]] int Parse(int argc, char** argv, PreviewOptions& o) {
  std::vector<std::string> files;
  bool filesOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
      files.push_back(a);
    } else if (a == "--") {
      filesOnly = true;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kPreviewUsage, stdout);
      return 1;
    } else if (a == "--grid") {
      o.grid = true;
    } else if (a == "-o" || a == "--output" || a == "--size" || a.rfind("--output=", 0) == 0 ||
               a.rfind("--size=", 0) == 0) {
      std::string name = a, value;
      if (const size_t eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        std::fprintf(stderr, "wz-convert: %s needs a value\n", a.c_str());
        return 3;
      }
      if (name == "--size") {
        const size_t x = value.find_first_of("xX");
        if (x == std::string::npos || !ParseSide(value.substr(0, x), kMaxWidth, o.width) ||
            !ParseSide(value.substr(x + 1), kMaxHeight, o.height)) {
          std::fprintf(stderr,
                       "wz-convert: bad value '%s' for --size (WxH, width %d to %d, height %d "
                       "to %d)\n",
                       value.c_str(), kMinSide, kMaxWidth, kMinSide, kMaxHeight);
          return 3;
        }
      } else {
        o.output = value;
        if (value.empty()) {
          std::fputs("wz-convert: -o needs a file name\n", stderr);
          return 3;
        }
      }
    } else {
      std::fprintf(stderr, "wz-convert: unknown option '%s'\n%s", a.c_str(), kPreviewUsage);
      return 3;
    }
  }
  if (files.size() != 1 || o.output.empty()) {
    std::fputs(files.size() > 1 ? "wz-convert: preview draws one file\n" : "", stderr);
    std::fputs(kPreviewUsage, stderr);
    return 3;
  }
  o.file = files[0];
  return 0;
}

}  // namespace

int PreviewCommand(Library& wz, int argc, char** argv) {
  PreviewOptions o;
  if (const int stop = Parse(argc, argv, o)) return stop - 1;

  // Paths are made absolute before start-up moves the current directory.
  std::error_code ec;
  std::filesystem::path input = std::filesystem::absolute(o.file, ec).lexically_normal();
  std::filesystem::path output = std::filesystem::absolute(o.output, ec).lexically_normal();
  // Found as the library finds files (a name that differs only by case), as render finds them.
  const std::string path = platform::LibraryPath(input.string());
  if (!platform::FileExists(path)) {
    std::fprintf(stderr, "wz-convert: %s: no such file\n", o.file.c_str());
    return 1;
  }
  if (std::filesystem::exists(output, ec) && std::filesystem::equivalent(input, output, ec)) {
    std::fprintf(stderr, "wz-convert: %s: the picture would replace the model file\n",
                 o.file.c_str());
    return 1;
  }

  // Text without a font would be blank cells: the picture would not show what was asked.
  bool noFont = false;
  gdi::SetLogSink([&noFont](const std::string& line) {
    noFont = noFont || line.find("No usable font") != std::string::npos;
    if (platform::EnvironmentSwitch("WZ_LOG"))
      std::fprintf(stderr, "%s\n", platform::Cp932ToUtf8(line).c_str());
  });
  struct ResetSink {
    ~ResetSink() { gdi::SetLogSink(nullptr); }
  } resetSink;
  // The window takes the library's default size within the screen: the screen is the picture.
  platform::SetScreenSize(o.width, o.height);
  if (!wz.LibInit(nullptr) || !wz.Device()) {
    std::fputs("wz-convert: the library could not start (no display device)\n", stderr);
    return 1;
  }
  Converter converter(wz);
  converter.Install();
  converter.State().gridShown = o.grid;

  // As a dropped file is loaded: from its own directory.
  FilesRead read(wz);
  read.Add(path);
  const size_t cut = platform::Cp932FindLast(path, '\\');
  platform::SetCurrentDirectoryA(cut == 0 ? "\\" : path.substr(0, cut));
  converter.Load(path.substr(cut + 1));
  Model* m = converter.State().currentModel;
  if (!m || m->polygonCount <= 0) {
    std::fprintf(stderr, "wz-convert: %s: failed: no polygons were read\n", o.file.c_str());
    return 1;
  }
  const std::string picture = platform::LibraryPath(output.string());
  if (const std::string conflict = read.Conflict(picture); !conflict.empty()) {
    std::fprintf(stderr, "wz-convert: %s: %s; use -o to write elsewhere\n", o.file.c_str(),
                 conflict.c_str());
    return 1;
  }
  ShowEveryGroupTexture(*m);  // the picture is all this command makes of the model
  d3d::Device& device = *wz.Device();
  wz.RenderFrame();
  if (noFont) {
    std::fputs("wz-convert: no usable font is installed: the window's text cannot be drawn\n",
               stderr);
    return 1;
  }
  if (device.CurrentBackendKind() != d3d::BackendKind::kOpenGL) {
    std::fputs("wz-convert: no OpenGL renderer is available to draw with\n", stderr);
    return 1;
  }
  const std::vector<uint32_t> pixels = device.ReadBackBuffer();
  const int width = wz.WindowWidth(), height = wz.WindowHeight();
  std::vector<uint8_t> png;
  if (pixels.size() != size_t(width) * size_t(height) ||
      !d3dx::EncodePng(pixels, uint32_t(width), uint32_t(height), false, png)) {
    std::fputs("wz-convert: the picture could not be read back\n", stderr);
    return 1;
  }
  if (!platform::WriteFileAtomically(picture, png)) {
    std::fprintf(stderr, "wz-convert: writing %s failed\n", output.string().c_str());
    return 1;
  }
  std::printf("%s -> %s (%dx%d)\n", o.file.c_str(), output.string().c_str(), width, height);
  return 0;
}

}  // namespace wz
