#include "cli/ReplyLatency.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "cli/Platform.h"

namespace {
constexpr double kBitsPerByte = 10.0;
constexpr double kMsPerSecond = 1000.0;
constexpr std::size_t kQuarters = 4;
}  // namespace

double LineMs(std::size_t bytes, std::int32_t rate) {
  return rate > 0 ? static_cast<double>(bytes) * kBitsPerByte * kMsPerSecond / rate : 0.0;
}

void ReplyLatency::Add(std::size_t command_bytes, std::int32_t rate, std::uint32_t elapsed_ms) {
  // The command's bytes out, then the reply byte back.
  const double line = LineMs(command_bytes + 1, rate);
  late_ms_.push_back(static_cast<double>(elapsed_ms) - line);
  line_ms_ += line;
  taken_ms_ += elapsed_ms;
}

double ReplyLatency::TypicalLateMs() const {
  if (late_ms_.empty()) return 0.0;
  std::vector<double> sorted = late_ms_;
  std::sort(sorted.begin(), sorted.end());
  const std::size_t quarter = sorted.size() / kQuarters;
  const auto first = sorted.begin() + static_cast<std::ptrdiff_t>(quarter);
  const auto last = sorted.end() - static_cast<std::ptrdiff_t>(quarter);
  return std::accumulate(first, last, 0.0) / static_cast<double>(last - first);
}

double ReplyLatency::LineEfficiency() const { return taken_ms_ > 0 ? line_ms_ / taken_ms_ : 0.0; }

double ReplyLatency::GainAtOneMsTimer() const {
  const double late = taken_ms_ - line_ms_;
  const double at_one_ms = line_ms_ + kLateAtOneMsTimer * static_cast<double>(late_ms_.size());
  return late > 0 && at_one_ms > 0 ? taken_ms_ / at_one_ms : 1.0;
}

std::string LatencyHint(const std::string& port, const ReplyLatency& latency, int timer_ms) {
  const double late = latency.TypicalLateMs();
  if (latency.Replies() < kRepliesForAHint || late < kLateReplyHintMs) return "";
  const std::string head = fmt::format("{}: replies come {:.0f} ms late", port, late);
  if (timer_ms >= 0 && timer_ms <= 1) {
    return head + fmt::format(
                      " (adapter latency timer {} ms: the delay is not the adapter's timer but "
                      "its driver's, a USB hub's or the pager's).",
                      timer_ms);
  }
  return head + " (" + LatencyTimerFinding(timer_ms) + "); " + LatencyTimerRemedy(port, timer_ms) +
         fmt::format(", to flash about {:.1f}x faster.", latency.GainAtOneMsTimer());
}
