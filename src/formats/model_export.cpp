// Shared parts of the glTF and OBJ writers: frame change, corner normals and colours, material
// names and colours, and the images of the texture slots (libpng encodes the converted ones).
#include "formats/model_export.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>

#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/texture_file.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz::exchange {
namespace {

Vec3 Unit(Vec3 v) {
  const float length = Length(v);
  if (!std::isfinite(length) || length < 1e-12f) return {};
  return v / length;
}

float Byte01(float v) {
  return v > 0.0f ? std::min(v / 255.0f, 1.0f) : 0.0f;
}

// Characters kept in names written into exchange files; the rest become '_'.
std::string Portable(std::string_view utf8) {
  std::string out;
  for (unsigned char c : utf8)
    out.push_back(
        c <= 0x20 || c == 0x7F || c == '/' || c == '\\' || c == '"' || c == '#' ? '_' : char(c));
  return out;
}

bool IsAbsolute(std::string_view path) {
  return !path.empty() &&
         (path[0] == '\\' || path[0] == '/' || (path.size() > 1 && path[1] == ':'));
}

// The part after the last separator ('\\', '/' or a drive's ':'), stepping over two-byte
// characters whose second byte is 0x5C.
std::string FileNameOf(const std::string& path) {
  size_t cut = std::string::npos;
  for (char c : {'\\', '/', ':'}) {
    const size_t at = platform::Cp932FindLast(path, c);
    if (at != std::string::npos && (cut == std::string::npos || at > cut)) cut = at;
  }
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Where the image of a texture slot may be, in order: as the WZP reader loads it, beside the
// model file, in the model's directory, and as named (absolute, or against the current folder).
std::vector<std::string> Candidates(const Model& model, const TextureSlot& slot) {
  const std::string name(slot.fileName.View());
  const std::string modelFolder = FolderOf(std::string(model.fileName.View()));
  const std::string directory(model.directory.View());
  std::vector<std::string> out;
  if (IsAbsolute(name)) {
    out.push_back(name);
    if (!modelFolder.empty()) out.push_back(modelFolder + FileNameOf(name));
    return out;
  }
  if (slot.fullPath.Length() > 0 && !directory.empty())
    out.push_back(directory + "\\" + std::string(slot.fullPath.View()));
  if (!modelFolder.empty()) out.push_back(modelFolder + name);
  if (!directory.empty()) out.push_back(directory + "\\" + name);
  out.push_back(name);
  return out;
}

// Decodes an image that is converted to another format, when its pixels stay within the memory a
// file of its size may cost (256 MB and 16 times its bytes): a small compressed file may claim a
// picture of gigabytes.
d3dx::ImageError DecodeForConversion(const std::vector<uint8_t>& bytes, d3dx::DecodedImage& out) {
  d3dx::D3DXIMAGE_INFO info{};
  if (const d3dx::ImageError e = d3dx::ReadImageInfo(bytes, info); e != d3dx::ImageError::kNone)
    return e;
  const uint64_t budget = (uint64_t{256} << 20) + 16 * uint64_t(bytes.size());
  if (uint64_t(info.Width) * info.Height * 4 > budget) return d3dx::ImageError::kTooLarge;
  return d3dx::DecodeImage(bytes, out);
}

// The bytes of a texture slot's image, from the first place it is found.
bool ReadSlotImage(ModelHost& host, const Model& model, const TextureSlot& slot,
                   std::vector<uint8_t>& bytes) {
  for (const std::string& candidate : Candidates(model, slot)) {
    if (host.ReadNamedFile(candidate, bytes) == platform::NamedFileError::kNone) return true;
  }
  return false;
}

struct PngWriteState {
  std::vector<uint8_t>* out;
};

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* state = static_cast<PngWriteState*>(png_get_io_ptr(png));
  state->out->insert(state->out->end(), data, data + length);
}
void PngFlush(png_structp) {}
[[noreturn]] void PngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

// The libpng calls, in a function whose locals have trivial destructors (longjmp skips them).
bool EncodeRows(png_structp png, png_infop info, png_bytep* rows, uint32_t width, uint32_t height) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);  // rows hold B,G,R,A
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

Vec3 CornerNormal(const Model& model, const Polygon& p, int c) {
  const Corner& corner = p.corners[size_t(c)];
  const Group* group =
      p.group >= 0 && p.group < model.groupCount ? &model.groups[size_t(p.group)] : nullptr;
  Vec3 n{};
  if (!(group && group->shading == 3)) {
    if (model.normalCount > 0) {
      n = Unit(model.normals[size_t(corner.normal)]);
    } else if (size_t(corner.position) < model.smoothNormals.size()) {
      n = Unit(model.smoothNormals[size_t(corner.position)]);
    }
  }
  if (n == Vec3{}) n = Unit(p.faceNormal);
  if (n == Vec3{}) n = {0.0f, 1.0f, 0.0f};
  return n;
}

bool UsesCornerColours(const Model& model) {
  return model.vertexColoursOn == 1 && model.colourCount > 0;
}

MaterialColour GroupColour(const Model& model, const Group& group) {
  const ColourF& m = model.colour;
  if (UsesCornerColours(model)) return {{Byte01(m.r), Byte01(m.g), Byte01(m.b), Byte01(m.a)}};
  const ColourF& g = group.colour;
  return {{Byte01(g.r) * Byte01(m.r), Byte01(g.g) * Byte01(m.g), Byte01(g.b) * Byte01(m.b),
           Byte01(g.a) * Byte01(m.a)}};
}

MaterialColour CornerColour(const Model& model, const Corner& corner) {
  const ColourF& c = model.colours[size_t(corner.colour)];
  return {{Byte01(c.r), Byte01(c.g), Byte01(c.b), Byte01(c.a)}};
}

std::string MaterialName(const Group& group, std::vector<std::string>& taken) {
  std::string base = Portable(platform::Cp932ToUtf8(group.name.View()));
  if (base.empty()) base = "material";
  std::string name = base;
  for (int k = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++k)
    name = base + "_" + std::to_string(k);
  taken.push_back(name);
  return name;
}

bool HasFaces(const Model& model) {
  for (int32_t p = 0; p < model.polygonCount; ++p)
    if (model.polygons[size_t(p)].cornerCount >= 3) return true;
  return false;
}

int32_t GroupTextureSlot(const Model& model, const Group& group) {
  const int32_t s = group.textureSlot;
  if (s <= 0 || s >= model.textureSlotCount || size_t(s) >= model.textureSlots.size()) return 0;
  const TextureSlot& slot = model.textureSlots[size_t(s)];
  return slot.state == 1 && slot.fileName.Length() > 0 ? s : 0;
}

ExportImages GatherImages(ModelHost& host, const Model& model, const std::string& outputPath) {
  ExportImages result;
  result.imageOfSlot.assign(size_t(std::max<int16_t>(model.textureSlotCount, 0)), -1);
  std::vector<bool> used(result.imageOfSlot.size());
  // Bounded by the lists too: this runs before the writers check the model.
  const size_t groups = std::min(size_t(std::max(model.groupCount, 0)), model.groups.size());
  for (size_t g = 0; g < groups; ++g) {
    if (int32_t s = GroupTextureSlot(model, model.groups[g])) used[size_t(s)] = true;
  }
  for (size_t s = 1; s < used.size(); ++s) {
    if (!used[s]) continue;
    const TextureSlot& slot = model.textureSlots[s];
    std::vector<uint8_t> bytes;
    const std::string shown(slot.fileName.View());
    if (!ReadSlotImage(host, model, slot, bytes)) {
      host.Log(outputPath + " : image " + shown + " not found; its texture is left out");
      continue;
    }
    ExportImage image;
    std::string base = Portable(platform::Cp932ToUtf8(FileNameOf(shown)));
    D3DXIMAGE_FILEFORMAT format{};
    d3dx::SniffImageFileFormat(bytes, format);
    if (format == D3DXIFF_PNG || format == D3DXIFF_JPG) {
      image.mimeType = format == D3DXIFF_PNG ? "image/png" : "image/jpeg";
      image.bytes = std::move(bytes);
      image.name = base;
    } else {
      d3dx::DecodedImage decoded;
      const d3dx::ImageError error = DecodeForConversion(bytes, decoded);
      if (error != d3dx::ImageError::kNone ||
          !EncodePng(decoded.pixels.data(), decoded.info.Width, decoded.info.Height, image.bytes)) {
        host.Log(outputPath + " : image " + shown + " cannot be converted (" +
                 d3dx::ImageErrorText(error) + "); its texture is left out");
        continue;
      }
      image.mimeType = "image/png";
      image.name = WithoutExtension(base) + ".png";
    }
    if (image.name.empty() || image.name == ".png") image.name = "texture.png";
    // Two slots of different files may share a file name: the later one is renamed.
    for (int k = 2;; ++k) {
      auto same = [&](const ExportImage& other) { return other.name == image.name; };
      if (std::none_of(result.images.begin(), result.images.end(), same)) break;
      const size_t dot = image.name.rfind('.');
      image.name = image.name.substr(0, dot) + "_" + std::to_string(k) +
                   (dot == std::string::npos ? "" : image.name.substr(dot));
    }
    result.imageOfSlot[s] = int(result.images.size());
    result.images.push_back(std::move(image));
  }
  return result;
}

namespace {

// "wood.png" -> "wood_2.png" (k = 2), on a code-page-932 name.
std::string Numbered(const std::string& name, int k) {
  const size_t dot = platform::Cp932FindLast(name, '.');
  const size_t slash = platform::Cp932FindLast(name, '\\');
  const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return name.substr(0, hasDot ? dot : name.size()) + "_" + std::to_string(k) +
         (hasDot ? name.substr(dot) : "");
}

// Claims a name for `bytes` in `folder` (with its trailing backslash), starting from `name` (code
// page 932, relative): the name is taken by making its file, never by looking first. A file that
// is there keeps its contents and is used only when it holds these very bytes (`write` false).
// Names in `taken` and those the run reserves are passed over. Returns the name, or "" when no
// file can be made.
std::string ClaimName(ModelHost& host, const std::string& folder, const std::string& name,
                      const std::vector<uint8_t>& bytes, std::vector<std::string>& taken,
                      std::vector<std::string>& claimed, bool& write) {
  for (int k = 1;; ++k) {
    const std::string candidate = k == 1 ? name : Numbered(name, k);
    const std::string target = folder + candidate;
    if (std::find(taken.begin(), taken.end(), candidate) != taken.end() ||
        (host.reservedOutput && host.reservedOutput(target)))
      continue;
    const platform::ClaimResult claim = platform::ClaimNewFile(target);
    if (claim == platform::ClaimResult::kFailed) return {};
    std::vector<uint8_t> existing;
    write = claim == platform::ClaimResult::kClaimed;
    if (write) {
      claimed.push_back(target);
    } else if (platform::ReadRegularFile(target, existing, bytes.size()) !=
                   platform::NamedFileError::kNone ||
               existing != bytes) {
      continue;
    }
    taken.push_back(candidate);
    return candidate;
  }
}

}  // namespace

bool NameImagesBeside(ModelHost& host, const std::string& outputPath, ExportImages& images) {
  const std::string folder = FolderOf(outputPath);
  std::vector<std::string> taken;
  for (ExportImage& image : images.images) {
    // Image names are UTF-8 for the documents that name them; on disk they take the reversible
    // mapping of host names, so every character reaches the file as it is.
    const std::string name = ClaimName(host, folder, platform::HostBytesToCp932(image.name, true),
                                       image.bytes, taken, images.claimed, image.write);
    if (name.empty()) {
      host.Refuse(outputPath, "image " + image.name + " cannot be written");
      return false;
    }
    image.name = platform::Cp932ToHostBytes(name, true);
  }
  return true;
}

bool PlaceImagesByName(ModelHost& host, const Model& model, const std::string& outputPath, bool bmp,
                       std::vector<std::string>& slotNames, ExportImages& placed) {
  const std::string folder = FolderOf(outputPath);
  slotNames.assign(size_t(std::max<int16_t>(model.textureSlotCount, 0)), std::string());
  std::vector<bool> used(slotNames.size());
  const size_t groups = std::min(size_t(std::max(model.groupCount, 0)), model.groups.size());
  for (size_t g = 0; g < groups; ++g) {
    if (int32_t s = GroupTextureSlot(model, model.groups[g])) used[size_t(s)] = true;
  }
  std::vector<std::string> taken;
  for (size_t s = 1; s < used.size(); ++s) {
    if (!used[s]) continue;
    const TextureSlot& slot = model.textureSlots[s];
    std::vector<uint8_t> bytes;
    // An image that cannot be found stays named as it was: the load said so already.
    if (!ReadSlotImage(host, model, slot, bytes)) continue;
    const std::string name(slot.fileName.View());
    // Either separator may stand in a name; on disk they are one ('/' is no trail byte).
    std::string wanted = name;
    std::replace(wanted.begin(), wanted.end(), '/', '\\');
    if (bmp) {
      D3DXIMAGE_FILEFORMAT format{};
      d3dx::SniffImageFileFormat(bytes, format);
      if (format != D3DXIFF_BMP) {
        d3dx::DecodedImage decoded;
        if (DecodeForConversion(bytes, decoded) != d3dx::ImageError::kNone) {
          host.Log(outputPath + " : image " + name +
                   " cannot be converted to BMP; its texture "
                   "is left out");
          continue;
        }
        bytes = d3dx::EncodeBmp32(decoded.info.Width, decoded.info.Height, decoded.pixels.data(),
                                  size_t(decoded.info.Width) * 4);
      }
      // The file names "<name without its last four characters>.bmp".
      wanted = wanted.size() >= 4 ? wanted.substr(0, wanted.size() - 4) + ".bmp" : wanted + ".bmp";
    }
    // Where the output will look: an absolute name where it says, a relative one beside it.
    const std::string looked = IsAbsolute(wanted) ? wanted : folder + wanted;
    std::vector<uint8_t> there;
    if (platform::ReadRegularFile(looked, there, bytes.size()) == platform::NamedFileError::kNone &&
        there == bytes) {
      continue;
    }
    // Otherwise the image goes into the output's folder: under its own name when that stays in
    // the folder (subfolders are made), else under its file name, which the output then gives.
    const bool within = !IsAbsolute(wanted) && wanted.find("..") == std::string::npos;
    std::string base = within ? wanted : FileNameOf(wanted);
    if (bmp) {
      // A BMP's name must fit the 16-byte record of the MX layout, the ".bmp" dropped.
      std::string stem = WithoutExtension(
          platform::HostBytesToCp932(Portable(platform::Cp932ToUtf8(FileNameOf(wanted))), true));
      while (stem.size() > 11)
        stem.pop_back();
      if (stem.empty() || static_cast<unsigned char>(stem.back()) >= 0x80) stem = "tex";
      base = within && base.size() <= 15 + 4 ? base : stem + ".bmp";
    }
    if (base != FileNameOf(base) && !platform::MakeFolders(FolderOf(folder + base))) {
      base = FileNameOf(base);
    }
    bool write = true;
    const std::string claimedName =
        ClaimName(host, folder, base, bytes, taken, placed.claimed, write);
    if (claimedName.empty()) {
      host.Refuse(outputPath, "image " + platform::Cp932ToUtf8(base) + " cannot be written");
      return false;
    }
    if (write) {
      ExportImage image;
      image.name = platform::Cp932ToHostBytes(claimedName, true);
      image.bytes = std::move(bytes);
      placed.images.push_back(std::move(image));
    }
    if (claimedName != name) slotNames[s] = claimedName;
  }
  return true;
}

bool WriteImagesBeside(ModelHost& host, const std::string& outputPath, const ExportImages& images) {
  const std::string folder = FolderOf(outputPath);
  for (const ExportImage& image : images.images) {
    if (!image.write) continue;
    if (!platform::WriteFileAtomically(folder + platform::HostBytesToCp932(image.name, true),
                                       image.bytes)) {
      host.Refuse(outputPath, "image " + image.name + " cannot be written");
      return false;
    }
  }
  return true;
}

void TakeBackImages(ExportImages& images) {
  for (const std::string& path : images.claimed)
    platform::RemoveOutputFile(path);
  images.claimed.clear();
}

bool EncodePng(const uint8_t* bgra, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
  out.clear();
  if (width == 0 || height == 0) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  PngWriteState state{&out};
  png_set_write_fn(png, &state, PngWrite, PngFlush);
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y)
    rows[y] = const_cast<png_bytep>(bgra + size_t(y) * width * 4);
  const bool ok = EncodeRows(png, info, rows.data(), width, height);
  png_destroy_write_struct(&png, &info);
  if (!ok) out.clear();
  return ok;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WithoutExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('\\');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

}  // namespace wz::exchange
