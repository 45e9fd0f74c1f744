// One update on the calling thread with a channel and settings of its own,
// for a program that runs several updates at once, one thread per port.
// While a session lives, this thread's engine globals (Comm, Flow,
// FlashBaudRate, ResendTimes) and GUI services are its own; they are put
// back when it goes. Nothing waits for a click: the observer hears every
// message, and no box is shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/GuiServices.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"

class UpdateSession {
 public:
  // An update on `device` (a COM name, or a device path) at `baud` bit/s,
  // sending a rejected package again up to `resend` times.
  UpdateSession(const std::string& device, std::int32_t baud, std::int32_t resend);
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Where the channel's device comes from; the platform's driver by default.
  void SetDeviceFactory(SerialDeviceFactory factory);

  // Runs the update of `firmware` (named `file_name`), telling `observer`;
  // it stops at its next step once `stop` reads true.
  UpdateOutcome Run(std::shared_ptr<const CheckedFirmware> firmware, const std::string& file_name,
                    IUpdateObserver& observer, const std::atomic<bool>* stop);
  // Asks the running update to stop at its next step, as `stop` does; the
  // observer may call it from inside Run.
  void RequestStop() { flow_.RequestStop(); }

 private:
  // No window: events need no pumping, and boxes are told to the observer.
  class QuietGui final : public IGuiServices {
   public:
    void ProcessMessages() override {}
    void MessageBox(const std::string&, const std::string&, std::uint32_t) override {}
  };

  TDComm comm_;
  UpdateFlow flow_;
  QuietGui gui_;
  TDComm* saved_comm_;
  UpdateFlow* saved_flow_;
  std::int32_t saved_baud_;
  std::int32_t saved_resend_;
  IGuiServices* saved_gui_;
};
