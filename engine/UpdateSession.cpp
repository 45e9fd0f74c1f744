#include "engine/UpdateSession.h"

UpdateSession::UpdateSession(const std::string& device, std::int32_t baud, std::int32_t resend,
                             ITickSource& clock)
    : settings_(baud, resend),
      comm_(QuietGuiServices(), clock),
      flow_(UpdateContext{comm_, settings_, QuietGuiServices(), clock}) {
  comm_.DevicePath = device;
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
