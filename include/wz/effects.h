// Effects: the shader scene (shadow map, depth of field, bloom) and its full-screen 2D effect,
// from the effect files in the data folder (System/HLSL). Threads: the thread that called Start.
#pragma once

#include "wz/export.h"

namespace wz {

enum class ScreenEffect {
  kOff,    // the plain scene, no shader passes
  kScene,  // the shader scene as it is
  kMonochrome,
  kSepia,
  kReverse,
  kShade,
  kMosaic,
  kWave,
};

// Chooses how frames are drawn. False (and the plain scene kept) when the effect files cannot
// be loaded or the display device has no shadow-map format; LastError says which.
WZ_API bool SetScreenEffect(ScreenEffect effect);

}  // namespace wz
