// System services of the platform layer that programs read from the environment.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace wz::platform {
namespace {

TEST(EnvironmentSwitch, ZeroAndEmptyAreOff) {
  const char* kName = "WZ_TEST_SWITCH";
  const struct {
    const char* value;  // null: unset
    bool on;
  } cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true},
               {"00", true}};
  for (const auto& c : cases) {
    if (c.value) {
      ::setenv(kName, c.value, 1);
    } else {
      ::unsetenv(kName);
    }
    EXPECT_EQ(EnvironmentSwitch(kName), c.on) << (c.value ? c.value : "(unset)");
  }
  ::unsetenv(kName);
}

}  // namespace
}  // namespace wz::platform
