// The millisecond tick source. On Windows it is GetTickCount and Sleep; on
// POSIX a monotonic clock cut to 32 bits. Whoever waits is handed one: the
// system's in the programs, a virtual one in tests, so the reply limits and
// poll spacing run exactly and instantly there.
#pragma once

#include <cstdint>

class ITickSource {
 public:
  virtual ~ITickSource() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t TickCount() = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
};

// The platform's own tick source (one implementation file per platform).
ITickSource& SystemTickSource();

// Time from `from` to `to`: the absolute value of their difference taken as a
// signed 32-bit number, so a wrap of the counter gives a small elapsed time.
std::uint32_t ElapsedMs(std::uint32_t from, std::uint32_t to);
