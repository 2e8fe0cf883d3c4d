// hello_model: shows a model in a window (SDL2 on the desktop, headless with
// WZ_BACKEND=headless), turning, with its counts and the frame time in the library's text.
// Escape or the close button quits.
//   hello_model MODEL [--frames N]     (N frames, then quit; 0: until Escape)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <wz/wz.h>

int main(int argc, char** argv) {
  const char* path = nullptr;
  long frames = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::strtol(argv[++i], nullptr, 10);
    } else {
      path = argv[i];
    }
  }
  if (!path) {
    std::fprintf(stderr, "usage: hello_model MODEL [--frames N]\n");
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  wz::Session session;
  if (!session.ok()) {
    std::fprintf(stderr, "hello_model: %s\n", wz::LastError());
    return 1;
  }
  const wz::ModelId model = wz::LoadModel(path);
  wz::ModelInfo info;
  if (model == wz::kNoModel || !wz::GetModelInfo(model, info)) {
    std::fprintf(stderr, "hello_model: %s\n", wz::LastError());
    return 1;
  }
  std::printf("hello_model: %s: %lld polygons, %lld vertices, %d groups, %d textures\n", path,
              static_cast<long long>(info.polygons), static_cast<long long>(info.vertices),
              info.groups, info.textures);

  // The camera sees the sphere round the origin that holds the model however it turns.
  float radius = 0;
  for (const wz::Float3& c : {info.boundsMin, info.boundsMax})
    radius = std::fmax(radius, std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z));
  if (!(radius > 0)) radius = 1;
  const float distance = 1.05f * radius / std::sin(22.5f * 3.14159265f / 180.0f);
  wz::SetCamera({0, 0, -distance}, {0, 0, 0}, {0, 1, 0});
  wz::SetProjection(45.0f, std::fmax(distance - 1.1f * radius, 0.01f * radius),
                    distance + 1.1f * radius);
  wz::SetLight({0, distance, -distance}, {255, 255, 255, 255});
  const int object = wz::CreateObject(model);

  auto last = std::chrono::steady_clock::now();
  double firstFrameMs = 0, frameMs = 0, totalMs = 0;
  float angle = 0;
  long drawn = 0;
  while (wz::PumpEvents() && !wz::KeyDown(wz::kKeyEscape)) {
    wz::SetObjectAngles(object, {0, angle, 0});
    wz::SetTextColour({255, 255, 255, 255});
    wz::Print(16, 16, "%s", path);
    wz::Print(16, 40, "%lld polygons  %lld vertices  %d groups",
              static_cast<long long>(info.polygons), static_cast<long long>(info.vertices),
              info.groups);
    wz::Print(16, 64, "frame %.2f ms", frameMs);
    if (!wz::DrawFrame()) break;
    const auto now = std::chrono::steady_clock::now();
    frameMs = std::chrono::duration<double, std::milli>(now - last).count();
    last = now;
    if (drawn++ == 0)
      firstFrameMs = std::chrono::duration<double, std::milli>(now - started).count();
    totalMs += frameMs;
    angle = std::fmod(angle + float(frameMs) * 0.06f, 360.0f);  // 60 degrees a second
    if (frames > 0 && drawn >= frames) break;
  }
  std::printf("hello_model: %ld frames, first frame %.1f ms after start\n", drawn, firstFrameMs);
  return drawn > 0 ? 0 : 1;
}
