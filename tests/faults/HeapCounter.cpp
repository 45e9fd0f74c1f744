// Replaces the global operator new and delete of this test program. Each
// block carries its size in a header in front of it, so delete knows what it
// gives back.
#include "tests/faults/HeapCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t);

std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};

void* Take(std::size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) return nullptr;
  *static_cast<std::size_t*>(block) = size;
  const std::size_t now = live.fetch_add(size) + size;
  std::size_t seen = peak.load();
  while (now > seen && !peak.compare_exchange_weak(seen, now)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void Give(void* pointer) {
  if (pointer == nullptr) return;
  void* block = static_cast<char*>(pointer) - kHeader;
  live.fetch_sub(*static_cast<std::size_t*>(block));
  std::free(block);
}

void* TakeOrThrow(std::size_t size) {
  if (void* pointer = Take(size)) return pointer;
  throw std::bad_alloc();
}

}  // namespace

namespace heap {
std::size_t Live() { return live.load(); }
void ResetPeak() { peak.store(live.load()); }
std::size_t Peak() { return peak.load(); }
}  // namespace heap

void* operator new(std::size_t size) { return TakeOrThrow(size); }
void* operator new[](std::size_t size) { return TakeOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void operator delete(void* pointer) noexcept { Give(pointer); }
void operator delete[](void* pointer) noexcept { Give(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Give(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Give(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { Give(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { Give(pointer); }
