// The library's one library object. Constructing it builds the engine part first (loader thread
// started, switches set) and then the context defaults, when the program (or the shared library)
// is loaded; it is torn down after the entry point returns, which stops the loader thread and
// releases everything start-up acquired. Programs start it with LibInit (the tools) or wz::Start
// (the public interface).
#include "core/library.h"

namespace wz {
Library WZ;
}  // namespace wz
