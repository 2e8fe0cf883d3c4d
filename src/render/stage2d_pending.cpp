// Placeholder for the 2D stage until the 2D drawing lands: the frame calls it where the 2D
// layers, the application's 2D hook, the text queue and the fade belong.
#include "core/library.h"

namespace wz {

void Library::Stage2D() {}

}  // namespace wz
