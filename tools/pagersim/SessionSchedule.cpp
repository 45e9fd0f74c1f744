#include "SessionSchedule.h"

namespace pagersim {

SessionSchedule::SessionSchedule(const PagerOptions& options)
    : sessions_(options.sessions),
      attach_after_ms_(options.attach_after_ms),
      linger_ms_(options.linger_ms),
      gap_ms_(options.gap_ms),
      attach_at_ms_(options.attach_after_ms) {}

bool SessionSchedule::Active() const {
  return sessions_ > 1 || attach_after_ms_ > 0 || linger_ms_ >= 0 || gap_ms_ > 0;
}

std::vector<SessionChange> SessionSchedule::Advance(int64_t now_ms) {
  std::vector<SessionChange> changes;
  for (;;) {
    if (state_ == State::kWaiting && now_ms >= attach_at_ms_) {
      state_ = State::kAttached;
      leave_at_ms_.reset();
      changes.push_back({SessionChange::Kind::kAttach, session_, attach_at_ms_});
    } else if (state_ == State::kAttached && leave_at_ms_ && now_ms >= *leave_at_ms_) {
      changes.push_back({SessionChange::Kind::kLeave, session_, *leave_at_ms_});
      if (session_ == sessions_) {
        state_ = State::kDone;
        over_at_ms_ = *leave_at_ms_ + gap_ms_;
      } else {
        // The line stays empty for the gap, then for the next pager's own wait.
        state_ = State::kWaiting;
        attach_at_ms_ = *leave_at_ms_ + gap_ms_ + attach_after_ms_;
        ++session_;
      }
    } else if (state_ == State::kDone && now_ms >= over_at_ms_) {
      state_ = State::kOver;
    } else {
      return changes;
    }
  }
}

void SessionSchedule::OnQuit(int64_t now_ms) {
  if (state_ == State::kAttached && linger_ms_ >= 0) leave_at_ms_ = now_ms + linger_ms_;
}

std::optional<int64_t> SessionSchedule::NextChangeMs() const {
  switch (state_) {
    case State::kWaiting:
      return attach_at_ms_;
    case State::kAttached:
      return leave_at_ms_;
    case State::kDone:
      return over_at_ms_;
    case State::kOver:
      break;
  }
  return std::nullopt;
}

}  // namespace pagersim
