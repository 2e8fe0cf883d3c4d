// The texture table.
#include "core/library.h"
#include "platform/text.h"

namespace wz {

// Placeholder until image files load: the placeholder texture is reported missing.
void Library::InitTextureTable() {
  Log("*** LoadError *** Data/System/tex_null.bmp");
}

void Library::LoadToonTexture() {}

}  // namespace wz
