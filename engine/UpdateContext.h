// What an update is given by whoever makes it: the channel it talks over,
// the two settings it reads as it goes, the GUI services it pumps and shows
// its boxes through, and the clock it waits on. The engine reaches nothing
// else, so any number of updates can run at once, each on a thread of its
// own, made and ended in any order.
#pragma once

#include <cstdint>

#include "common/Clock.h"
#include "common/GuiServices.h"

class TDComm;

// The two choices an update reads at the moment it needs them: the rate
// when it reaches the rate change, the resend count at each rejected
// package. The window answers with its Setup choices as they stand then.
class IUpdateSettings {
 public:
  virtual ~IUpdateSettings() = default;
  // The transfer rate in bit/s: 2400, 4800 or 9600 (anything else sends no
  // rate command).
  virtual std::int32_t FlashBaudRate() const = 0;
  // How often a rejected package is sent again.
  virtual std::int32_t ResendTimes() const = 0;
};

// Settings that are what they were made with, for a program without a
// Setup menu; a test may change them while an update runs.
class FixedUpdateSettings final : public IUpdateSettings {
 public:
  FixedUpdateSettings(std::int32_t rate, std::int32_t resends) : Rate(rate), Resends(resends) {}
  std::int32_t FlashBaudRate() const override { return Rate; }
  std::int32_t ResendTimes() const override { return Resends; }

  std::int32_t Rate;
  std::int32_t Resends;
};

// Each must outlive the update made with it.
struct UpdateContext {
  TDComm& Comm;
  const IUpdateSettings& Settings;
  IGuiServices& Gui;
  ITickSource& Clock;
};
