#include "common/Clock.h"

namespace {
// Per thread, like the engine's globals: a test's virtual clock reaches only
// the thread that installed it.
thread_local ITickSource* current_source = nullptr;

ITickSource& Source() { return current_source != nullptr ? *current_source : SystemTickSource(); }
}  // namespace

ITickSource* SetTickSource(ITickSource* source) {
  ITickSource* previous = current_source != nullptr ? current_source : &SystemTickSource();
  current_source = source;
  return previous;
}

std::uint32_t TickCount() { return Source().TickCount(); }

void SleepMs(std::uint32_t ms) { Source().Sleep(ms); }

std::uint32_t ElapsedMs(std::uint32_t from, std::uint32_t to) {
  const auto diff = static_cast<std::int32_t>(to - from);
  // Negate in 64 bits: -INT32_MIN does not fit 32.
  return static_cast<std::uint32_t>(diff < 0 ? -static_cast<std::int64_t>(diff) : diff);
}
