// Times bytes on a paced line: each byte takes 10 bit times (8N1) at the line's rate.
// A burst of back-to-back bytes is timed from its start, byte k ending exactly
// k * 10 / rate seconds after it, so the fraction of a microsecond in a byte time
// (1041.67 us at 9600 bit/s) is neither dropped nor allowed to add up.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace pagersim {

template <typename Clock>
class LinePacer {
 public:
  using TimePoint = typename Clock::time_point;

  explicit LinePacer(TimePoint start = TimePoint()) : burst_start_(start), free_at_(start) {}

  // The moment a byte that could start at `earliest` has crossed the line at `bps`:
  // right behind the previous byte while the line is busy, else from `earliest`.
  TimePoint Next(TimePoint earliest, int bps) {
    if (earliest > free_at_ || bps != bps_) {
      burst_start_ = std::max(earliest, free_at_);
      bytes_ = 0;
      bps_ = std::max(bps, 1);
    }
    ++bytes_;
    const std::int64_t nanos = bytes_ * kBitsPerByte * kNanosPerSecond / bps_;
    free_at_ = burst_start_ + std::chrono::duration_cast<typename Clock::duration>(
                                  std::chrono::nanoseconds(nanos));
    return free_at_;
  }

  // When the last byte timed so far has crossed the line.
  TimePoint FreeAt() const { return free_at_; }

 private:
  static constexpr std::int64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
  static constexpr std::int64_t kNanosPerSecond = 1000000000;

  TimePoint burst_start_;
  TimePoint free_at_;
  std::int64_t bytes_ = 0;
  int bps_ = 0;
};

}  // namespace pagersim
