#include "tests/core/heap_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> liveBlocks{0};

void* Allocate(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p) liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return p;
}
void Release(void* p) {
  if (!p) return;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}
}  // namespace

long LiveHeapBlocks() {
  return liveBlocks.load();
}

void* operator new(size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
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
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
