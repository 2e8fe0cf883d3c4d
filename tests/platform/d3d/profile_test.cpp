// Adapter profiles that limit what the device renders to: "sm3-r16f" renders to R16F but not to
// R32F, in the format check and in every creation of a render target.
#include <gtest/gtest.h>

#include "platform/d3d/d3d9.h"

namespace wz::d3d {
namespace {

std::shared_ptr<Device> MakeDevice(const char* profileName) {
  DeviceProfile profile;
  EXPECT_TRUE(ProfileByName(profileName, profile));
  Direct3D9 d3d(profile);
  D3DPRESENT_PARAMETERS params;
  params.BackBufferWidth = 8;
  params.BackBufferHeight = 8;
  params.BackBufferFormat = D3DFMT_X8R8G8B8;
  SetBackendChoice(BackendChoice::kRecording);
  std::shared_ptr<Device> device;
  EXPECT_EQ(d3d.CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                             &params, &device),
            S_OK);
  SetBackendChoice(BackendChoice::kDefault);
  return device;
}

TEST(DeviceProfiles, R16fProfileRefusesR32fRenderTargetsOnly) {
  struct Case {
    const char* profile;
    D3DFORMAT format;
    bool renders;
  } cases[] = {
      {"sm3-r16f", D3DFMT_R32F, false},    {"sm3-r16f", D3DFMT_R16F, true},
      {"sm3-r16f", D3DFMT_A8R8G8B8, true}, {"sm3", D3DFMT_R32F, true},
      {"sm3", D3DFMT_R16F, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.profile) + " format " + std::to_string(c.format));
    DeviceProfile profile;
    ASSERT_TRUE(ProfileByName(c.profile, profile));
    Direct3D9 d3d(profile);
    const HRESULT expected = c.renders ? S_OK : D3DERR_NOTAVAILABLE;
    EXPECT_EQ(d3d.CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_RENDERTARGET,
                                    D3DRTYPE_TEXTURE, c.format),
              expected);
    // As a plain texture every one of them is fine.
    EXPECT_EQ(
        d3d.CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, c.format),
        S_OK);

    auto device = MakeDevice(c.profile);
    ASSERT_TRUE(device);
    std::shared_ptr<Texture> texture;
    EXPECT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, c.format, D3DPOOL_DEFAULT,
                                    &texture),
              expected);
    EXPECT_EQ(texture != nullptr, c.renders);
    std::shared_ptr<Surface> surface;
    EXPECT_EQ(device->CreateRenderTarget(64, 64, c.format, D3DMULTISAMPLE_NONE, 0, 0, &surface),
              expected);
    EXPECT_EQ(device->CreateTexture(64, 64, 1, 0, c.format, D3DPOOL_MANAGED, &texture), S_OK);
  }
}

}  // namespace
}  // namespace wz::d3d
