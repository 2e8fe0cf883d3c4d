// Memory that reads as zero bytes until it is written. Large blocks are fresh anonymous pages:
// the kernel supplies a zeroed page on its first touch, so a block costs address space until it
// is written, and growing one moves its pages instead of copying them. A freed large block is
// kept (up to a bound) and cleared where it was written when a block of about its size is asked
// for, so a program that makes and drops models of the same capacities takes no new pages. Small
// blocks come from the C heap, cleared. Under AddressSanitizer every block comes from the heap,
// so that accesses past a block are reported.
#pragma once

#include <cstddef>

namespace wz::platform {

// Blocks of at least this many bytes are made of pages of their own.
inline constexpr size_t kPageBlockBytes = 64 * 1024;

// A block of at least `bytes` zero bytes (bytes > 0); `*granted` (when given) receives the size
// granted, which the block is grown and freed by. Null when the memory cannot be had.
void* AllocateZeroed(size_t bytes, size_t* granted = nullptr);

// A block of at least `bytes` bytes (bytes > 0) whose first `bytes` the caller writes before it
// reads them, such as a buffer a file is read into: those are not cleared (a kept block's pages
// are taken as they are, which spares both the clearing and, for a block taken again, the kernel's
// first-touch faults); the rest of the block reads zero. Free it with FreeZeroed, counting the
// first `bytes` as written. Null when the memory cannot be had.
void* AllocateForWriting(size_t bytes, size_t* granted = nullptr);

// Grows a block of `oldBytes` (as granted) to at least `newBytes`: the first oldBytes keep their
// contents and the rest read zero. The block may move; `*granted` receives its new size. Null
// when the memory cannot be had; the old block is then left as it was.
void* GrowZeroed(void* block, size_t oldBytes, size_t newBytes, size_t* granted = nullptr);

// Frees a block of `bytes` (as last granted) whose first `writtenBytes` may have been written
// since it was allocated; the rest must still be zero. Null is ignored.
void FreeZeroed(void* block, size_t bytes, size_t writtenBytes);

// Tells that the first `writtenBytes` of a block of `bytes` (as granted) are about to be written
// whole: the 2 MB extents of a page block that this fills, or fills a quarter of, may be taken as
// huge pages (one fault and one clear per 2 MB instead of up to 512). Blocks are otherwise given
// huge pages only past their first 2 MB, so that a small model in a large pool takes single pages.
void AdviseWholeWrite(void* block, size_t bytes, size_t writtenBytes);

// True when blocks of `bytes` are made of pages (false for every size under AddressSanitizer).
bool ZeroedBlockIsPages(size_t bytes);

}  // namespace wz::platform
