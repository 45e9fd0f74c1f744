#include <time.h>

#include "common/Clock.h"

namespace {

class PosixTickSource final : public ITickSource {
 public:
  std::uint32_t TickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
  }

  void Sleep(std::uint32_t ms) override {
    timespec wait{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    // Sleep the whole span even when a signal interrupts it.
    while (nanosleep(&wait, &wait) != 0) {
    }
  }
};

}  // namespace

ITickSource& SystemTickSource() {
  static PosixTickSource source;
  return source;
}
