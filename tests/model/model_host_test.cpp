// The recording host keeps what readers ask of it.
#include "model/model_host.h"

#include <gtest/gtest.h>

namespace wz {
namespace {

TEST(RecordingModelHost, RefusalLineNamesTheFileAndTheReason) {
  RecordingModelHost host;
  host.Refuse("\\m\\a.mx", "truncated");
  ASSERT_EQ(host.lines.size(), 1u);
  EXPECT_EQ(host.lines[0], "*** LoadError *** \\m\\a.mx : truncated");
  EXPECT_EQ(host.TextureIdCell(1024), nullptr);
  ASSERT_NE(host.TextureIdCell(3), nullptr);
  EXPECT_EQ(*host.TextureIdCell(3), -1);
}

}  // namespace
}  // namespace wz
