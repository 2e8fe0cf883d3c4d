// Display objects, the camera and the light: numbering and reuse, the world matrix from a
// position, angles and a scale or given whole, refused camera values, and the view and
// projection a frame takes from the camera.
#include <gtest/gtest.h>

#include "render/render_fixture.h"

namespace wz::testing {
namespace {

using namespace d3d;

class Objects : public RenderTest {
 protected:
  void SetUp() override { Start(BackendChoice::kRecording, 80, 40); }
};

TEST_F(Objects, AreNumberedFromZeroAndTheFirstFreeNumberIsReused) {
  EXPECT_EQ(Lib().ModelObject_Create(), 0);
  EXPECT_EQ(Lib().ModelObject_Create(), 1);
  EXPECT_EQ(Lib().ModelObject_Create(), 2);
  Lib().ModelObject_Release(1);
  EXPECT_EQ(Lib().ModelObject_Get(1), nullptr);
  EXPECT_FALSE(Lib().ModelObject_ModelSet(1, 0));
  EXPECT_FALSE(Lib().ModelObject_PositionSet(7, {}));
  EXPECT_FALSE(Lib().ModelObject_VisibleSet(-1, true));
  EXPECT_EQ(Lib().ModelObject_Create(), 1);
  const ModelObject* o = Lib().ModelObject_Get(1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->model, kNoModel);  // a reused object starts afresh
  EXPECT_TRUE(o->visible);
}

TEST_F(Objects, WorldMatrixComesFromPositionAnglesAndScaleOrIsGivenWhole) {
  const int32_t o = Lib().ModelObject_Create();
  Lib().ModelObject_ScaleSet(o, {2, 2, 2});
  Lib().ModelObject_AngleSet(o, {0, 30, 0});
  Lib().ModelObject_PositionSet(o, {1, 2, 3});
  EXPECT_EQ(Lib().ModelObject_Get(o)->world, BuildWorldTransform({1, 2, 3}, {0, 30, 0}, {2, 2, 2}));
  Mat4 given = MatrixScaling({1, 3, 1});
  given.m[3][0] = 4, given.m[3][1] = 5, given.m[3][2] = 6;
  Lib().ModelObject_MatrixSet(o, given);
  EXPECT_EQ(Lib().ModelObject_Get(o)->world, given);
  EXPECT_EQ(Lib().ModelObject_Get(o)->position, (Vec3{4, 5, 6}));
}

TEST_F(Objects, CameraRefusesValuesThatMakeNoViewAndTheFrameAppliesIt) {
  EXPECT_FALSE(Lib().Camera_Set({1, 1, 1}, {1, 1, 1}, {0, 1, 0}));  // eye on the target
  EXPECT_FALSE(Lib().Camera_Set({0, 5, 0}, {0, 0, 0}, {0, 1, 0}));  // up along the view
  EXPECT_FALSE(Lib().Camera_ProjectionSet(0, 1, 10));
  EXPECT_FALSE(Lib().Camera_ProjectionSet(180, 1, 10));
  EXPECT_FALSE(Lib().Camera_ProjectionSet(45, 0, 10));
  EXPECT_FALSE(Lib().Camera_ProjectionSet(45, 10, 10));
  EXPECT_FALSE(Lib().Camera_ProjectionSet(45, 1, 10, -1));
  const Camera before = Lib().Rendering().camera;
  EXPECT_EQ(before.eye, (Vec3{0, 0, -15}));  // the default eye
  // A camera 10 up the z axis looking back at the origin, 90 degrees, on the 80 x 40 target.
  ASSERT_TRUE(Lib().Camera_Set({0, 0, 10}, {0, 0, 0}, {0, 1, 0}));
  ASSERT_TRUE(Lib().Camera_ProjectionSet(90, 1, 100));
  Lib().RenderFrame();
  // Seen from +z, world +x is on the left; at distance 10 the view is 20 units high and 40
  // wide, so (10, 5) lies halfway out to the left and halfway up.
  auto [x, y] = Project({0, 0, 0});
  EXPECT_NEAR(x, 40, 1e-3f);
  EXPECT_NEAR(y, 20, 1e-3f);
  std::tie(x, y) = Project({10, 5, 0});
  EXPECT_NEAR(x, 20, 1e-3f);
  EXPECT_NEAR(y, 10, 1e-3f);
  // A given aspect replaces the target's: with 1, the view is 20 wide and (10, 0) on its edge.
  ASSERT_TRUE(Lib().Camera_ProjectionSet(90, 1, 100, 1.0f));
  Lib().RenderFrame();
  std::tie(x, y) = Project({10, 0, 0});
  EXPECT_NEAR(x, 0, 1e-3f);
}

}  // namespace
}  // namespace wz::testing
