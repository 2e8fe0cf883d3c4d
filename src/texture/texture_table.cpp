// The texture table operations of the library object and its system textures.
#include "texture/texture_table.h"

#include <cstdio>
#include <cstring>

#include "core/library.h"
#include "platform/text.h"

namespace wz {

void Library::ImageLoad(const char* path, std::shared_ptr<d3d::Texture>& place,
                        D3DXIMAGE_INFO& info) {
  wz::ImageLoad(device_.get(), path, place, info, [this](const char* line) { Log("%s", line); });
}

int32_t Library::Texture_Load(const char* path, int32_t* index) {
  TextureEntry& row = textureTable_.rows.emplace_back();
  const int32_t rowIndex = static_cast<int32_t>(textureTable_.rows.size() - 1);
  row.used = 1;
  // The row holds 258 characters of the path; a longer path is cut at a character boundary.
  std::string_view p = path ? path : "";
  std::memcpy(row.path, p.data(), platform::Cp932SafePrefix(p, sizeof row.path - 1));
  ImageLoad(path, row.texture, row.info);
  int32_t result = rowIndex;
  if (!row.texture) {
    row.info.Width = 32;
    row.info.Height = 32;
    result = -1;
  }
  if (index) *index = result;
  return result;
}

int32_t Library::Texture_LoadWithId(const char* path) {
  int32_t index = Texture_Load(path, nullptr);
  if (index >= 0 && size_t(index) < textureIdMap_.size()) textureIdMap_[size_t(index)] = index;
  return index;
}

void Library::Texture_SizeGet(int32_t index, float& width, float& height) const {
  width = height = 0;
  if (index < 0 || size_t(index) >= textureTable_.rows.size()) return;
  const TextureEntry& row = textureTable_.rows[size_t(index)];
  if (!row.used) return;
  width = static_cast<float>(row.info.Width);
  height = static_cast<float>(row.info.Height);
}

void Library::Texture_Set(int32_t index) {
  if (!device_) return;
  d3d::Texture* texture = nullptr;
  if (index >= 0 && size_t(index) < textureTable_.rows.size()) {
    texture = textureTable_.rows[size_t(index)].texture.get();
  }
  device_->SetTexture(0, texture);
}

bool Library::NullTexture_Load() {
  std::string path = dataDir_ + "\\System\\tex_null.bmp";
  D3DXIMAGE_INFO info;
  ImageLoad(path.c_str(), systemTextures_.null, info);
  if (!systemTextures_.null) Log("*** LoadError *** Data/System/tex_null.bmp");
  return true;
}

bool Library::ToonTexture_Load() {
  if (!device_) return false;
  std::string path = dataDir_ + "\\System\\Toon.JPG";
  ImageLoad(path.c_str(), systemTextures_.toon, systemTextures_.toonInfo);
  if (systemTextures_.toon) {
    systemTextures_.toonLoaded = true;
    return true;
  }
  systemTextures_.toonInfo.Width = 32;
  systemTextures_.toonInfo.Height = 32;
  return false;
}

d3d::Texture* Library::ShadowTexture() {
  if (!systemTextures_.shadow) {
    std::string path = dataDir_ + "\\System\\shadow2d.png";
    D3DXIMAGE_INFO info;
    wz::ImageLoad(device_.get(), path.c_str(), systemTextures_.shadow, info, {});
  }
  return systemTextures_.shadow.get();
}

void Library::InitTextureTable() {
  NullTexture_Load();
}

void Library::LoadToonTexture() {
  ToonTexture_Load();
}

}  // namespace wz
