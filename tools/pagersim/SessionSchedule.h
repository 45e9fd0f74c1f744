// A bench of pagers on one line, one after another: which pager is connected
// when. Pure: the serving thread passes the milliseconds since the start and
// tells it of every executed "q", so it is testable without clocks.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "PagerOptions.h"

namespace pagersim {

struct SessionChange {
  enum class Kind { kAttach, kLeave };
  Kind kind = Kind::kAttach;
  int session = 0;    // 1-based
  int64_t at_ms = 0;  // when it happened, since the start
};

class SessionSchedule {
 public:
  explicit SessionSchedule(const PagerOptions& options);

  // True when pagers come and go; otherwise one pager is on the line from the
  // start until the emulator stops.
  bool Active() const;
  // Moves the timeline on to `now_ms`; returns what happened on the way, in order.
  std::vector<SessionChange> Advance(int64_t now_ms);
  // An executed "q": the pager leaves linger_ms after the last one.
  void OnQuit(int64_t now_ms);

  bool Attached() const { return state_ == State::kAttached; }
  // The pager on the line, or the next one to come (1-based).
  int Session() const { return session_; }
  // The next moment Advance() has something to do, if any.
  std::optional<int64_t> NextChangeMs() const;
  // True once the last pager has left and Advance() has passed the gap after
  // it: the bench has nothing more to show.
  bool Over() const { return state_ == State::kOver; }

 private:
  enum class State { kWaiting, kAttached, kDone, kOver };

  int sessions_;
  int attach_after_ms_;
  int linger_ms_;
  int gap_ms_;
  State state_ = State::kWaiting;
  int session_ = 1;
  int64_t attach_at_ms_;
  std::optional<int64_t> leave_at_ms_;
  int64_t over_at_ms_ = 0;  // in kDone: when the gap after the last pager ends
};

}  // namespace pagersim
