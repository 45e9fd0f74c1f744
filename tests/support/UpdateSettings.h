// Points the globals the engine reads (the channel, the rate, the resend
// count) at a test's own, and puts the old values back when the scope ends,
// so one test's choices never reach the next.
#pragma once

#include <cstdint>

#include "common/Globals.h"

class ScopedUpdateSettings {
 public:
  ScopedUpdateSettings(TDComm& comm, std::int32_t rate, std::int32_t resends)
      : saved_comm_(Comm), saved_rate_(FlashBaudRate), saved_resends_(ResendTimes) {
    Comm = &comm;
    FlashBaudRate = rate;
    ResendTimes = resends;
  }
  ~ScopedUpdateSettings() {
    Comm = saved_comm_;
    FlashBaudRate = saved_rate_;
    ResendTimes = saved_resends_;
  }
  ScopedUpdateSettings(const ScopedUpdateSettings&) = delete;
  ScopedUpdateSettings& operator=(const ScopedUpdateSettings&) = delete;

 private:
  TDComm* saved_comm_;
  std::int32_t saved_rate_;
  std::int32_t saved_resends_;
};
