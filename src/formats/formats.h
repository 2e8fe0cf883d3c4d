// Readers and writers of the exchange formats. Each works on a Model through a ModelHost (see
// model/model_host.h for the common shapes); the path form reads or writes the file, the memory
// form does the work. Every reader returns 1 when the model was filled and 0 when the file was
// refused, in which case the model is left exactly as it was and the host has logged why.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/model.h"
#include "model/model_host.h"

namespace wz {

// ---- LightWave LWOB and Metasequoia (lwo_reader.cpp, lwo_writer.cpp, mqo_reader.cpp) -----------

// Reads a LightWave object file of the LWOB generation: points (× 10), polygons (larger ones as
// fans of triangles, detail polygons as ordinary ones), one group per surface with the surface
// colour (grey 128 without one), one colour entry per polygon. Runs DeriveNormals.
int LoadLwo(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadLwoFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

// Writes the model as an LWOB file: one flat-coloured surface "WZ<k>" per distinct first-corner
// colour, positions × 0.1, 16-bit point indices. Refuses models with more than 65536 positions
// or more than 32767 surfaces. The file is replaced atomically; 0 when it could not be written.
int SaveLwo(ModelHost& host, const Model& model, const std::string& path);
// The same file as bytes; `path` only names the model in a refusal line.
int SaveLwoToMemory(ModelHost& host, const Model& model, const std::string& path,
                    std::vector<uint8_t>& out);

// Reads a Metasequoia "Format Text Ver 1.0" document (CR LF line ends): materials as groups with
// colour and texture, every object's vertices ((x, y, -z) × 0.1) and its faces of 2 to 4
// vertices with UVs for textured materials. Runs DeriveNormals and loads the textures through
// host.LoadModelTexture.
int LoadMqo(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadMqoFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

// ---- End of LightWave LWOB and Metasequoia -----------------------------------------------------

}  // namespace wz
