// A started library for the 2D drawing tests: its device draws either with the recording backend
// (call-level tests) or with OpenGL (pixels), a scene is open, and helpers read the screen
// vertices of recorded draws, resize the window and make textures for sprites.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/recording_backend.h"
#include "platform/file_io.h"
#include "support/started_library.h"
#include "support/temp_dir.h"

namespace wz::testing {

class Library2D : public ::testing::Test {
 protected:
  void Start(d3d::BackendChoice backend) {
    d3d::SetBackendChoice(backend);
    started_ = std::make_unique<StartedLibrary>();
    d3d::SetBackendChoice(d3d::BackendChoice::kDefault);
    ASSERT_TRUE(started_->started);
    // The window keeps 16:9 on a size change exactly with this version code.
    lib().SetWinVerForTesting(6);
    ASSERT_EQ(device().BeginScene(), S_OK);
    if (backend == d3d::BackendChoice::kRecording) Recording().ClearRecord();
  }
  void TearDown() override { started_.reset(); }

  Library& lib() { return started_->library; }
  d3d::Device& device() { return *lib().Device(); }
  d3d::RecordingBackend& Recording() {
    d3d::RecordingBackend* r = d3d::AsRecording(device().GetBackend(true));
    EXPECT_NE(r, nullptr);
    return *r;
  }

  // The vertices as the draw reads them (an indexed draw's repeat).
  static std::vector<ScreenVertex> Vertices(const d3d::RecordedDraw& d) {
    std::vector<ScreenVertex> v(d.VertexCount());
    for (size_t i = 0; i < v.size(); ++i)
      std::memcpy(&v[i], d.Vertex(i), sizeof(ScreenVertex));
    return v;
  }
  // The vertices as the draw hands them over, each once.
  static std::vector<ScreenVertex> DistinctVertices(const d3d::RecordedDraw& d) {
    std::vector<ScreenVertex> v(d.vertices.size() / d.stride);
    for (size_t i = 0; i < v.size(); ++i)
      std::memcpy(&v[i], d.vertices.data() + i * d.stride, sizeof(ScreenVertex));
    return v;
  }

  // Makes the client area, and with it the back buffer, `width` x `height`; the scene is open
  // again afterwards.
  void ResizeClient(int width, int height) {
    device().EndScene();
    HWND w = lib().MainWindow();
    RECT rc{0, 0, width, height};
    platform::AdjustWindowRect(&rc, DWORD(platform::GetWindowLongA(w, platform::GWL_STYLE)), true);
    platform::MoveWindow(w, 0, 0, rc.right - rc.left, rc.bottom - rc.top, false);
    lib().ResetDevice();
    lib().WindowSizeFromBackBuffer();
    ASSERT_EQ(lib().WindowWidth(), width);
    ASSERT_EQ(lib().WindowHeight(), height);
    ASSERT_EQ(device().BeginScene(), S_OK);
    if (d3d::AsRecording(device().GetBackend(false))) Recording().ClearRecord();
  }

  // A texture-table row of a w x h image of one colour (bytes B, G, R, A), through a wzi file;
  // its index is held in a cell of the id map.
  int32_t* SolidTexture(uint32_t w, uint32_t h, const uint8_t bgra[4]) {
    std::string s(8, '\0');
    for (uint32_t v : {w, h}) {
      for (int i = 0; i < 4; ++i)
        s += char(v >> (8 * i));
    }
    for (uint32_t i = 0; i < w * h; ++i)
      s.append(reinterpret_cast<const char*>(bgra), 4);
    const std::string path = dir_ / ("solid" + std::to_string(++textures_) + ".wzi");
    WriteFile(path, s);
    const int32_t index = lib().Texture_LoadWithId(platform::LibraryPath(path).c_str());
    EXPECT_GE(index, 0);
    return index >= 0 ? &lib().TextureIds()[size_t(index)] : nullptr;
  }

 private:
  LibraryEnvironment environment_;
  std::unique_ptr<StartedLibrary> started_;
  TempDir dir_;
  int textures_ = 0;
};

}  // namespace wz::testing
