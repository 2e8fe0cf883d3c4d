// The texture table: images (BMP, JPEG, PNG, TGA, DDS, PSD) loaded as textures, drawn as sprites.
// Errors: -1 / false with LastError. Threads: the thread that called Start.
#pragma once

#include "wz/export.h"
#include "wz/types.h"

namespace wz {

// Loads an image file (UTF-8 path) into a new row of the table. Its index, or -1 when the file
// is no image the library reads (the row stays, holding a 32 x 32 placeholder size).
WZ_API int LoadTexture(const char* path);
// The size of texture `texture` in pixels. False for an index that is no loaded texture.
WZ_API bool GetTextureSize(int texture, float& width, float& height);
// The rows of the table (the library's own textures included).
WZ_API int TextureCount();

// Draws the texture as a sprite centred on (x, y), turned by `angle` degrees and scaled, tinted
// by `colour`. Only from the overlay (SetOverlay in wz/draw.h). False when nothing was drawn.
WZ_API bool DrawSprite(int texture, int x, int y, float angle, float scale, Rgba colour);

}  // namespace wz
