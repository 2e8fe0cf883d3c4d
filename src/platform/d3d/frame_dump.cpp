// Numbered PNG files of presented frames.
#include "platform/d3d/frame_dump.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/d3dx/png_encode.h"
#include "platform/file_io.h"

namespace wz::d3d {
namespace {
std::atomic<uint32_t> frameNumber{0};
}

std::string FrameDumpDirectory() {
  const char* dir = std::getenv("WZ_FRAME_DUMP");
  return dir ? dir : "";
}

bool WriteFrameDump(const std::string& hostDirectory, std::span<const uint32_t> pixels,
                    uint32_t width, uint32_t height, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(hostDirectory, ec);
  if (ec) {
    if (error) *error = hostDirectory + ": " + ec.message();
    return false;
  }
  std::vector<uint8_t> png;
  if (!d3dx::EncodePng(pixels, width, height, false, png)) {
    if (error) *error = "PNG encoding failed";
    return false;
  }
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06u.png", frameNumber.fetch_add(1) + 1);
  const std::string path = hostDirectory + "/" + name;
  if (!platform::WriteFileAtomically(platform::LibraryPath(path), png)) {
    if (error) *error = path + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace wz::d3d
