// Models: load, background load, save, describe, animate and release the library's models.
// Paths are UTF-8 file names; a relative path is taken from the current directory, which Start
// moves to the data folder. A model's texture names are resolved beside the model file.
// Errors: -1 / false with LastError. Threads: the thread that called Start.
#pragma once

#include "wz/export.h"
#include "wz/types.h"

namespace wz {

// Loads a model file (WZP, DXF, LWO, MQO, MX, ROK, X, OBJ, chosen by the file's extension) and
// its textures into a new model. The model's id, or kNoModel when the file cannot be read or
// holds no polygons (the model is then released).
WZ_API ModelId LoadModel(const char* path);

// Queues the file for the library's model-loading thread and returns the new model's id at
// once (kNoModel when it could not be queued). The model may be used once IsModelLoaded is true
// or WaitForModel returned true.
WZ_API ModelId LoadModelInBackground(const char* path);
// Whether the model is loaded (false for an id that is no model).
WZ_API bool IsModelLoaded(ModelId model);
// Waits for a background load, handling window events meanwhile. False when the wait ended
// without a load (the model was released, or no load was queued for it).
WZ_API bool WaitForModel(ModelId model);

// Writes the model as a WZP file (the library's own format, which holds everything a model
// holds). False when the model does not exist or the file could not be written. Other formats:
// ConvertFile in wz/convert.h.
WZ_API bool SaveModel(ModelId model, const char* path);

// What the model holds. False (and `info` untouched) for an id that is no loaded model.
WZ_API bool GetModelInfo(ModelId model, ModelInfo& info);

// Frees the model's slot; its id may be given to a later load. Display objects that show it
// then show nothing. Nothing for an id that is no model.
WZ_API void ReleaseModel(ModelId model);

// Starts motion `motion` (0 to motions - 1), cross-fading from the current pose over
// `fadeSeconds`. False for a model or motion that does not exist, or when it is playing already.
WZ_API bool SetModelMotion(ModelId model, int motion, float fadeSeconds);
// Plays the current motion on by `frames` frames (60 a second).
WZ_API void AdvanceModel(ModelId model, float frames);

}  // namespace wz
