// A tick source that only moves when someone sleeps or a fake device waits,
// so the reply limits and poll spacing are checked exactly and instantly.
// Hand it to whatever waits.
#pragma once

#include <cstdint>
#include <vector>

#include "common/Clock.h"

class VirtualClock final : public ITickSource {
 public:
  explicit VirtualClock(std::uint32_t start = 0) : now_(start) {}
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  std::uint32_t TickCount() override { return now_; }
  void Sleep(std::uint32_t ms) override {
    sleeps.push_back(ms);
    now_ += ms;
  }
  void Advance(std::uint32_t ms) { now_ += ms; }
  std::uint32_t Now() const { return now_; }

  std::vector<std::uint32_t> sleeps;

 private:
  std::uint32_t now_;
};
