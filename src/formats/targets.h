// The formats models are converted into: their names, their writers, the files each writes beside
// its main file, and what each can hold of a model. What a target cannot hold is said on the
// conversion's line ("dropped: 4 bones, 1 motion, vertex colours"), so that nothing is lost in
// silence.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "model/model_host.h"
#include "model/model_summary.h"

namespace wz {

// What a target format can hold of a model.
struct FormatHolds {
  bool bones = false;
  bool motions = false;
  bool groupTracks = false;  // texture switching per key
  bool textures = false;
  bool vertexColours = false;
  bool lines = false;  // polygons of one or two corners
  // Polygons the format's layout leaves out of this model (16-bit counts and indices); null when
  // it holds any number.
  int64_t (*polygonsLeftOut)(const Model&) = nullptr;
};

enum class ImagesOfTarget {
  kNone,        // the file names no texture
  kOwn,         // the writer places its images itself (glTF, OBJ)
  kByName,      // the file names each texture by its slot's file name, found beside it
  kBmpWithout,  // as kByName, names without their extension, read as "<name>.bmp" (MX)
};

struct TargetFormat {
  const char* name;         // as given to --to
  const char* description;  // one line of help text
  // Writes the model to `path` (a library path); 1 when written. WZP takes what its save rules
  // give the model (export geometry), which is why the model is not const.
  int (*write)(ModelHost& host, Model& model, const std::string& path);
  // The files written beside the main one: the main path with its extension replaced.
  std::vector<const char*> sideExtensions;
  ImagesOfTarget images;
  FormatHolds holds;
};

// The targets in batch-target order (WZP, LWO, MX, X, glTF, GLB, OBJ); null for other numbers.
const TargetFormat* TargetFormatOf(int target);
int TargetFormatCount();

// One kind of thing a target cannot hold, and how many of it the model has: "bones", "motions",
// "group_tracks", "textures", "vertex_colours" (count 1), "lines" (polygons of one or two
// corners) or "polygons" (those a format's layout cannot count).
struct DroppedItem {
  const char* key;
  int64_t count;
  // In a person's words: "4 bones", "1 motion", "vertex colours", "3 lines and points".
  std::string Text() const;
  friend bool operator==(const DroppedItem& a, const DroppedItem& b) {
    return std::string_view(a.key) == b.key && a.count == b.count;
  }
};

// What `target` cannot hold of the model; empty when nothing is lost.
std::vector<DroppedItem> Dropped(const Model& model, const ModelSummary& summary,
                                 const TargetFormat& target);

}  // namespace wz
