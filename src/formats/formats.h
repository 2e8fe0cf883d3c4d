// The entry points of the exchange-format readers and writers. Every reader has a file form,
// which reads the whole file and hands it to its memory form, and a memory form that parses the
// bytes it is given; writers build the file in memory and replace the target in one step. All
// take the library around them as a ModelHost (see model/model_host.h for the shapes and for
// how refusals are logged). Results: 1 when the model was read or the file written, 0 when the
// input was refused or the write failed; a refused read leaves the model as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "model/model.h"
#include "model/model_host.h"

namespace wz {

// ---- MX (quad lists with pixel UVs), Rokkaku Daioh ROK, DXF 3DFACE ------------------------------

int LoadMx(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadMxFromMemory(ModelHost& host, Model& model, const std::string& path,
                     std::span<const uint8_t> bytes, int32_t version);
int SaveMx(ModelHost& host, const Model& model, const std::string& path);

int LoadRok(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadRokFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

int LoadDxf(ModelHost& host, Model& model, const std::string& path, int32_t version);
int LoadDxfFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version);

}  // namespace wz
