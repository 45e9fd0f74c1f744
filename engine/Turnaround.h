// A port's turnaround: from the end of a command on the line to the first
// byte of its reply, less that byte's own line time. The loader answers at
// once; what shows here is mostly the adapter's latency timer, which holds a
// received byte until it runs out (16 ms by default on FTDI chips, up to
// 255 ms). Measured from every reply a port gets, to its probes and to its
// updates' commands, and used to judge how long a reply may take: a wait
// shorter than that takes a reply that is merely late for silence, and a
// late reply for the answer to the next command.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The longest latency timer an adapter can be set to.
constexpr std::uint32_t kLongestLatencyTimerMs = 255;

// The turnaround of one reply to `command_bytes` written at `rate` bit/s,
// read `elapsed_ms` after the command's first byte went out.
double TurnaroundMs(std::size_t command_bytes, std::int32_t rate, std::uint32_t elapsed_ms);

// One port's turnaround, from its most recent replies. Used on the port's
// own thread.
class PortTurnaround {
 public:
  // Replies beyond this many: the oldest are forgotten, so a port whose
  // adapter was changed or tuned shows its new figure soon.
  static constexpr std::size_t kRecentReplies = 64;
  // Fewer replies than this do not bound the turnaround: the timer's phase
  // may have favoured each of them.
  static constexpr std::size_t kRepliesForABound = 8;

  void Add(std::size_t command_bytes, std::int32_t rate, std::uint32_t elapsed_ms);
  void AddMs(double turnaround_ms);
  // The adapter's latency timer as the system reports it; -1 when it does
  // not (no FTDI chip, or no way to read it).
  void SetTimerMs(int timer_ms) { timer_ms_ = timer_ms; }
  int TimerMs() const { return timer_ms_; }

  std::size_t Replies() const { return count_; }
  // The typical turnaround: the mean of the middle half of the recent
  // replies (the timer's phase scatters them evenly below the timer);
  // negative with no reply.
  double TypicalMs() const;
  // The longest a reply may take beyond its line time here: the timer when
  // it is known, a quarter more than the longest recent turnaround once
  // enough replies have come, and the longest timer there is before
  // either is known; whichever is longest.
  std::uint32_t BoundMs() const;
  // The same from the recent replies short of the slowest eighth: what a
  // reply takes but for the odd one a loaded machine holds up. A watch for
  // silence counts on it, where one late reply among many changes nothing.
  std::uint32_t UsualBoundMs() const;

 private:
  // Bound from the reply at `quantile` of the recent ones (1: the slowest).
  std::uint32_t BoundAt(double quantile) const;

  std::array<double, kRecentReplies> recent_{};
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  int timer_ms_ = -1;
};
