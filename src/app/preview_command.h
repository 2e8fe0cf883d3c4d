// wz-convert preview: one frame of the converter's window, drawn headless into a PNG file.
#pragma once

#include "core/library.h"

namespace wz {

// Runs the command on `library` (not started yet) with argv[0] = "preview". Returns the exit
// code: 0 when the picture was written, 1 when the model or the picture failed, 2 for a usage
// error.
int PreviewCommand(Library& library, int argc, char** argv);

}  // namespace wz
