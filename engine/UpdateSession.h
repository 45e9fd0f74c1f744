// One update with a channel and settings of its own, for a program that runs
// several updates at once, one thread per port. A session holds everything
// its update is given; nothing is shared with any other session, so sessions
// can be made, run and ended on any thread, in any order. Nothing waits for
// a click: the observer hears every message, and no box is shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Clock.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"

class UpdateSession {
 public:
  // An update on `device` (a COM name, or a device path) at `baud` bit/s,
  // sending a rejected package again up to `resend` times, waiting on
  // `clock`.
  UpdateSession(const std::string& device, std::int32_t baud, std::int32_t resend,
                ITickSource& clock = SystemTickSource());
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Where the channel's device comes from; the platform's driver by default.
  void SetDeviceFactory(SerialDeviceFactory factory);
  // The port's turnaround, which each reply adds to (UpdateFlow::SetTurnaround).
  void SetTurnaround(PortTurnaround* turnaround) { flow_.SetTurnaround(turnaround); }
  // The port was closed just before (UpdateFlow::SetOpenFollowsClose).
  void SetOpenFollowsClose(bool follows) { flow_.SetOpenFollowsClose(follows); }
  // A stop cuts reply waits short (UpdateFlow::SetQuickStop).
  void SetQuickStop(bool quick) { flow_.SetQuickStop(quick); }

  // Runs the update of `firmware` (named `file_name`), telling `observer`;
  // it stops at its next step once `stop` reads true.
  UpdateOutcome Run(std::shared_ptr<const CheckedFirmware> firmware, const std::string& file_name,
                    IUpdateObserver& observer, const std::atomic<bool>* stop);
  // Asks the running update to stop at its next step, as `stop` does; the
  // observer may call it from inside Run.
  void RequestStop() { flow_.RequestStop(); }

 private:
  FixedUpdateSettings settings_;
  TDComm comm_;
  UpdateFlow flow_;
};
