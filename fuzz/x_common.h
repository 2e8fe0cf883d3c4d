// Shared part of the X-file fuzz harnesses: load, then check what every loaded mesh must satisfy.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/d3dx/x_file.h"

namespace wz::d3dx::fuzz {

inline void LoadAndCheck(const std::vector<uint8_t>& file) {
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials;
  XStatus status;
  const HRESULT hr = D3DXLoadMeshFromXInMemory(file, D3DXMESH_SYSTEMMEM, mesh, materials, &status);
  std::string why;
  if (hr == S_OK) {
    if (!mesh || !CheckMeshInvariants(*mesh, materials.size(), &why)) {
      std::fprintf(stderr, "loaded mesh breaks an invariant: %s\n", why.c_str());
      std::abort();
    }
    // What the model import does next: bring it to format 338 and sort it by material.
    std::unique_ptr<Mesh> clone;
    if (mesh->CloneMeshFVF(mesh->GetOptions(), 338, clone) != S_OK ||
        clone->OptimizeInplace(D3DXMESHOPT_ATTRSORT) != S_OK ||
        clone->GetNumVertices() != mesh->GetNumVertices() ||
        !CheckMeshInvariants(*clone, materials.size(), &why)) {
      std::fprintf(stderr, "sorted mesh differs or breaks an invariant: %s\n", why.c_str());
      std::abort();
    }
  } else if (mesh || !materials.empty() || status.error == XError::None || status.message.empty()) {
    std::fprintf(stderr, "refusal without a reason or with leftovers\n");
    std::abort();
  }
}

// Reads `file` on one thread and in stretches of 64 bytes on four; aborts when they differ.
inline void CompareThreadedReading(const std::vector<uint8_t>& file) {
  struct Reading {
    HRESULT hr;
    XStatus status;
    std::vector<uint8_t> vertices;
    std::vector<uint32_t> indices;
  };
  auto read = [&](const XThreads& threads) {
    std::unique_ptr<Mesh> mesh;
    std::vector<D3DXMATERIAL> materials;
    Reading r;
    r.hr = D3DXLoadMeshFromXInMemory(file, D3DXMESH_SYSTEMMEM, mesh, materials, &r.status, threads);
    if (mesh) {
      r.vertices.assign(mesh->VertexBuffer().begin(), mesh->VertexBuffer().end());
      r.indices.resize(size_t{mesh->GetNumFaces()} * 3);
      mesh->ReadIndices(r.indices);
    }
    return r;
  };
  const Reading one = read(XThreads{64, 1}), four = read(XThreads{64, 4, true});
  if (one.hr != four.hr || one.status.message != four.status.message ||
      one.vertices != four.vertices || one.indices != four.indices) {
    std::fprintf(stderr, "reading in stretches differs: \"%s\" against \"%s\"\n",
                 four.status.message.c_str(), one.status.message.c_str());
    std::abort();
  }
}

}  // namespace wz::d3dx::fuzz
