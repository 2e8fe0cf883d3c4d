// The compressed layout of `tzip` and `bzip` X files: after the 16-byte header, a 32-bit total
// (16 + the size of the uncompressed body), then blocks of
//   u16 uncompressed size (at most 32768), u16 compressed size (counting the next two bytes),
//   'C' 'K', raw deflate data
// up to the end of the file. Each block is one complete deflate stream, but it may copy strings
// from the output of earlier blocks (the last 32 KB are its dictionary).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/d3dx/x_file.h"

namespace wz::d3dx {

// The largest uncompressed body accepted: far beyond any real mesh file, small enough that a
// hostile file cannot make the reader allocate without bound.
constexpr size_t kXMaxBodyBytes = size_t{1} << 30;
// The body may also be at most kXMaxBodyBase bytes plus kXMaxBodyRatio times the compressed data:
// deflate can expand a block a thousandfold, so the stated size alone would let a file of a few
// kilobytes claim a gigabyte. Mesh text compresses about four to eight times.
constexpr size_t kXMaxBodyBase = size_t{32} << 20;
constexpr size_t kXMaxBodyRatio = 8;

// Decodes `data` (everything after the 16-byte header) into `body`. False, with `status` set
// (Compression or Truncated), when a block is malformed or does not decode to its stated size, or
// when the blocks do not add up to the stated total.
bool InflateXBody(std::span<const uint8_t> data, std::vector<uint8_t>& body, XStatus& status);

// Appends the total and the blocks for `body` to `out`. Blocks are independent (no dictionary), so
// every reader can decode them. False when the compressor cannot start (out of memory).
bool DeflateXBody(std::span<const uint8_t> body, std::vector<uint8_t>& out);

}  // namespace wz::d3dx
