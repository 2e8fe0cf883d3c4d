// Zeroed memory on Linux: anonymous private mappings for large blocks (mremap to grow them, a
// small cache of freed ones), calloc and realloc for small ones.
#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define WZ_ZEROED_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WZ_ZEROED_HEAP_ONLY 1
#endif
#endif

namespace wz::platform {
namespace {

size_t PageSize() {
  static const size_t page = [] {
    const long p = ::sysconf(_SC_PAGESIZE);
    return p > 0 ? static_cast<size_t>(p) : size_t{4096};
  }();
  return page;
}

// The mapped length of a page block, or 0 when rounding up would overflow.
size_t MappedLength(size_t bytes) {
  const size_t page = PageSize();
  if (bytes > SIZE_MAX - (page - 1)) return 0;
  return (bytes + page - 1) / page * page;
}

// Freed page blocks by mapped length, each with the extent that may have been written, which is
// cleared when the block is handed out again (so that blocks freed at the end of the program
// are not cleared for nothing). Bounded, so that what the cache holds stays small beside the
// models themselves.
constexpr size_t kCachedBytes = size_t{64} << 20;

class PageCache {
 public:
  struct Block {
    void* p = nullptr;
    size_t length = 0;
    size_t written = 0;
  };

  // The smallest kept block of at least `length` bytes and at most twice that; p is null when
  // there is none.
  Block Take(size_t length) {
    std::lock_guard lock(mutex_);
    size_t best = blocks_.size();
    for (size_t i = 0; i < blocks_.size(); ++i) {
      const size_t l = blocks_[i].length;
      if (l >= length && l / 2 <= length && (best == blocks_.size() || l < blocks_[best].length)) {
        best = i;
      }
    }
    if (best == blocks_.size()) return {};
    const Block b = blocks_[best];
    blocks_[best] = blocks_.back();
    blocks_.pop_back();
    total_ -= b.length;
    return b;
  }
  // Keeps a block; false when the cache is full.
  bool Keep(const Block& b) {
    std::lock_guard lock(mutex_);
    if (total_ + b.length > kCachedBytes) return false;
    blocks_.push_back(b);
    total_ += b.length;
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<Block> blocks_;
  size_t total_ = 0;
};

PageCache& Cache() {
  static PageCache* cache = new PageCache;  // never destroyed: blocks may be freed at exit
  return *cache;
}

// Zeroes bytes [from, written) of a page block for reuse. `written` counts what may have been
// written (a pool counts all it has handed out), so what the pages hold decides: pages in memory
// are cleared in place, which costs a fraction of giving them back and taking each one again on
// its first write (a fault and a page cleared by the kernel per 4 KB); pages not in memory are
// given back to the kernel (MADV_DONTNEED), after which a private anonymous mapping reads as fresh
// zero pages whether they were never touched or swapped out. False when pages cannot be given
// back (locked memory).
bool ClearWritten(void* block, size_t written, size_t from = 0) {
  if (written <= from) return true;
  char* const base = static_cast<char*>(block);
  constexpr size_t kSmall = 64 * 1024;  // below this, clearing is cheaper than asking
  if (written - from <= kSmall) {
    std::memset(base + from, 0, written - from);
    return true;
  }
  // The part of a page before whole pages is cleared; whole pages go by what is in memory.
  const size_t page = PageSize(), first = MappedLength(from), last = MappedLength(written);
  std::memset(base + from, 0, first - from);
  if (last <= first) return true;
  // Without memory for the map of pages, or an answer from the kernel, every page is given back.
  const size_t pages = (last - first) / page;
  const std::unique_ptr<unsigned char[]> resident(new (std::nothrow) unsigned char[pages]);
  if (!resident || ::mincore(base + first, last - first, resident.get()) != 0) {
    return ::madvise(base + first, last - first, MADV_DONTNEED) == 0;
  }
  for (size_t i = 0; i < pages;) {
    const bool in = resident[i] & 1;
    size_t j = i;
    while (j < pages && bool(resident[j] & 1) == in)
      ++j;
    char* const p = base + first + i * page;
    const size_t length = (j - i) * page;
    if (in) {
      std::memset(p, 0, length);
    } else if (::madvise(p, length, MADV_DONTNEED) != 0) {
      return false;
    }
    i = j;
  }
  return true;
}

constexpr uintptr_t kHuge = uintptr_t{2} << 20;  // a huge page

// Huge pages for the whole 2 MB extents of [from, to). The kernel may refuse or ignore the advice.
void AdviseHugeExtents(uintptr_t from, uintptr_t to) {
  from = (from + kHuge - 1) & ~(kHuge - 1);
  to &= ~(kHuge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

// Huge pages for the part of a block past its first 2 MB: a model that fills a large pool
// takes one fault per 2 MB instead of one per page, and a small model, which touches only the
// start of its pools, still takes single pages.
void AdviseHugePages(void* block, size_t length) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(block);
  AdviseHugeExtents(start + kHuge, start + length);
}

// Moves a page block of `oldBytes` into a block of `length` bytes (whole pages, more than
// oldBytes): the old pages keep their contents and are moved, not copied; the rest reads zero.
// Null when the memory cannot be had; the old block is then left as it was.
//
// One mremap grows a block whose pages lie in one mapping. Huge-page advice on part of a block
// splits it into several mappings (the kernel keeps one set of flags per mapping), and mremap
// refuses to resize across them; such a block is moved piece by piece into a new mapping. The
// advice only ever covers whole 2 MB extents, so a piece within one extent is always in one
// mapping.
void* MovePages(void* block, size_t oldBytes, size_t length) {
  void* grown = ::mremap(block, oldBytes, length, MREMAP_MAYMOVE);
  if (grown != MAP_FAILED) return grown;
  if (length > SIZE_MAX - kHuge) return nullptr;
  // The new block keeps the old one's place within a 2 MB extent, so that a huge page moves
  // whole instead of being split.
  void* raw =
      ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t from = reinterpret_cast<uintptr_t>(block), r = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t to = r + ((from - r) & (kHuge - 1));
  if (to > r) ::munmap(raw, to - r);
  if (r + kHuge > to) ::munmap(reinterpret_cast<void*>(to + length), r + kHuge - to);
  // The rest of the block in one move when it is one mapping, else the next extent alone.
  for (size_t done = 0; done < oldBytes;) {
    const auto move = [&](size_t end) {
      return ::mremap(reinterpret_cast<void*>(from + done), end - done, end - done,
                      MREMAP_MAYMOVE | MREMAP_FIXED,
                      reinterpret_cast<void*>(to + done)) != MAP_FAILED;
    };
    const size_t extentEnd = std::min(oldBytes, ((from + done + kHuge) & ~(kHuge - 1)) - from);
    size_t end = oldBytes;
    if (!move(end)) {
      end = extentEnd;
      if (end == oldBytes || !move(end)) {
        // The kernel cannot move even this piece (out of mappings): it is copied instead.
        std::memcpy(reinterpret_cast<void*>(to + done), reinterpret_cast<void*>(from + done),
                    end - done);
        ::munmap(reinterpret_cast<void*>(from + done), end - done);
      }
    }
    done = end;
  }
  return reinterpret_cast<void*>(to);
}

// A page block of at least `bytes`, zero past its first `overwritten` bytes (those the caller
// writes before reading them).
void* MapPages(size_t bytes, size_t& granted, size_t overwritten = 0) {
  size_t length = MappedLength(bytes);
  if (length == 0) return nullptr;
  // Blocks of 2 MB or more are made of whole 2 MB extents: recent kernels place such a mapping
  // on a 2 MB boundary, and each extent can then be one huge page. So are blocks of which the
  // caller writes 512 KB or more from the start (a file read into them), taken as huge pages
  // throughout: cheaper than 128 single pages or more, and the tail of the last extent reads
  // zero all the same.
  const bool whole = overwritten >= kHuge / 4 && length <= SIZE_MAX - kHuge;
  if ((whole || length >= kHuge) && length <= SIZE_MAX - kHuge)
    length = (length + kHuge - 1) & ~(kHuge - 1);
  if (const PageCache::Block b = Cache().Take(length); b.p) {
    if (ClearWritten(b.p, b.written, overwritten)) {
      granted = b.length;
      return b.p;
    }
    ::munmap(b.p, b.length);
  }
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(p);
  AdviseHugeExtents(whole ? start : start + kHuge, start + length);
  granted = length;
  return p;
}

}  // namespace

bool ZeroedBlockIsPages(size_t bytes) {
#ifdef WZ_ZEROED_HEAP_ONLY
  (void)bytes;
  return false;
#else
  return bytes >= kPageBlockBytes;
#endif
}

void* AllocateZeroed(size_t bytes, size_t* granted) {
  if (bytes == 0) return nullptr;
  size_t size = bytes;
  void* p = ZeroedBlockIsPages(bytes) ? MapPages(bytes, size) : std::calloc(1, bytes);
  if (p && granted) *granted = size;
  return p;
}

void* AllocateForWriting(size_t bytes, size_t* granted) {
  if (bytes == 0) return nullptr;
  size_t size = bytes;
  void* p = ZeroedBlockIsPages(bytes) ? MapPages(bytes, size, bytes) : std::malloc(bytes);
  if (p && granted) *granted = size;
  return p;
}

void* GrowZeroed(void* block, size_t oldBytes, size_t newBytes, size_t* granted) {
  if (!block) return AllocateZeroed(newBytes, granted);
  if (newBytes <= oldBytes) {
    if (granted) *granted = oldBytes;
    return block;
  }
  size_t size = newBytes;
  void* p = nullptr;
  if (ZeroedBlockIsPages(oldBytes)) {
    // A page block's length is whole pages: the new pages read zero, as the old ones did where
    // they were not written.
    size = MappedLength(newBytes);
    if (size == 0) return nullptr;
    p = MovePages(block, oldBytes, size);
    if (!p) return nullptr;
    AdviseHugePages(p, size);
  } else if (ZeroedBlockIsPages(newBytes)) {
    p = MapPages(newBytes, size);
    if (!p) return nullptr;
    std::memcpy(p, block, oldBytes);
    std::free(block);
  } else {
    p = std::realloc(block, newBytes);
    if (!p) return nullptr;
    std::memset(static_cast<char*>(p) + oldBytes, 0, newBytes - oldBytes);
  }
  if (granted) *granted = size;
  return p;
}

void AdviseWholeWrite(void* block, size_t bytes, size_t writtenBytes) {
  if (!block || !ZeroedBlockIsPages(bytes)) return;
  // An extent the write fills a quarter of is cheaper as one huge page than as the single pages
  // written: measured here, a fault on a 4 KB page takes about 3 us, one on a 2 MB page 250 us.
  const uintptr_t start = reinterpret_cast<uintptr_t>(block),
                  end = start + std::min(bytes, writtenBytes);
  uintptr_t to = end & ~(kHuge - 1);
  if (end - to >= kHuge / 4 && to + kHuge <= start + bytes) to += kHuge;
  AdviseHugeExtents(start, to);
}

void FreeZeroed(void* block, size_t bytes, size_t writtenBytes) {
  if (!block) return;
  if (!ZeroedBlockIsPages(bytes)) {
    std::free(block);
    return;
  }
  if (!Cache().Keep({block, bytes, std::min(writtenBytes, bytes)})) ::munmap(block, bytes);
}

}  // namespace wz::platform
