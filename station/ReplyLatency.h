// How late a pager's replies come beyond the time their bytes need on the
// line: what a USB adapter's latency timer costs. An FTDI chip hands a
// received byte to the host only when its timer (16 ms by default) runs out,
// and every record waits for two one-byte replies. Fed from the engine's
// observer; pure arithmetic, in the same small memory whatever the file's
// size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/Protocol.h"

// Replies this late (typical lateness) or later earn the hint.
constexpr double kLateReplyHintMs = 4.0;
// Fewer replies than this tell too little to hint at anything.
constexpr std::size_t kRepliesForAHint = 8;
// How late a reply comes, on average, behind a latency timer of 1 ms.
constexpr double kLateAtOneMsTimer = 0.5;

class ReplyLatency {
 public:
  // A reply to `command_bytes` written at `rate` bit/s, read `elapsed_ms`
  // after the command's first byte went out.
  void Add(std::size_t command_bytes, std::int32_t rate, std::uint32_t elapsed_ms);

  std::size_t Replies() const { return replies_; }
  // How late a reply typically comes, in ms: the mean of the middle half of
  // the replies. An adapter's timer runs freely, so replies of one kind tend
  // to come at one phase of it ("s" a little late, "p" almost a whole period
  // at 9600 bit/s); the plain median would then jump between those, while
  // the middle half keeps the typical figure and leaves out the odd slow
  // erase. 0 with no replies.
  double TypicalLateMs() const;
  // The time the replies' bytes need on the line over the time they took,
  // at most 1; 0 with no replies.
  double LineEfficiency() const;
  // How many times faster the same replies would come were each late only
  // as much as behind a 1 ms latency timer.
  double GainAtOneMsTimer() const;

  // The lateness kept per bin: each bin this wide, from kLowestMs up; the
  // first and last bins also take everything below and above.
  static constexpr double kBinMs = 0.1;
  static constexpr double kLowestMs = -20.0;
  static constexpr std::size_t kBins = 1200;

 private:
  // Each bin keeps how many replies fell in it and their sum, so a bin whose
  // replies were equally late gives their figure exactly.
  struct Bin {
    std::uint32_t count = 0;
    double sum_ms = 0.0;
  };
  static std::size_t BinOf(double late_ms);

  std::array<Bin, kBins> bins_{};
  std::size_t replies_ = 0;
  double line_ms_ = 0.0;
  double taken_ms_ = 0.0;
};

// What a port's turnaround (PortTurnaround::TypicalMs) costs each reply,
// for its row and its tile: "adapter adds 16 ms per reply" above
// kLateReplyHintMs, "" at or below it and when it is not known.
std::string TurnaroundWords(double turnaround_ms);

// The hint line for a port whose replies come late, or "" when they do not
// (a turnaround under kLateReplyHintMs, or fewer than kRepliesForAHint
// replies). `turnaround_ms` is the port's (PortTurnaround::TypicalMs);
// `timer_ms` is the adapter's latency timer, -1 when not known.
std::string LatencyHint(const std::string& port, double turnaround_ms, const ReplyLatency& latency,
                        int timer_ms);
