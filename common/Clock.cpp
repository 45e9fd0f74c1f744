#include "common/Clock.h"

std::uint32_t ElapsedMs(std::uint32_t from, std::uint32_t to) {
  const auto diff = static_cast<std::int32_t>(to - from);
  // Negate in 64 bits: -INT32_MIN does not fit 32.
  return static_cast<std::uint32_t>(diff < 0 ? -static_cast<std::int64_t>(diff) : diff);
}
