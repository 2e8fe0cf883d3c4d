// The display objects a pass visits: shown (in use, visible, not culled, naming a model) with a
// model that exists, is loaded, is drawn and has polygons.
#pragma once

#include "core/library.h"

namespace wz {

// Calls visit(object number, object, model, runtime) for each such object in object order.
template <typename Visit>
void ForEachShownModel(Library& library, Visit&& visit) {
  auto& objects = library.Rendering().objects;
  for (size_t n = 0; n < objects.size(); ++n) {
    ModelObject& o = objects[n];
    if (!o.inUse || !o.visible || o.culled || o.model < 0) continue;
    Model* m = library.Model3_Get(o.model);
    ModelRuntime* rt = library.Model3_Runtime(o.model);
    if (!m || !rt || !m->inUse || m->loaded.Get() != 1 || !m->drawingByte || m->polygonCount <= 0) {
      continue;
    }
    visit(int32_t(n), o, *m, *rt);
  }
}

}  // namespace wz
