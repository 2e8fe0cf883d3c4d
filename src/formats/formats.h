// The exchange-format readers and writers of the model store. Each one works on a Model through a
// ModelHost (model/model_host.h, which also gives the common shapes of the functions); the
// file-path form reads the whole file and calls the memory form.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "model/model.h"
#include "model/model_host.h"
#include "platform/win_types.h"  // E_FAIL

namespace wz {

// ---- DirectX X (x_mesh.cpp) ---------------------------------------------------------------------
//
// LoadX reads every mesh of a text, binary or compressed X file into the model: one position,
// normal, colour and UV per mesh vertex (positions unscaled; a colour whose alpha byte is 0 is
// white), one triangle per face sorted by material, one group per material (at most 256; one
// white group when the file has none), a texture slot per material that names a texture (loaded
// with host.LoadModelTexture, the group named after the texture up to its last dot), the bones'
// first key list brought to 16 keys, then DeriveNormals. Faces beyond host.Capacities().polygons
// are cut with a log line. Returns 1 when the model was filled; E_FAIL when the file is refused
// (logged through host.Refuse, the model left unchanged); -1 when the loaded mesh cannot be
// brought to the vertex layout or sorted (logged, the model left unchanged).
int LoadX(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadXFromMemory(ModelHost& host, Model& model, const std::string& path,
                    std::span<const uint8_t> bytes, int32_t version);

// SaveX writes the model as a binary X file: every used polygon of 3 or 4 corners as a fan of
// triangles around its first corner, one vertex per triangle corner (position / 5, normal and UV
// from their pools, opaque white diffuse), 32-bit indices when the vertices do not fit 16 bits,
// and one material (diffuse 1, 1, 1, 1, the other colours black, power 0) naming the file of
// texture slot 1 when that slot has state 1. Returns 1 when the file was written, -1 when there
// is nothing to write, the model is not sound or the write failed (each logged through
// host.Refuse; an earlier file at `path` is then left as it was).
int SaveX(ModelHost& host, const Model& model, const std::string& path);

}  // namespace wz
