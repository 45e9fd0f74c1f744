#include "engine/UpdateSession.h"

#include "common/Globals.h"

UpdateSession::UpdateSession(const std::string& device, std::int32_t baud, std::int32_t resend)
    : saved_comm_(Comm),
      saved_flow_(Flow),
      saved_baud_(FlashBaudRate),
      saved_resend_(ResendTimes),
      saved_gui_(SetGuiServices(&gui_)) {
  comm_.DevicePath = device;
  Comm = &comm_;
  Flow = &flow_;
  FlashBaudRate = baud;
  ResendTimes = resend;
}

UpdateSession::~UpdateSession() {
  SetGuiServices(saved_gui_);
  ResendTimes = saved_resend_;
  FlashBaudRate = saved_baud_;
  Flow = saved_flow_;
  Comm = saved_comm_;
}

void UpdateSession::SetDeviceFactory(SerialDeviceFactory factory) {
  comm_.DeviceFactory = std::move(factory);
}

UpdateOutcome UpdateSession::Run(std::shared_ptr<const CheckedFirmware> firmware,
                                 const std::string& file_name, IUpdateObserver& observer,
                                 const std::atomic<bool>* stop) {
  flow_.SetObserver(&observer);
  flow_.SetStopSignal(stop);
  flow_.Run(std::move(firmware), file_name);
  return flow_.Outcome();
}
