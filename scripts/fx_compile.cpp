// wz-fxc: compiles an effect file (.fx) into its binary form (.fxo), which the library loads
// without parsing text. The effect is parsed and checked; with --check its GLSL programs are also
// compiled by the OpenGL backend (headless), so that a GLSL error is reported with its .fx line
// at build time instead of when the effect is first used.
//
// Usage: wz-fxc [--check] [--glsl] INPUT.fx [-o OUTPUT.fxo]
// The output defaults to the input with the extension .fxo; it is written through a temporary
// file, so a failed compile never leaves a broken .fxo in place. Exit codes: 0 written, 1 the
// effect has errors or the output could not be written, 2 bad usage.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/d3dx/effect.h"
#include "platform/file_io.h"

namespace {

constexpr const char* kUsage =
    "usage: wz-fxc [--check] [--glsl] INPUT.fx [-o OUTPUT.fxo]\n"
    "Compiles an effect file into the binary form the library also loads (.fxo).\n"
    "  --check   also compile the GLSL programs with OpenGL and report their errors\n"
    "  --glsl    print the GLSL of every pass program to standard output\n"
    "  -o FILE   where to write (default: INPUT with the extension .fxo)\n";

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "wz-fxc: %s\n", problem);
  std::fputs(kUsage, problem ? stderr : stdout);
  return 2;
}

// Compiles every pass program on a small headless device; false when one does not build.
bool CheckPrograms(const wz::d3dx::EffectDesc& desc) {
  using namespace wz;
  d3d::SetBackendChoice(d3d::BackendChoice::kOpenGL);
  d3d::D3DPRESENT_PARAMETERS params;
  params.BackBufferWidth = 4;
  params.BackBufferHeight = 4;
  params.BackBufferFormat = D3DFMT_X8R8G8B8;
  d3d::Device device(d3d::D3DCAPS9{}, D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, params);
  std::string why;
  device.SetLogSink([&why](const std::string& line) {
    if (line.rfind("No OpenGL context", 0) == 0) why = line;
  });
  device.GetBackend(true);
  if (!device.HasPixelBackend()) {
    std::fprintf(stderr, "wz-fxc: GLSL not checked: %s\n", why.c_str());
    return true;
  }
  std::unique_ptr<d3dx::Effect> effect;
  std::unique_ptr<d3dx::D3DXBuffer> errors;
  if (Failed(d3dx::CreateEffectFromDesc(&device, desc, nullptr, &effect, &errors))) {
    std::fputs(errors ? errors->Text().c_str() : "wz-fxc: the effect does not build\n", stderr);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = false, glsl = false;
  std::string input, output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(nullptr);
      return 0;
    }
    if (arg == "--check") {
      check = true;
    } else if (arg == "--glsl") {
      glsl = true;
    } else if (arg == "-o") {
      if (++i >= argc) return Usage("-o needs a file name");
      output = argv[i];
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else if (input.empty()) {
      input = arg;
    } else {
      return Usage("give one input file");
    }
  }
  if (input.empty()) return Usage("no input file");
  if (output.empty()) output = std::filesystem::path(input).replace_extension(".fxo").string();

  std::vector<uint8_t> bytes;
  const std::string libraryInput = wz::platform::LibraryPath(input);
  if (!wz::platform::FileExists(libraryInput)) {
    std::fprintf(stderr, "wz-fxc: no file %s\n", input.c_str());
    return 1;
  }
  if (!wz::platform::ReadFileBytes(libraryInput, bytes, wz::d3dx::kFxMaxFileBytes)) {
    std::fprintf(stderr, "wz-fxc: cannot read %s (or it is larger than 1 MB)\n", input.c_str());
    return 1;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // Messages and the .fxo name the source by its file name: the .fxo is used beside it.
  const std::string source = std::filesystem::path(input).filename().string();
  wz::d3dx::EffectDesc desc;
  wz::d3dx::FxError error;
  const bool parsed = wz::d3dx::LooksLikeFxo(text)
                          ? wz::d3dx::ReadFxo(text, desc, error)
                          : wz::d3dx::ParseEffectText(text, source, desc, error);
  if (!parsed) {
    std::fprintf(stderr, "%s\n", wz::d3dx::FormatFxError(input, error).c_str());
    return 1;
  }
  if (glsl) {
    for (const wz::d3dx::FxTechnique& t : desc.techniques) {
      for (const wz::d3dx::FxPass& p : t.passes) {
        const wz::d3dx::FxProgramSource src = wz::d3dx::BuildProgramSource(desc, p, nullptr);
        std::printf("// ---- %s / %s: vertex\n%s// ---- %s / %s: fragment\n%s", t.name.c_str(),
                    p.name.c_str(), src.vertex.c_str(), t.name.c_str(), p.name.c_str(),
                    src.fragment.c_str());
      }
    }
  }
  if (check && !CheckPrograms(desc)) return 1;
  const std::vector<uint8_t> fxo = wz::d3dx::WriteFxo(desc);
  if (!wz::platform::WriteFileAtomically(wz::platform::LibraryPath(output), fxo)) {
    std::fprintf(stderr, "wz-fxc: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}
