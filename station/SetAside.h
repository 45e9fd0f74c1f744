// A port whose pagers fail one after another most likely has a bad cable or
// fixture, not bad pagers: after a number of failures in a row it takes no
// more pagers until its adapter has been unplugged and plugged back, or a
// technician resumes it. The other ports go on.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "station/ExitCode.h"

constexpr int kDefaultSetAsideAfter = 3;
constexpr int kMaxSetAsideAfter = 1000;

class SetAsideRule {
 public:
  // `after` failures in a row set the port aside; 0 never does. A port
  // whose last run ended with `failed_in_row` failures starts from them: one
  // set aside then is set aside still.
  explicit SetAsideRule(int after, int failed_in_row = 0)
      : after_(after),
        failed_in_row_(failed_in_row),
        set_aside_(after > 0 && failed_in_row >= after) {}

  // A pager on the port ended with `code`: true when that sets the port
  // aside. A pager stopped by a person says nothing of the port.
  bool PagerEnded(ExitCode code);
  bool SetAside() const { return set_aside_; }
  int FailedInRow() const { return failed_in_row_; }
  // The adapter could not be opened: unplugged, most likely.
  void PortLost();
  // The adapter can be opened again: true when that resumes the port, which
  // it does once it went after the port was set aside.
  bool PortBack();
  void Resume();

 private:
  const int after_;
  int failed_in_row_ = 0;
  bool set_aside_ = false;
  bool unplugged_ = false;
};

// "set aside: 3 failed in a row, check the cable".
std::string SetAsideWords(int failed_in_row);

// The technician's requests to resume ports set aside, one per port: asked
// on the window's thread, taken by the port's loop.
class PortResumes {
 public:
  explicit PortResumes(std::size_t ports)
      : ports_(ports), asked_(std::make_unique<std::atomic<bool>[]>(ports)) {}
  void Ask(std::size_t index) {
    if (index < ports_) asked_[index].store(true);
  }
  // True once for each request.
  bool Take(std::size_t index) { return index < ports_ && asked_[index].exchange(false); }

 private:
  const std::size_t ports_;
  std::unique_ptr<std::atomic<bool>[]> asked_;
};
