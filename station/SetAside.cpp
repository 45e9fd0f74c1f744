#include "station/SetAside.h"

bool SetAsideRule::PagerEnded(ExitCode code) {
  if (code == ExitCode::kInterrupted) return false;
  // A pager flashed whose log line failed was flashed all the same.
  if (code == ExitCode::kFinished || code == ExitCode::kNotLogged) {
    failed_in_row_ = 0;
    return false;
  }
  ++failed_in_row_;
  if (after_ == 0 || set_aside_ || failed_in_row_ < after_) return false;
  set_aside_ = true;
  unplugged_ = false;
  return true;
}

void SetAsideRule::PortLost() {
  if (set_aside_) unplugged_ = true;
}

bool SetAsideRule::PortBack() {
  if (!set_aside_ || !unplugged_) return false;
  Resume();
  return true;
}

void SetAsideRule::Resume() {
  set_aside_ = false;
  unplugged_ = false;
  failed_in_row_ = 0;
}

std::string SetAsideWords(int failed_in_row) {
  return "set aside: " + std::to_string(failed_in_row) + " failed in a row, check the cable";
}
