#include "station/ReplyLatency.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "common/VisibleText.h"
#include "engine/Turnaround.h"
#include "station/Advice.h"

namespace {
constexpr std::size_t kQuarters = 4;
}  // namespace

std::size_t ReplyLatency::BinOf(double late_ms) {
  const double index = std::floor((late_ms - kLowestMs) / kBinMs);
  return static_cast<std::size_t>(std::clamp(index, 0.0, static_cast<double>(kBins - 1)));
}

void ReplyLatency::Add(std::size_t command_bytes, std::int32_t rate, std::uint32_t elapsed_ms) {
  const double line = LineMs(command_bytes + 1, rate);
  const double late = TurnaroundMs(command_bytes, rate, elapsed_ms);
  Bin& bin = bins_[BinOf(late)];
  ++bin.count;
  bin.sum_ms += late;
  ++replies_;
  line_ms_ += line;
  taken_ms_ += elapsed_ms;
}

// The middle half by rank: the replies ranked [quarter, replies - quarter),
// taken bin by bin; a bin cut by either end gives its share at its mean.
double ReplyLatency::TypicalLateMs() const {
  if (replies_ == 0) return 0.0;
  const std::size_t quarter = replies_ / kQuarters;
  const std::size_t first = quarter;
  const std::size_t last = replies_ - quarter;
  double sum = 0.0;
  std::size_t rank = 0;
  for (const Bin& bin : bins_) {
    if (bin.count == 0) continue;
    const std::size_t from = std::max(rank, first);
    const std::size_t to = std::min(rank + bin.count, last);
    if (to > from) sum += bin.sum_ms * static_cast<double>(to - from) / bin.count;
    rank += bin.count;
    if (rank >= last) break;
  }
  return sum / static_cast<double>(last - first);
}

// At most 1: no real line is faster than its rate, and a line that seems to
// be (an emulator that does not pace its bytes) is told as a full one.
double ReplyLatency::LineEfficiency() const {
  return taken_ms_ > 0 ? std::min(1.0, line_ms_ / taken_ms_) : 0.0;
}

double ReplyLatency::GainAtOneMsTimer() const {
  const double late = taken_ms_ - line_ms_;
  const double at_one_ms = line_ms_ + kLateAtOneMsTimer * static_cast<double>(replies_);
  return late > 0 && at_one_ms > 0 ? taken_ms_ / at_one_ms : 1.0;
}

std::string TurnaroundWords(double turnaround_ms) {
  if (turnaround_ms <= kLateReplyHintMs) return "";
  return fmt::format("adapter adds {:.0f} ms per reply", turnaround_ms);
}

std::string LatencyHint(const std::string& port, double turnaround_ms, const ReplyLatency& latency,
                        int timer_ms) {
  const double late = turnaround_ms;
  if (latency.Replies() < kRepliesForAHint || late < kLateReplyHintMs) return "";
  const std::string head = fmt::format("{}: replies come {:.0f} ms late", VisibleText(port), late);
  if (timer_ms >= 0 && timer_ms <= 1) {
    return head + fmt::format(
                      " (adapter latency timer {} ms: the delay is not the adapter's timer but "
                      "its driver's, a USB hub's or the pager's).",
                      timer_ms);
  }
  return head + " (" + LatencyTimerFinding(timer_ms) + "); " + LatencyTimerRemedy(port, timer_ms) +
         fmt::format(", to flash about {:.1f}x faster.", latency.GainAtOneMsTimer());
}
