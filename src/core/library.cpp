#include "core/library.h"

namespace wz {
Library::Library() = default;
Library::~Library() = default;
}  // namespace wz
