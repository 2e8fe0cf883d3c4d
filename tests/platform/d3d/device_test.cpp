// The device's rules at call level: pools and reset, state blocks, draw validation, what reaches
// the backend, the lazy OpenGL context, front buffer, frame dumps, render targets and the cursor.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/d3d/device_fixture.h"
#include "platform/d3dx/image_decode.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace wz::d3d::testing {
namespace {

class Recorded : public DeviceTest {
 protected:
  void SetUp() override { MakeDevice(BackendChoice::kRecording); }
};

TEST_F(Recorded, ResetKeepsManagedResourcesAndIsRefusedWhileDefaultPoolOnesLive) {
  std::shared_ptr<Texture> managed, target;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed), S_OK);
  managed->LevelBits(0)[0] = 0x5A;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                  &target),
            S_OK);
  std::shared_ptr<VertexBuffer> dynamic;
  ASSERT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                       D3DPOOL_DEFAULT, &dynamic),
            S_OK);
  device->SetRenderState(D3DRS_LIGHTING, 0);
  D3DPRESENT_PARAMETERS p = device->PresentParameters();
  p.BackBufferWidth = 32;
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->PresentParameters().BackBufferWidth, 16u);  // nothing changed
  target.reset();
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);  // the buffer still lives
  dynamic.reset();
  ASSERT_EQ(device->Reset(&p), S_OK);
  EXPECT_EQ(device->PresentParameters().BackBufferWidth, 32u);
  EXPECT_EQ(managed->LevelBits(0)[0], 0x5A);  // managed memory survives
  DWORD lighting = 0;
  device->GetRenderState(D3DRS_LIGHTING, &lighting);
  EXPECT_EQ(lighting, 1u);  // states are back to their defaults
  D3DVIEWPORT9 vp;
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 32u);
}

TEST_F(Recorded, LostDeviceNeedsAReset) {
  EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
  device->MarkLost();
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(device->Present(), D3DERR_DEVICELOST);
  D3DPRESENT_PARAMETERS p = device->PresentParameters();
  ASSERT_EQ(device->Reset(&p), S_OK);
  EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
}

TEST_F(Recorded, StateBlocksRecordApplyAndCapture) {
  ASSERT_EQ(device->BeginStateBlock(), S_OK);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  std::shared_ptr<StateBlock> block;
  ASSERT_EQ(device->EndStateBlock(&block), S_OK);
  DWORD v = 0;
  device->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
  EXPECT_EQ(v, 0u);  // recording does not set
  ASSERT_EQ(block->Apply(), S_OK);
  device->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
  EXPECT_EQ(v, 1u);
  device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, DWORD(D3DTOP_SELECTARG2));
  // Capture takes the current values of the states the block holds, and only those.
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  ASSERT_EQ(block->Capture(), S_OK);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  block->Apply();
  device->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
  EXPECT_EQ(v, 0u);
  device->GetRenderState(D3DRS_ZENABLE, &v);
  EXPECT_EQ(v, DWORD(D3DZB_TRUE));  // not held by the block
  // A block of all states puts everything back.
  std::shared_ptr<StateBlock> all;
  ASSERT_EQ(device->CreateStateBlock(D3DSBT_ALL, &all), S_OK);
  D3DMATRIX m;
  m.m[3][0] = 7;
  device->SetTransform(D3DTS_VIEW, &m);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  all->Apply();
  D3DMATRIX view;
  device->GetTransform(D3DTS_VIEW, &view);
  EXPECT_EQ(view.m[3][0], 0.0f);
  device->GetRenderState(D3DRS_CULLMODE, &v);
  EXPECT_EQ(v, DWORD(D3DCULL_CCW));
}

TEST_F(Recorded, DrawsAreValidatedBeforeTheyReachTheBackend) {
  const ScreenVertex v[3] = {{0, 0, 0, 1, 0, 0, 0}, {4, 0, 0, 1, 0, 0, 0}, {0, 4, 0, 1, 0, 0, 0}};
  const uint16_t inRange[3] = {0, 1, 2}, outOfRange[3] = {0, 1, 3};
  std::shared_ptr<VertexBuffer> vb;
  std::shared_ptr<IndexBuffer> ib;
  device->CreateVertexBuffer(sizeof v, 0, kScreenFvf, D3DPOOL_MANAGED, &vb);
  device->CreateIndexBuffer(sizeof outOfRange, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib);
  void* data;
  vb->Lock(0, 0, &data, 0);
  std::memcpy(data, v, sizeof v);
  vb->Unlock();
  ib->Lock(0, 0, &data, 0);
  std::memcpy(data, outOfRange, sizeof outOfRange);
  ib->Unlock();
  device->SetFVF(kScreenFvf);
  const UINT stride = sizeof(ScreenVertex);
  struct Case {
    const char* what;
    std::function<HRESULT()> draw;
    HRESULT expected;
  } cases[] = {
      {"user pointer", [&] { return device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, stride); },
       S_OK},
      {"no vertices",
       [&] { return device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, nullptr, stride); },
       D3DERR_INVALIDCALL},
      {"stride below the format",
       [&] { return device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, 8); }, D3DERR_INVALIDCALL},
      {"unknown primitive type",
       [&] { return device->DrawPrimitiveUP(D3DPRIMITIVETYPE(9), 1, v, stride); },
       D3DERR_INVALIDCALL},
      {"no primitives: nothing to do",
       [&] { return device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0, v, stride); }, S_OK},
      {"indices in range",
       [&] {
         return device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, inRange, D3DFMT_INDEX16,
                                               v, stride);
       },
       S_OK},
      {"an index past the vertices",
       [&] {
         return device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, outOfRange,
                                               D3DFMT_INDEX16, v, stride);
       },
       D3DERR_INVALIDCALL},
      {"no stream", [&] { return device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); },
       D3DERR_INVALIDCALL},
      {"stream too short",
       [&] {
         device->SetStreamSource(0, vb.get(), 0, stride);
         return device->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1);
       },
       D3DERR_INVALIDCALL},
      {"stream", [&] { return device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }, S_OK},
      {"index buffer naming a missing vertex",
       [&] {
         device->SetIndices(ib.get());
         return device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1);
       },
       D3DERR_INVALIDCALL},
      {"negative base vertex",
       [&] { return device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 0, 3, 0, 1); },
       D3DERR_INVALIDCALL},
  };
  size_t drawn = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(c.draw(), c.expected) << c.what;
    if (c.expected == S_OK) ++drawn;
  }
  EXPECT_EQ(Recording().Draws().size(), drawn - 1);  // the empty draw reaches nothing
  // Fixing the index buffer makes the indexed draw go through, with its indices kept.
  ib->Lock(0, 0, &data, 0);
  std::memcpy(data, inRange, sizeof inRange);
  ib->Unlock();
  ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), S_OK);
  EXPECT_EQ(Recording().Draws().back().indices, (std::vector<uint32_t>{0, 1, 2}));
  device->EndScene();
  EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, stride), D3DERR_INVALIDCALL);
}

TEST_F(Recorded, ADrawKeepsItsVerticesAndTheStatesItRanWith) {
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  auto t = MakeTexture(1, 1, D3DFMT_A8R8G8B8, "\x01\x02\x03\x04");
  device->SetTexture(0, t.get());
  ScreenQuad(1, 2, 3, 4, 0x80FF0000u);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  const RecordedDraw& d = Recording().Draws().back();
  EXPECT_EQ(d.call.type, D3DPT_TRIANGLEFAN);
  EXPECT_EQ(d.call.primitiveCount, 2u);
  EXPECT_EQ(d.fvf, kScreenFvf);
  EXPECT_EQ(d.renderStates[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCALPHA));
  EXPECT_EQ(d.textures[0], t.get());
  ASSERT_EQ(d.VertexCount(), 4u);
  ScreenVertex third;
  std::memcpy(&third, d.Vertex(2), sizeof third);
  EXPECT_EQ(third.x, 3.0f);
  EXPECT_EQ(third.y, 4.0f);
  EXPECT_EQ(third.colour, 0x80FF0000u);
}

TEST_F(Recorded, RenderTargetsSetTheViewportAndReadBack) {
  std::shared_ptr<Surface> rt, copy, wrongSize;
  ASSERT_EQ(device->CreateRenderTarget(8, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, 0, &rt),
            S_OK);
  ASSERT_EQ(device->SetRenderTarget(0, rt.get()), S_OK);
  D3DVIEWPORT9 vp;
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 8u);
  EXPECT_EQ(vp.Height, 4u);
  D3DVIEWPORT9 tooBig{0, 0, 16, 16, 0, 1};
  EXPECT_EQ(device->SetViewport(&tooBig), D3DERR_INVALIDCALL);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456u, 1, 0);
  device->CreateOffscreenPlainSurface(8, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy);
  device->CreateOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &wrongSize);
  EXPECT_EQ(device->GetRenderTargetData(rt.get(), wrongSize.get()), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->GetRenderTargetData(rt.get(), copy.get()), S_OK);
  uint32_t texel;
  std::memcpy(&texel, copy->Bits().data() + 3 * copy->Pitch() + 28, 4);
  EXPECT_EQ(texel, 0xFF123456u);
  EXPECT_EQ(device->SetRenderTarget(0, copy.get()), D3DERR_INVALIDCALL);  // not a target
}

TEST_F(Recorded, CursorPropertiesTakeAnA8R8G8B8ImageWithTheHotSpotInside) {
  std::shared_ptr<Surface> image, wrongFormat;
  device->CreateOffscreenPlainSurface(32, 32, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &image);
  device->CreateOffscreenPlainSurface(32, 32, D3DFMT_R5G6B5, D3DPOOL_SCRATCH, &wrongFormat);
  image->Bits()[4] = 0xFF;
  EXPECT_EQ(device->SetCursorProperties(32, 0, image.get()), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetCursorProperties(0, 0, wrongFormat.get()), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->SetCursorProperties(3, 5, image.get()), S_OK);
  EXPECT_EQ(device->Cursor().hotY, 5u);
  EXPECT_EQ(device->Cursor().image[1], 0xFFu);
  EXPECT_EQ(device->ShowCursor(1), 0);
  EXPECT_EQ(device->ShowCursor(0), 1);
  device->SetCursorPosition(10, 20, D3DCURSOR_IMMEDIATE_UPDATE);
  EXPECT_EQ(device->Cursor().x, 10);
}

// The OpenGL context is made on the first operation that needs pixels, not before.
TEST_F(DeviceTest, TheGlContextWaitsForTheFirstOperationThatNeedsPixels) {
  MakeDevice(BackendChoice::kOpenGL);
  ClearTo(0xFF0000FFu);
  device->Present();
  std::shared_ptr<Texture> t;
  device->CreateTexture(4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t);
  device->SetTexture(0, t.get());
  device->SetRenderState(D3DRS_LIGHTING, 0);
  EXPECT_FALSE(device->HasPixelBackend());
  EXPECT_TRUE(log.empty());
  ScreenQuad(0, 0, 4, 4, 0xFFFFFFFFu);
  ASSERT_TRUE(device->HasPixelBackend());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("Pixels by OpenGL: ", 0), 0u) << log[0];
  // The clear made before the context reached the pixels all the same.
  EXPECT_EQ(PixelAt(8, 8), 0xFF0000FFu);
}

TEST_F(DeviceTest, FrontBufferHoldsThePresentedFrame) {
  MakeDevice(BackendChoice::kOpenGL);
  ClearTo(0xFF00FF00u);
  device->Present();
  ClearTo(0xFFFF0000u);  // the next frame, not yet presented
  std::shared_ptr<Surface> front;
  device->CreateOffscreenPlainSurface(16, 16, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &front);
  ASSERT_EQ(device->GetFrontBufferData(0, front.get()), S_OK);
  uint32_t texel;
  std::memcpy(&texel, front->Bits().data(), 4);
  EXPECT_EQ(texel, 0xFF00FF00u);
  EXPECT_EQ(PixelAt(0, 0), 0xFFFF0000u);
}

TEST_F(DeviceTest, FrameDumpWritesEveryPresentedFrameAsPng) {
  wz::testing::TempDir dir;
  ASSERT_EQ(setenv("WZ_FRAME_DUMP", (dir / "frames").c_str(), 1), 0);
  MakeDevice(BackendChoice::kOpenGL);
  ClearTo(0xFFFF8000u);
  device->Present();
  unsetenv("WZ_FRAME_DUMP");
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir / "frames"))
    files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].extension(), ".png");
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(platform::ReadFileBytes(platform::LibraryPath(files[0].string()), bytes));
  d3dx::DecodedImage image;
  ASSERT_EQ(d3dx::DecodeImage(bytes, image), d3dx::ImageError::kNone) << files[0];
  ASSERT_EQ(image.info.Width, 16u);
  const uint8_t* p = &image.pixels.at((5 * 16 + 5) * 4);
  EXPECT_EQ((std::vector<uint8_t>{p[0], p[1], p[2], p[3]}),
            (std::vector<uint8_t>{0x00, 0x80, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace wz::d3d::testing
