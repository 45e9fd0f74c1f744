#include "engine/Turnaround.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "engine/Protocol.h"

namespace {

// A millisecond of tick resolution either side, and the loader's own
// moment to answer.
constexpr std::uint32_t kBoundSlackMs = 3;
constexpr double kBoundMargin = 1.25;
constexpr std::size_t kQuarters = 4;
// All but the slowest eighth of the recent replies.
constexpr double kUsualQuantile = 0.875;

}  // namespace

double TurnaroundMs(std::size_t command_bytes, std::int32_t rate, std::uint32_t elapsed_ms) {
  // The command's bytes out, then the reply byte back.
  return static_cast<double>(elapsed_ms) - LineMs(command_bytes + 1, rate);
}

void PortTurnaround::Add(std::size_t command_bytes, std::int32_t rate, std::uint32_t elapsed_ms) {
  AddMs(TurnaroundMs(command_bytes, rate, elapsed_ms));
}

void PortTurnaround::AddMs(double turnaround_ms) {
  recent_[next_] = std::max(0.0, turnaround_ms);
  next_ = (next_ + 1) % kRecentReplies;
  count_ = std::min(count_ + 1, kRecentReplies);
}

double PortTurnaround::TypicalMs() const {
  if (count_ == 0) return -1.0;
  std::array<double, kRecentReplies> sorted = recent_;
  std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(count_));
  const std::size_t quarter = count_ / kQuarters;
  const auto first = sorted.begin() + static_cast<std::ptrdiff_t>(quarter);
  const auto last = sorted.begin() + static_cast<std::ptrdiff_t>(count_ - quarter);
  return std::accumulate(first, last, 0.0) / static_cast<double>(last - first);
}

std::uint32_t PortTurnaround::BoundMs() const { return BoundAt(1.0); }

std::uint32_t PortTurnaround::UsualBoundMs() const { return BoundAt(kUsualQuantile); }

std::uint32_t PortTurnaround::BoundAt(double quantile) const {
  const bool timer_known = timer_ms_ >= 0;
  const bool measured = count_ >= kRepliesForABound;
  if (!timer_known && !measured) return kLongestLatencyTimerMs + kBoundSlackMs;
  std::uint32_t bound = timer_known ? static_cast<std::uint32_t>(timer_ms_) : 0;
  if (measured) {
    std::array<double, kRecentReplies> sorted = recent_;
    const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(count_);
    std::sort(sorted.begin(), end);
    const auto rank = static_cast<std::size_t>(std::ceil(quantile * static_cast<double>(count_)));
    const double slow = sorted[std::clamp<std::size_t>(rank, 1, count_) - 1];
    bound = std::max(bound, static_cast<std::uint32_t>(std::ceil(slow * kBoundMargin)));
  }
  return bound + kBoundSlackMs;
}
