// The converter settings file: a snapshot of the window placement and view switches, written
// when the main window is destroyed.
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/converter.h"
#include "platform/file_io.h"
#include "platform/system.h"

namespace wz {
namespace {

void Put32(uint8_t* at, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::array<uint8_t, 88> EncodeConverterSettings(const ConverterState& state, bool antialias) {
  std::array<uint8_t, 88> bytes{};
  Put32(&bytes[0], kSettingsStamp);
  Put32(&bytes[4], state.left);
  Put32(&bytes[8], state.top);
  Put32(&bytes[12], state.width);
  Put32(&bytes[16], state.height);
  // 20 to 55: nine reserved values, 0.
  bytes[56] = antialias ? 1 : 0;  // 57 to 59 stay 0
  Put32(&bytes[60], state.lighting ? 1 : 0);
  // 64 to 87: six view switches; the fourth is the grid display.
  Put32(&bytes[76], state.gridShown ? 1 : 0);
  return bytes;
}

bool WriteConverterSettings(const std::string& dataDir, const ConverterState& state,
                            bool antialias) {
  // Before start-up has set a data directory the file goes to the current directory.
  std::string path = kSettingsFileName;
  if (!dataDir.empty()) {
    platform::SetCurrentDirectoryA(dataDir);
    path = dataDir + "\\" + path;
  }
  std::array<uint8_t, 88> bytes = EncodeConverterSettings(state, antialias);
  // A file that holds these bytes already is left as it is: replacing a file costs the file
  // system a flush, on every conversion run.
  std::vector<uint8_t> old;
  if (platform::ReadFileBytes(path, old, bytes.size()) &&
      std::equal(old.begin(), old.end(), bytes.begin(), bytes.end())) {
    return true;
  }
  return platform::WriteFileAtomically(path, bytes);
}

}  // namespace wz
