// The program's one library object. Constructing it builds the engine part first (loader thread
// started, switches set) and then the context defaults; it is torn down after the entry point
// returns, which stops the loader thread and releases everything start-up acquired.
#include "core/library.h"

namespace wz {
Library WZ;
}  // namespace wz
