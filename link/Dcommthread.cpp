#include "link/Dcommthread.h"

#include "common/GuiServices.h"
#include "common/PortIndex.h"
#include "link/PortError.h"

namespace {
constexpr std::uint32_t kByteSizeBase = 5;
// DC1 and DC3, the usual XON and XOFF.
constexpr std::uint8_t kDefaultXonChar = 0x11;
constexpr std::uint8_t kDefaultXoffChar = 0x13;
}  // namespace

TDComm::TDComm() : DeviceFactory(CreateSystemSerialDevice) {}

// The owner closes the port before destroying the channel; closing here too
// keeps a forgotten close from leaking the device.
TDComm::~TDComm() { ClosePort(); }

std::string TDComm::DeviceName() const {
  if (!DevicePath.empty()) return DevicePath;
  // Index 127 names COM128, -128 to -2 name COM129 to COM255, -1 names COM0.
  return "COM" + std::to_string(PortNumberOfIndex(Port));
}

void TDComm::FillDcb() {
  Dcb.BaudRate = static_cast<std::uint32_t>(BaudRate);
  Dcb.fBinary = 1;
  Dcb.fParity = Parity & 1;
  Dcb.fOutxCtsFlow = FlowCtrl.Hw.CtsFlow & 1;
  Dcb.fOutxDsrFlow = FlowCtrl.Hw.DsrFlow & 1;
  Dcb.fDtrControl = FlowCtrl.Hw.DtrControl & 3;
  Dcb.fRtsControl = FlowCtrl.Hw.RtsControl & 3;
  Dcb.fOutX = FlowCtrl.Sw.XonXoff & 1;
  Dcb.fInX = FlowCtrl.Sw.XonXoff & 1;
  Dcb.ByteSize = static_cast<std::uint8_t>(ByteSizeCode + kByteSizeBase);
  Dcb.Parity = Parity;
  Dcb.StopBits = StopBits;
  // Left set by another program, this would make every read fail after a
  // single framing or overrun error until someone clears it.
  Dcb.fAbortOnError = 0;
  FillFlowCharacters();
}

void TDComm::FillFlowCharacters() {
  if ((FlowCtrl.Sw.XonXoff & 1) != 0) {
    Dcb.XonChar = FlowCtrl.Sw.XonChar;
    Dcb.XoffChar = FlowCtrl.Sw.XoffChar;
    return;
  }
  // Unused, but many drivers refuse equal characters (USB CDC ports fail the
  // whole state with an invalid parameter): keep the driver's own, or the
  // usual pair where the driver reported equal ones.
  if (Dcb.XonChar == Dcb.XoffChar) {
    Dcb.XonChar = kDefaultXonChar;
    Dcb.XoffChar = kDefaultXoffChar;
  }
}

bool TDComm::ConfigureDevice(ISerialDevice& device) {
  // The driver's current settings are the base; a failed read leaves the
  // fields we overwrite below all that matters.
  (void)device.GetState(Dcb);
  FillDcb();
  CommTimeouts = Timeouts;
  return device.SetState(Dcb) && device.SetQueues(Buffer.InQueue, Buffer.OutQueue) &&
         device.SetTimeouts(CommTimeouts);
}

// The first line names the port; the second, when a call failed, says why
// in the words of PortOpenReason.
std::string TDComm::OpenFailureText() const {
  std::string text = "Can NOT Open \"" + DeviceName() + "\"";
  const std::string reason = PortOpenReason(LastOpenError);
  if (!reason.empty()) text += "\n" + reason;
  return text;
}

bool TDComm::FailOpen() {
  MessageBox(OpenFailureText(), "Error", kStyleError);
  return false;
}

bool TDComm::OpenPort() {
  LastOpenError = 0;
  // Opening twice would lose the held device; the held port stays as it is.
  if (Handle) return FailOpen();
  std::unique_ptr<ISerialDevice> device = DeviceFactory ? DeviceFactory() : nullptr;
  if (!device) return FailOpen();
  if (!device->Open(DeviceName())) {
    LastOpenError = device->LastError();
    return FailOpen();
  }
  if (!ConfigureDevice(*device)) {
    LastOpenError = device->LastError();
    device->Close();
    return FailOpen();
  }
  Handle = std::move(device);
  Opened = true;
  return true;
}

bool TDComm::ClosePort() {
  if (!Opened) return false;
  Handle->Close();
  Handle.reset();
  Opened = false;
  return true;
}

bool TDComm::ReadByte(std::uint8_t* out) {
  if (!Opened) return false;
  std::uint32_t done = 0;
  return Handle->Read(out, 1, done) && done == 1;
}

bool TDComm::WriteByte(const std::uint8_t* b) {
  if (!Opened) return false;
  std::uint32_t done = 0;
  return Handle->Write(b, 1, done) && done == 1;
}

bool TDComm::WriteBuffer(const std::uint8_t* data, int count) {
  if (!Opened || count < 0) return false;
  std::uint32_t done = 0;
  const auto wanted = static_cast<std::uint32_t>(count);
  return Handle->Write(data, wanted, done) && done == wanted;
}

bool TDComm::Purge() { return Opened && Handle->Purge(kPurgeAll); }

bool TDComm::PurgeInput() { return Opened && Handle->Purge(kPurgeRxAbort | kPurgeRxClear); }
