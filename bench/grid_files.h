// The grid files the load benchmarks read, made here so that every reader timed on them (ours
// and, where it is installed, Assimp's) reads the same bytes: a height field y = sin(x) cos(z)
// over n x n quads, as a DXF file of n^2 3DFACE entities and as a text X file of 2 n^2
// triangles with normals, texture coordinates and two materials (written by the library's X
// saver). Files are written to a directory that is removed with the GridFiles object.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3dx/x_file.h"

namespace wz::bench {

struct GridPoint {
  float x, y, z;
};

inline GridPoint GridAt(uint32_t c, uint32_t r) {
  const float x = float(c) * 0.37f, z = float(r) * 0.41f;
  return {x, std::sin(x) * std::cos(z), z};
}

// n x n quads as 3DFACE entities in an ENTITIES section, CR LF line ends, the layer code before
// the corners as drawing programs write it.
inline std::string GridDxf(uint32_t n) {
  std::string s = "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n";
  char value[32];
  for (uint32_t r = 0; r < n; ++r) {
    for (uint32_t c = 0; c < n; ++c) {
      s += "  0\r\n3DFACE\r\n  8\r\n0\r\n";
      const GridPoint corners[4] = {GridAt(c, r), GridAt(c + 1, r), GridAt(c + 1, r + 1),
                                    GridAt(c, r + 1)};
      for (int k = 0; k < 4; ++k) {
        const float xyz[3] = {corners[k].x, corners[k].y, corners[k].z};
        for (int axis = 0; axis < 3; ++axis) {
          std::snprintf(value, sizeof value, " %d%d\r\n%.6f\r\n", axis + 1, k, xyz[axis]);
          s += value;
        }
      }
    }
  }
  return s + "  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
}

// n x n quads as a mesh of (n + 1)^2 shared vertices and 2 n^2 triangles; the left half of the
// columns uses material 0 (with a texture file name), the right half material 1.
inline std::unique_ptr<d3dx::Mesh> GridMesh(uint32_t cols, uint32_t rows) {
  const uint32_t nv = (cols + 1) * (rows + 1), nf = cols * rows * 2;
  std::unique_ptr<d3dx::Mesh> m;
  d3dx::Mesh::Create(nf, nv, D3DXMESH_MANAGED | (nv > 65535 ? D3DXMESH_32BIT : 0), 338, m);
  for (uint32_t r = 0; r <= rows; ++r) {
    for (uint32_t c = 0; c <= cols; ++c) {
      const uint32_t v = r * (cols + 1) + c;
      const GridPoint p = GridAt(c, r);
      m->SetPosition(v, {p.x, p.y, p.z});
      const float nx = -std::cos(p.x) * std::cos(p.z), nz = std::sin(p.x) * std::sin(p.z);
      const float len = std::sqrt(nx * nx + 1 + nz * nz);
      m->SetNormal(v, {nx / len, 1 / len, nz / len});
      m->SetTexCoord(v, {float(c) / float(cols), float(r) / float(rows)});
    }
  }
  uint32_t f = 0;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c, f += 2) {
      const uint32_t a = r * (cols + 1) + c, b = a + 1, d = a + cols + 1, e = d + 1;
      const uint32_t idx[6] = {a, d, b, b, d, e};
      for (int k = 0; k < 6; ++k)
        m->SetIndex(size_t{f} * 3 + size_t(k), idx[k]);
      m->AttributeBuffer()[f] = m->AttributeBuffer()[f + 1] = (c < cols / 2) ? 0 : 1;
    }
  }
  return m;
}

inline std::vector<d3dx::D3DXMATERIAL> GridMaterials() {
  std::vector<d3dx::D3DXMATERIAL> mats(2);
  mats[0].MatD3D.Diffuse = {1, 1, 1, 1};
  mats[0].textureFilename = "grass.bmp";
  mats[1].MatD3D.Diffuse = {0.5f, 0.5f, 0.5f, 1};
  return mats;
}

inline std::vector<uint8_t> GridXText(uint32_t n) {
  std::vector<uint8_t> file;
  d3dx::D3DXSaveMeshToXInMemory(*GridMesh(n, n), GridMaterials(), D3DXF_FILEFORMAT_TEXT, file);
  return file;
}

// A directory of files for one benchmark program, removed at the end.
class GridFiles {
 public:
  GridFiles()
      : dir_(std::filesystem::temp_directory_path() /
             ("wz-bench-grid-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
  }
  ~GridFiles() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  GridFiles(const GridFiles&) = delete;
  GridFiles& operator=(const GridFiles&) = delete;

  // Writes the file and returns its host path.
  template <typename Bytes>
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::filesystem::path p = dir_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p.string();
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace wz::bench
