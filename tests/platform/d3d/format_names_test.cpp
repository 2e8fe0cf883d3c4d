#include "platform/d3d/format_names.h"

#include <gtest/gtest.h>

#include <string>

namespace wz::d3d {
namespace {

TEST(FormatNames, NamesFormatsWithOrWithoutThePrefix) {
  struct Case {
    uint32_t value;
    const char* name;
  } cases[] = {
      {21, "A8R8G8B8"},
      {22, "X8R8G8B8"},
      {23, "R5G6B5"},
      {26, "A4R4G4B4"},
      {0, "UNKNOWN"},
      {75, "D24S8"},
      {77, "D24X8"},
      {80, "D16"},
      {114, "R32F"},
      {111, "R16F"},
      {113, "A16B16G16R16F"},
      {82, "D32F_LOCKABLE"},
      {117, "CxV8U8"},
      {0x31545844, "DXT1"},
      {0x35545844, "DXT5"},
      {0x32595559, "YUY2"},
      {0x3154454D, "MULTI2_ARGB8"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(std::string(D3DFormatToString(D3DFORMAT(k.value))), std::string("D3DFMT_") + k.name);
    EXPECT_STREQ(D3DFormatToString(D3DFORMAT(k.value), false), k.name);
  }
}

TEST(FormatNames, UnknownValues) {
  for (uint32_t v : {1u, 19u, 37u, 72u, 120u, 198u, 200u, 0x31545845u, 0xFFFFFFFFu}) {
    EXPECT_STREQ(D3DFormatToString(D3DFORMAT(v)), "Unknown format") << v;
    EXPECT_STREQ(D3DFormatToString(D3DFORMAT(v), false), "Unknown format") << v;
  }
}

}  // namespace
}  // namespace wz::d3d
