// Layout of MX files, shared by the MX reader and writer: a 32-byte header with the byte sizes of
// three blocks, then block A (60-byte scene records), block B (168-byte quad records) and block C
// (16-byte texture name records), back to back. Little-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wz::mx {

inline constexpr size_t kHeaderBytes = 32;
inline constexpr size_t kSceneRecordBytes = 60;  // block A
inline constexpr size_t kQuadRecordBytes = 168;  // block B
inline constexpr size_t kNameRecordBytes = 16;   // block C

// Header: block sizes at these offsets, each followed by the block's offset.
inline constexpr size_t kSceneSizeAt = 8;
inline constexpr size_t kQuadSizeAt = 16;
inline constexpr size_t kNameSizeAt = 24;

// Quad record fields.
inline constexpr size_t kVertexSlotsAt = 0;     // 4 x (x, y, z, w) floats, vertex k in slot 3 - k
inline constexpr size_t kNormalSlotsAt = 64;    // 4 x (x, y, z, w) floats
inline constexpr size_t kUvPairsAt = 128;       // 4 x (u, v) floats in texture pixels
inline constexpr size_t kColourAt = 160;        // 0x00RRGGBB
inline constexpr size_t kTextureIndexAt = 164;  // int16, -1 = none
inline constexpr size_t kGroupIndexAt = 166;    // int16

// A texture file is named "<name record>.bmp"; the writer drops the last four characters of a
// slot's file name to get the record.
inline constexpr const char* kTextureExtension = ".bmp";
inline constexpr size_t kExtensionChars = 4;

}  // namespace wz::mx
