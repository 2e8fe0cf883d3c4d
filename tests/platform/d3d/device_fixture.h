// A small device for tests: a back buffer of a chosen size with a depth-stencil surface, the
// backend chosen per test, and helpers that draw screen-space and world-space primitives and
// read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/d3d/recording_backend.h"

namespace wz::d3d::testing {

// XYZRHW | DIFFUSE | TEX1
struct ScreenVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// XYZ | NORMAL | DIFFUSE | SPECULAR | TEX1
struct SceneVertex {
  float x, y, z, nx, ny, nz;
  D3DCOLOR diffuse, specular;
  float u, v;
};
constexpr DWORD kSceneFvf =
    D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;

inline uint8_t Red(uint32_t c) {
  return uint8_t(c >> 16);
}
inline uint8_t Green(uint32_t c) {
  return uint8_t(c >> 8);
}
inline uint8_t Blue(uint32_t c) {
  return uint8_t(c);
}
inline uint8_t Alpha(uint32_t c) {
  return uint8_t(c >> 24);
}

class DeviceTest : public ::testing::Test {
 protected:
  // Makes a device of `width` x `height` with a D24S8 depth-stencil surface, drawing with
  // `choice`, and begins a scene.
  void MakeDevice(BackendChoice choice, uint32_t width = 16, uint32_t height = 16,
                  D3DFORMAT backBuffer = D3DFMT_X8R8G8B8) {
    SetBackendChoice(choice);
    D3DPRESENT_PARAMETERS p;
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = backBuffer;
    p.EnableAutoDepthStencil = true;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    D3DCAPS9 caps;
    caps.MaxVertexBlendMatrices = 4;
    caps.MaxVertexBlendMatrixIndex = 255;
    device = std::make_unique<Device>(caps, D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p);
    device->SetLogSink([this](const std::string& line) { log.push_back(line); });
    SetBackendChoice(BackendChoice::kDefault);
    ASSERT_EQ(device->BeginScene(), S_OK);
  }
  void TearDown() override { device.reset(); }

  RecordingBackend& Recording() {
    RecordingBackend* r = AsRecording(device->GetBackend(true));
    EXPECT_NE(r, nullptr);
    return *r;
  }

  void ClearTo(D3DCOLOR colour) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL,
                            colour, 1.0f, 0),
              S_OK);
  }

  // Every pixel of the back buffer, rows top first.
  std::vector<uint32_t> Frame() { return device->ReadBackBuffer(); }
  uint32_t PixelAt(int x, int y) {
    return Frame().at(size_t(y) * device->PresentParameters().BackBufferWidth + size_t(x));
  }

  // An axis-aligned screen quad of one colour with texture coordinates 0..1, as a fan.
  HRESULT ScreenQuad(float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.0f) {
    const ScreenVertex v[4] = {{x0, y0, z, 1, colour, 0, 0},
                               {x1, y0, z, 1, colour, 1, 0},
                               {x1, y1, z, 1, colour, 1, 1},
                               {x0, y1, z, 1, colour, 0, 1}};
    device->SetFVF(kScreenFvf);
    return device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(ScreenVertex));
  }

  // A texture of `width` x `height` in `format` with the given texel bytes (rows top first).
  std::shared_ptr<Texture> MakeTexture(uint32_t width, uint32_t height, D3DFORMAT format,
                                       const void* texels) {
    std::shared_ptr<Texture> t;
    EXPECT_EQ(device->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &t), S_OK);
    D3DLOCKED_RECT r;
    EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), S_OK);
    const size_t row = size_t(width) * BytesPerTexel(format);
    for (uint32_t y = 0; y < height; ++y) {
      std::memcpy(static_cast<uint8_t*>(r.pBits) + size_t(y) * r.Pitch,
                  static_cast<const uint8_t*>(texels) + y * row, row);
    }
    EXPECT_EQ(t->UnlockRect(0), S_OK);
    return t;
  }

  std::unique_ptr<Device> device;
  std::vector<std::string> log;
};

}  // namespace wz::d3d::testing
