// Conversion: the converter's load and save, as wz-convert runs them. A conversion needs no
// window or display device and leaves the library's models alone; it still needs Start (for the
// data folder). Paths are UTF-8. Threads: the thread that called Start.
#pragma once

#include <string>
#include <vector>

#include "wz/export.h"
#include "wz/types.h"

namespace wz {

enum class Format { kWzp, kLwo, kMx, kX, kGltf, kGlb, kObj };

// Reads a model file as the converter does (textures measured, not decoded) and describes it.
// False (with LastError: why the file was refused) when it cannot be read or holds no polygons.
WZ_API bool InspectFile(const char* path, ModelInfo& info);

struct ConvertResult {
  bool ok = false;
  std::string output;                // the file written (UTF-8), or the one that was not
  std::vector<std::string> dropped;  // what the format cannot hold ("4 bones", "1 motion")
  std::string error;                 // why it failed ("" when ok)
};

// Converts the model file into `format`, writing NAME.EXT (and the images it names) into
// `outputFolder` (made when missing), or beside the input when it is null or "". The rules of
// wz-convert hold: no output replaces a file the conversion reads.
WZ_API ConvertResult ConvertFile(const char* path, Format format, const char* outputFolder);

}  // namespace wz
