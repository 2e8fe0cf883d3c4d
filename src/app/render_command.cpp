// wz-convert render [-o OUT] [--output-dir DIR] [--size WxH] [--yaw DEG] [--pitch DEG]
//                   [--frame N] [--background RRGGBB] [--shader] [--effect NAME] [--verbose]
//                   FILE...
// Loads each model into slot 0, shows it with display object 0 under a fixed view and writes
// what the library's frame function draws as a PNG: NAME.png beside the input, in the output
// directory, or OUT for a single file. The view makes pictures comparable: the model's bounding
// box is centred at the origin and turned by yaw (about y) and pitch (about x); the camera looks
// at it from -z with a 45 degree vertical field of view, at the distance where the bounding
// sphere fills the smaller side with 5 % to spare; the light sits at the eye.
// --shader draws through the library's shader scene instead (shadow map, depth of field, the
// final 2D effect): the model stands on a ground plane that takes its shadow and is seen from
// 25 degrees above; --effect NAME does the same and picks the 2D effect.
#include "app/render_command.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/load_log.h"
#include "model/model_table.h"
#include "model/normals.h"
#include "platform/d3dx/math.h"
#include "platform/d3dx/png_encode.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/text.h"

namespace wz {
namespace {

constexpr const char* kRenderUsage =
    "usage: wz-convert render [-o OUT] [--output-dir DIR] [--size WxH] [--yaw DEG]\n"
    "                         [--pitch DEG] [--frame N] [--background RRGGBB] [--shader]\n"
    "                         [--effect NAME] [--verbose] FILE...\n"
    "Draws each model (WZP, DXF, LWO, MQO, MX, ROK, X, OBJ, glTF) and writes NAME.png beside it "
    "(or\n"
    "in DIR, or OUT for a single file). Defaults: 1280x720, yaw 0, pitch 0, background 282828;\n"
    "--frame N plays motion 0 to frame N.\n"
    "--shader draws with the shader scene: the model on a ground plane with its shadow-map\n"
    "shadow, seen from a little above. --effect NAME (scene, monochrome, sepia, reverse, shade,\n"
    "mosaic, wave) draws the shader scene through that full-screen effect.\n";

// The 2D effects by name, in the order of the effect selector.
constexpr const char* kEffectNames[] = {"scene", "monochrome", "sepia", "reverse",
                                        "shade", "mosaic",     "wave"};

// The largest picture side: four 4096 x 4096 surfaces of 4 bytes a pixel are 256 MB.
constexpr int kMaxSide = 4096;
constexpr int kMaxFrame = 1000000;

struct RenderOptions {
  std::string output;
  std::string outputDir;
  int width = 1280;
  int height = 720;
  float yaw = 0.0f;
  float pitch = 0.0f;
  int frame = -1;  // -1: the motion state the load left
  uint8_t background[3] = {40, 40, 40};
  bool verbose = false;
  bool shader = false;  // the shader scene (also set by --effect)
  int effect = 0;       // the 2D effect selector
  std::vector<std::string> files;
};

bool ParseFloat(const std::string& text, float& out) {
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool ParseInt(const std::string& text, int low, int high, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high) return false;
  out = int(v);
  return true;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find_first_of("xX");
  return x != std::string::npos && ParseInt(text.substr(0, x), 1, kMaxSide, width) &&
         ParseInt(text.substr(x + 1), 1, kMaxSide, height);
}

bool ParseColour(std::string text, uint8_t out[3]) {
  if (!text.empty() && text[0] == '#') text.erase(0, 1);
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 16);
  out[0] = uint8_t(v >> 16), out[1] = uint8_t(v >> 8), out[2] = uint8_t(v);
  return true;
}

// 0 to go on, otherwise the exit code + 1.
int Parse(int argc, char** argv, RenderOptions& o) {
  bool filesOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
      continue;
    }
    if (a == "--") {
      filesOnly = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      std::fputs(kRenderUsage, stdout);
      return 1;
    }
    if (a == "--verbose" || a == "-v") {
      o.verbose = true;
      continue;
    }
    if (a == "--shader") {
      o.shader = true;
      continue;
    }
    // The options that take a value, as "--name value" or "--name=value".
    std::string name = a, value;
    bool hasValue = false;
    if (const size_t eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      hasValue = true;
    }
    static const char* const kValued[] = {"-o",      "--output", "--output-dir", "--size",  "--yaw",
                                          "--pitch", "--frame",  "--background", "--effect"};
    if (std::find_if(std::begin(kValued), std::end(kValued),
                     [&](const char* k) { return name == k; }) == std::end(kValued)) {
      std::fprintf(stderr, "wz-convert: unknown option '%s'\n%s", a.c_str(), kRenderUsage);
      return 3;
    }
    if (!hasValue) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "wz-convert: %s needs a value\n", name.c_str());
        return 3;
      }
      value = argv[++i];
    }
    bool ok = true;
    if (name == "-o" || name == "--output") {
      o.output = value;
      ok = !value.empty();
    } else if (name == "--output-dir") {
      o.outputDir = value;
      ok = !value.empty();
    } else if (name == "--size") {
      ok = ParseSize(value, o.width, o.height);
    } else if (name == "--yaw") {
      ok = ParseFloat(value, o.yaw);
    } else if (name == "--pitch") {
      ok = ParseFloat(value, o.pitch);
    } else if (name == "--frame") {
      ok = ParseInt(value, 0, kMaxFrame, o.frame);
    } else if (name == "--background") {
      ok = ParseColour(value, o.background);
    } else if (name == "--effect") {
      const auto* found =
          std::find_if(std::begin(kEffectNames), std::end(kEffectNames),
                       [&](const char* k) { return strcasecmp(value.c_str(), k) == 0; });
      ok = found != std::end(kEffectNames);
      o.effect = int(found - std::begin(kEffectNames));
      o.shader = true;
    }
    if (!ok) {
      std::fprintf(stderr, "wz-convert: bad value '%s' for %s%s\n", value.c_str(), name.c_str(),
                   name == "--size"         ? " (WxH, each 1 to 4096)"
                   : name == "--background" ? " (six hexadecimal digits, RRGGBB)"
                   : name == "--frame"      ? " (a whole number from 0 to 1000000)"
                   : name == "--effect"
                       ? " (scene, monochrome, sepia, reverse, shade, mosaic or wave)"
                       : "");
      return 3;
    }
  }
  if (o.files.empty()) {
    std::fputs(kRenderUsage, stderr);
    return 3;
  }
  if (!o.output.empty() && o.files.size() > 1) {
    std::fputs("wz-convert: -o names one picture; give one file, or use --output-dir\n", stderr);
    return 3;
  }
  if (!o.output.empty() && !o.outputDir.empty()) {
    std::fputs("wz-convert: give -o or --output-dir, not both\n", stderr);
    return 3;
  }
  if (!o.outputDir.empty()) {
    // Made when missing, as the conversions' output folder is.
    std::error_code ec;
    std::filesystem::create_directories(o.outputDir, ec);
    if (!std::filesystem::is_directory(o.outputDir, ec)) {
      std::fprintf(stderr, "wz-convert: '%s' is not a directory and cannot be made one\n",
                   o.outputDir.c_str());
      return 3;
    }
  }
  return 0;
}

// The picture's path for an input, as the user gave it.
std::filesystem::path OutputFor(const RenderOptions& o, const std::string& input) {
  if (!o.output.empty()) return o.output;
  const std::filesystem::path in(input);
  std::filesystem::path name = in.filename();
  name.replace_extension(".png");
  if (!o.outputDir.empty()) return std::filesystem::path(o.outputDir) / name;
  return in.parent_path() / name;
}

// The off-screen target the frames are drawn into and the memory they are read back to.
struct Target {
  std::shared_ptr<d3d::Surface> colour, depth, readBack;
};

bool MakeTarget(d3d::Device& device, int width, int height, Target& t) {
  return Succeeded(device.CreateRenderTarget(UINT(width), UINT(height), D3DFMT_A8R8G8B8,
                                             D3DMULTISAMPLE_NONE, 0, 0, &t.colour)) &&
         Succeeded(device.CreateDepthStencilSurface(UINT(width), UINT(height), D3DFMT_D24S8,
                                                    D3DMULTISAMPLE_NONE, 0, 0, &t.depth)) &&
         Succeeded(device.CreateOffscreenPlainSurface(UINT(width), UINT(height), D3DFMT_A8R8G8B8,
                                                      D3DPOOL_SYSTEMMEM, &t.readBack));
}

// The radius models are scaled to in the shader scene: the light's view of the scene (from 320
// units away, 160 to each side) then holds the model and the shadow it throws.
constexpr float kShaderRadius = 40.0f;

// A square ground plane of side `side` at height `y` under the origin, light grey, as model
// `slot` (made when missing), shown by display object 1.
void ShowGround(Library& wz, ModelId& slot, float side, float y) {
  if (slot < 0 || !wz.Model3_Get(slot)) {
    slot = wz.Model3_Create();
    Model* m = wz.Model3_Get(slot);
    if (!m) return;
    // Four positions and one quad facing up (corners clockwise seen from above).
    GrowPositionPools(*m, 4);
    const float h = 0.5f;
    m->positions[0] = {-h, 0, -h};
    m->positions[1] = {-h, 0, h};
    m->positions[2] = {h, 0, h};
    m->positions[3] = {h, 0, -h};
    m->positionCount = 4;
    Polygon p;
    p.cornerCount = 4;
    for (int k = 0; k < 4; ++k)
      p.corners[size_t(k)].position = k;
    p.group = 0;
    m->polygons.assign(1, p);
    m->polygonCount = 1;
    m->groups.assign(1, NewGroup());
    m->groupCount = 1;
    m->groups[0].colour = {190, 190, 180, 255};
    m->shadingMode = 0;
    DeriveNormals(*m);
    ComputeBoundsAndShading(*m, false);
    m->shadingMode = 0;
    m->drawingByte = 1;
    if (ModelRuntime* rt = wz.Model3_Runtime(slot)) rt->groups.resize(1);
    m->loaded.Set(1);
  }
  while (!wz.ModelObject_Get(1))
    wz.ModelObject_Create();
  wz.ModelObject_ModelSet(1, slot);
  wz.ModelObject_MatrixSet(
      1, Multiply(MatrixScaling({side, 1.0f, side}), MatrixTranslation({0.0f, y, 0.0f})));
}

// The lowest point of model `id` as display object 0 shows it.
float LowestY(Library& wz, ModelId id) {
  const Model* m = wz.Model3_Get(id);
  const ModelObject* o = wz.ModelObject_Get(0);
  if (!m || !o) return 0.0f;
  float low = 0.0f;
  bool any = false;
  const size_t count = std::min(size_t(std::max(m->positionCount, 0)), m->positions.size());
  for (size_t i = 0; i < count; ++i) {
    const float y = TransformCoord(m->positions[i], o->world).y;
    if (!std::isfinite(y)) continue;
    low = any ? std::min(low, y) : y;
    any = true;
  }
  return low;
}

// Shows the model with the fixed view and the command's options and draws one frame.
void DrawModel(Library& wz, ModelId id, const RenderOptions& o, ModelId& ground) {
  FixedView view{o.width, o.height, o.yaw, o.pitch};
  if (o.shader) {
    view.elevationDegrees = 25.0f;
    view.radius = kShaderRadius;
  }
  ShowInFixedView(wz, id, view);
  if (o.shader) {
    // A ground four radii wide under the model, and a far plane that reaches its far edge.
    const float r = kShaderRadius;
    ShowGround(wz, ground, 8.0f * r, LowestY(wz, id) - 0.01f * r);
    const Camera& c = wz.Rendering().camera;
    const float distance = Length(c.eye);
    wz.Camera_ProjectionSet(45.0f, std::max((distance - r) * 0.5f, 0.01f * r), distance + 6.0f * r,
                            float(o.width) / float(o.height));
    EffectState& fx = wz.Effects();
    fx.shaderMode = 1;
    fx.effect2D = o.effect;
  }
  RenderState& rs = wz.Rendering();
  std::copy(o.background, o.background + 3, rs.background);
  rs.fadeLevel = 1.0f;
  Model* m = wz.Model3_Get(id);
  if (o.frame >= 0 && m && !m->motions.empty()) {
    wz.Model3_MotionSet(m, 0, 0.0f);
    wz.Model3_FrameAdvance(id, float(o.frame));
  }
  wz.RenderFrame();
}

bool ReadPixels(d3d::Device& device, const Target& t, int width, int height,
                std::vector<uint32_t>& pixels) {
  if (Failed(device.GetRenderTargetData(t.colour.get(), t.readBack.get()))) return false;
  d3d::D3DLOCKED_RECT locked;
  if (Failed(t.readBack->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return false;
  pixels.resize(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y) {
    std::memcpy(&pixels[size_t(y) * size_t(width)],
                static_cast<const uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch),
                size_t(width) * 4);
  }
  t.readBack->UnlockRect();
  return true;
}

// Why the picture of the shader scene would not be what was asked: an effect file that did not
// load, or a 2D effect whose technique the file lacks. Empty when it is.
std::string EffectFault(Library& wz, const RenderOptions& o) {
  if (!o.shader || !wz.Effects().shaderMode) return {};
  if (!wz.EffectLoad("HLSL_3D"))
    return "the shader scene's effect file HLSL_3D.fx cannot be loaded";
  d3dx::Effect* effect2D = wz.EffectLoad("HLSL_2D");
  if (!effect2D) return "the 2D effect file HLSL_2D.fx cannot be loaded";
  const char* technique = kEffect2DTechniques[size_t(o.effect)];
  if (!effect2D->GetTechniqueByName(technique))
    return std::string("the 2D effect file HLSL_2D.fx has no technique ") + technique;
  return {};
}

}  // namespace

FilesRead::FilesRead(Library& library) : library_(library) {
  library.Host().namedFiles.onRead = [this](const std::string& path) { Add(path); };
}

FilesRead::~FilesRead() {
  library_.Host().namedFiles.onRead = nullptr;
}

void FilesRead::Add(const std::string& libraryPath) {
  platform::FileId id;
  if (platform::GetFileId(libraryPath, id)) ids_.push_back(id);
}

std::string FilesRead::Conflict(const std::string& output) const {
  platform::FileId id;
  std::string other = output;
  if (!platform::GetOutputFileId(output, id)) {
    other = platform::CaseVariantOf(output);
    if (other.empty() || !platform::GetFileId(other, id)) return {};
  }
  const std::string shown = platform::DisplayPath(other);
  if (std::find(ids_.begin(), ids_.end(), id) != ids_.end())
    return "the picture would replace " + shown + ", which was read to draw it";
  if (other != output)
    return "the picture would replace " + shown + " (the names differ only by case)";
  return {};
}

void ShowInFixedView(Library& wz, ModelId id, const FixedView& view) {
  const Model* m = wz.Model3_Get(id);
  Vec3 centre{};
  float radius = 1.0f;
  if (m && m->positionCount > 0 && m->boundsMin.x <= m->boundsMax.x &&
      m->boundsMin.y <= m->boundsMax.y && m->boundsMin.z <= m->boundsMax.z) {
    centre = (m->boundsMin + m->boundsMax) * 0.5f;
    radius = Length(m->boundsMax - m->boundsMin) * 0.5f;
    // A model of one point still gets a view.
    if (!(radius > 0.0f) || !std::isfinite(radius)) radius = 1.0f;
  }
  constexpr float kRadians = 3.14159265f / 180.0f;
  d3dx::D3DXMATRIX world, step;
  d3dx::D3DXMatrixTranslation(&world, -centre.x, -centre.y, -centre.z);
  if (view.radius > 0.0f) {
    const float scale = view.radius / radius;
    d3dx::D3DXMatrixMultiply(&world, &world, d3dx::D3DXMatrixScaling(&step, scale, scale, scale));
    radius = view.radius;
  }
  d3dx::D3DXMatrixMultiply(&world, &world,
                           d3dx::D3DXMatrixRotationY(&step, view.yawDegrees * kRadians));
  d3dx::D3DXMatrixMultiply(&world, &world,
                           d3dx::D3DXMatrixRotationX(&step, view.pitchDegrees * kRadians));
  const float fovY = 45.0f * kRadians;
  const float aspect = float(view.width) / float(std::max(view.height, 1));
  const float fovX = 2.0f * std::atan(std::tan(fovY * 0.5f) * aspect);
  const float distance = 1.05f * radius / std::sin(std::min(fovY, fovX) * 0.5f);
  const float up = view.elevationDegrees * kRadians;
  const Vec3 eye{0, distance * std::sin(up), -distance * std::cos(up)};
  wz.Camera_Set(eye, {0, 0, 0}, {0, 1, 0});
  wz.Camera_ProjectionSet(45.0f, (distance - radius) * 0.9f, (distance + radius) * 1.1f, aspect);
  wz.Light_Set(eye, {1, 1, 1});
  // Object 0 is free when it is not in use, and creation takes the first free number.
  if (!wz.ModelObject_Get(0)) wz.ModelObject_Create();
  wz.ModelObject_ModelSet(0, id);
  wz.ModelObject_MatrixSet(0, FromD3D(world));
}

void ShowEveryGroupTexture(Model& model) {
  for (int32_t g = 0; g < model.groupCount && size_t(g) < model.groups.size(); ++g) {
    if (model.groups[size_t(g)].textureSlot > 0) model.groups[size_t(g)].switchA = 1;
  }
}

int RenderCommand(Library& wz, int argc, char** argv) {
  RenderOptions o;
  if (const int stop = Parse(argc, argv, o)) return stop - 1;

  // Paths are made absolute before start-up moves the current directory.
  std::vector<std::filesystem::path> inputs, outputs;
  for (const std::string& f : o.files) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(f, ec);
    inputs.push_back(ec ? std::filesystem::path(f) : absolute.lexically_normal());
    const std::filesystem::path out = OutputFor(o, f);
    const std::filesystem::path absoluteOut = std::filesystem::absolute(out, ec);
    outputs.push_back(ec ? out : absoluteOut.lexically_normal());
  }

  LogCollector log;
  log.verbose = o.verbose;
  wz.AttachLogSink([&log](const std::string& line) { log.Take(line); });
  struct Detach {
    Library& wz;
    ~Detach() { wz.AttachLogSink(nullptr); }
  } detach{wz};
  if (!wz.LibInit(nullptr) || !wz.Device()) {
    std::fputs("wz-convert: the library could not start (no display device)\n", stderr);
    return 1;
  }
  d3d::Device& device = *wz.Device();
  Target target;
  if (!MakeTarget(device, o.width, o.height, target)) {
    std::fprintf(stderr, "wz-convert: no %dx%d drawing target could be made\n", o.width, o.height);
    return 1;
  }
  std::shared_ptr<d3d::Surface> backBuffer, autoDepth;
  device.GetRenderTarget(0, &backBuffer);
  device.GetDepthStencilSurface(&autoDepth);
  device.SetRenderTarget(0, target.colour.get());
  device.SetDepthStencilSurface(target.depth.get());

  int failures = 0;
  ModelId ground = -1;
  FilesRead read(wz);
  for (size_t k = 0; k < inputs.size(); ++k) {
    log.Clear();
    read.Clear();
    const std::string& given = o.files[k];
    auto fail = [&](const std::string& reason) {
      ++failures;
      std::fprintf(stderr, "%s: failed: %s\n", given.c_str(), reason.c_str());
      std::fflush(stderr);
    };
    std::error_code ec;
    if (std::filesystem::exists(outputs[k], ec) &&
        std::filesystem::equivalent(inputs[k], outputs[k], ec)) {
      fail("the picture would replace the model file");
      continue;
    }
    // As the converter loads a dropped file: the current directory and the model's directory
    // are the file's own, so the texture names it holds (".\\a.png", "a.png") resolve beside it.
    const std::string path = platform::LibraryPath(inputs[k].string());
    const size_t cut = platform::Cp932FindLast(path, '\\');
    if (cut != std::string::npos)
      platform::SetCurrentDirectoryA(cut == 0 ? "\\" : path.substr(0, cut));
    wz.Model3_Release(0);
    const ModelId id = wz.Model3_Create();
    if (Model* m = wz.Model3_Get(id); m && cut != std::string::npos) {
      m->directory.Set(path.substr(0, cut));
      m->fileName.Set(path.substr(cut + 1));
      m->fullPath.Set(path);
    }
    const ModelId loaded = wz.Model3_Load(id, path);
    Model* m = wz.Model3_Get(id);
    if (loaded < 0 || !m) {
      fail(log.lines.empty() ? "cannot be opened" : log.Reasons());
      continue;
    }
    if (m->polygonCount <= 0) {
      fail(log.lines.empty() ? "no polygons were read" : "not read: " + log.Reasons());
      continue;
    }
    read.Add(path);
    const std::string picture = platform::LibraryPath(outputs[k].string());
    if (const std::string conflict = read.Conflict(picture); !conflict.empty()) {
      fail(conflict + "; use -o or --output-dir to write elsewhere");
      continue;
    }
    ShowEveryGroupTexture(*m);  // this copy of the model is never saved
    DrawModel(wz, id, o, ground);
    if (const std::string fault = EffectFault(wz, o); !fault.empty()) {
      fail(fault);
      continue;
    }
    if (o.shader && !wz.Effects().shaderMode) {
      std::fprintf(stderr,
                   "wz-convert: this device has no shadow-map format; %s is drawn without the "
                   "shader scene\n",
                   given.c_str());
    }
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> png;
    if (device.CurrentBackendKind() != d3d::BackendKind::kOpenGL) {
      fail("no OpenGL renderer is available to draw with");
      continue;
    }
    if (!ReadPixels(device, target, o.width, o.height, pixels) ||
        !d3dx::EncodePng(pixels, uint32_t(o.width), uint32_t(o.height), false, png)) {
      fail("the picture could not be read back");
      continue;
    }
    if (!platform::WriteFileAtomically(picture, png)) {
      fail("writing " + outputs[k].string() + " failed");
      continue;
    }
    // What the load left out (a texture that is not there is drawn without it) goes on the line.
    const std::string notes = log.Notes();
    std::printf("%s -> %s%s\n", given.c_str(), outputs[k].string().c_str(),
                notes.empty() ? "" : (" (" + notes + ")").c_str());
    std::fflush(stdout);
  }
  // The targets are the device's default-pool surfaces: they go before the device does.
  device.SetRenderTarget(0, backBuffer.get());
  device.SetDepthStencilSurface(autoDepth.get());
  target = Target{};
  return failures == 0 ? 0 : 1;
}

}  // namespace wz
