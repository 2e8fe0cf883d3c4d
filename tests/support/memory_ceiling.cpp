// The allocation counter of the test binary: replacements of the global operators new and delete
// that keep the number of live bytes (by the usable size of each block) and, while an
// AllocationCeiling is set, refuse allocations above it.
#include "support/memory_ceiling.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace wz::testing {
namespace {

std::atomic<int64_t> live{0};
std::atomic<int64_t> limit{-1};  // -1: no ceiling
std::atomic<int64_t> start{0};
std::atomic<int64_t> peak{0};
std::atomic<bool> reached{false};

void* Allocate(size_t size, size_t alignment, bool nothrow) {
  if (size == 0) size = 1;
  for (;;) {
    const int64_t ceiling = limit.load(std::memory_order_relaxed);
    void* p = nullptr;
    if (ceiling < 0 || live.load(std::memory_order_relaxed) + int64_t(size) <= ceiling) {
      p = alignment > alignof(std::max_align_t)
              ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
              : std::malloc(size);
    } else {
      reached.store(true);
    }
    if (p) {
      const int64_t now =
          live.fetch_add(int64_t(malloc_usable_size(p))) + int64_t(malloc_usable_size(p));
      int64_t high = peak.load(std::memory_order_relaxed);
      while (now > high && !peak.compare_exchange_weak(high, now)) {
      }
      return p;
    }
    // As a real heap does: the new-handler may free memory, else the allocation fails.
    if (std::new_handler handler = std::get_new_handler()) {
      handler();
      continue;
    }
    if (nothrow) return nullptr;
    throw std::bad_alloc();
  }
}

void Release(void* p) {
  if (!p) return;
  live.fetch_sub(int64_t(malloc_usable_size(p)));
  std::free(p);
}

}  // namespace

AllocationCeiling::AllocationCeiling(size_t allowance) {
  const int64_t now = live.load();
  start.store(now);
  peak.store(now);
  reached.store(false);
  limit.store(now + int64_t(allowance));
}

AllocationCeiling::~AllocationCeiling() {
  limit.store(-1);
}

bool AllocationCeiling::Reached() const {
  return reached.load();
}

size_t AllocationCeiling::Peak() const {
  return size_t(std::max<int64_t>(0, peak.load() - start.load()));
}

}  // namespace wz::testing

using wz::testing::Allocate;
using wz::testing::Release;

void* operator new(size_t n) {
  return Allocate(n, 0, false);
}
void* operator new[](size_t n) {
  return Allocate(n, 0, false);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n, 0, true);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n, 0, true);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(size_t n, std::align_val_t a) {
  return Allocate(n, size_t(a), false);
}
void* operator new[](size_t n, std::align_val_t a) {
  return Allocate(n, size_t(a), false);
}
void operator delete(void* p) noexcept {
  Release(p);
}
void operator delete[](void* p) noexcept {
  Release(p);
}
void operator delete(void* p, size_t) noexcept {
  Release(p);
}
void operator delete[](void* p, size_t) noexcept {
  Release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  Release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  Release(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
  Release(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  Release(p);
}
