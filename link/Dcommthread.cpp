#include "link/Dcommthread.h"

#include "common/PortIndex.h"
#include "common/VisibleText.h"
#include "link/DeviceCloser.h"
#include "link/PortError.h"

namespace {
constexpr std::uint32_t kByteSizeBase = 5;
// DC1 and DC3, the usual XON and XOFF.
constexpr std::uint8_t kDefaultXonChar = 0x11;
constexpr std::uint8_t kDefaultXoffChar = 0x13;
}  // namespace

TDComm::TDComm(IGuiServices& gui, ITickSource& clock)
    : DeviceFactory(CreateSystemSerialDevice), gui_(gui), clock_(clock) {}

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
  if (!ApplyLineState(device)) return false;
  if (device.SetQueues(Buffer.InQueue, Buffer.OutQueue) && device.SetTimeouts(CommTimeouts)) {
    return true;
  }
  LastOpenError = device.LastError();
  return false;
}

// Some drivers (USB CDC ports, some CH340 driver versions, Bluetooth serial
// ports) refuse a state even for a line they already run as asked: the line
// read back decides.
bool TDComm::ApplyLineState(ISerialDevice& device) {
  if (device.SetState(Dcb)) return true;
  LastOpenError = device.LastError();
  TDcb running;
  return device.GetState(running) && RunsAsAsked(running);
}

bool TDComm::RunsAsAsked(const TDcb& running) const {
  return running.BaudRate == Dcb.BaudRate && running.ByteSize == Dcb.ByteSize &&
         running.Parity == Dcb.Parity && running.StopBits == Dcb.StopBits;
}

// The first line names the port; the second, when a call failed, says why:
// in the words of PortOpenReason for the open itself, in the system's own for
// settings the driver refused.
std::string TDComm::OpenFailureText() const {
  // The name as given may hold anything; the box and the terminal show it as text.
  std::string text = "Can NOT Open \"" + VisibleText(DeviceName()) + "\"";
  const std::string reason = settings_refused_ ? SystemErrorReason(LastOpenError)
                                               : PortOpenReason(LastOpenError, DeviceName());
  if (!reason.empty()) text += "\n" + reason;
  return text;
}

std::string TDComm::LostText() const {
  std::string text = kPortLostText + SystemErrorReason(LostError);
  if (CloseAbandoned) text += std::string("\n") + kCloseAbandonedText;
  return text;
}

bool TDComm::FailOpen() {
  gui_.MessageBox(OpenFailureText(), "Error", kStyleError);
  return false;
}

bool TDComm::TryOpen() {
  LastOpenError = 0;
  settings_refused_ = false;
  Lost = false;
  LostError = 0;
  // Opening twice would lose the held device; the held port stays as it is.
  if (Handle) return false;
  std::unique_ptr<ISerialDevice> device = DeviceFactory ? DeviceFactory() : nullptr;
  if (!device) return false;
  if (!device->Open(DeviceName())) {
    LastOpenError = device->LastError();
    return false;
  }
  if (!ConfigureDevice(*device)) {
    settings_refused_ = true;
    Handle = std::move(device);
    CloseDevice();
    return false;
  }
  // A refusal the line read back made good is no failure.
  LastOpenError = 0;
  Handle = std::move(device);
  Opened = true;
  return true;
}

bool TDComm::OpenPort() { return TryOpen() || FailOpen(); }

bool TDComm::ReopenPort() {
  const std::uint32_t start = clock_.TickCount();
  while (!TryOpen()) {
    const bool may_clear = !settings_refused_ && OpenRefusalMayClear(LastOpenError);
    if (!may_clear ||
        ElapsedMs(start, clock_.TickCount()) + kReopenRetrySpacingMs > kReopenRetryLimitMs) {
      return FailOpen();
    }
    clock_.Sleep(kReopenRetrySpacingMs);
  }
  return true;
}

void TDComm::CloseDevice() {
  CloseAbandoned = !CloseWithin(std::move(Handle), kCloseLimitMs, clock_);
  Handle.reset();
}

bool TDComm::ClosePort() {
  if (!Opened) return false;
  Opened = false;
  CloseDevice();
  return true;
}

bool TDComm::LoseLine() {
  LostError = Handle->LastError();
  Lost = true;
  Opened = false;
  CloseDevice();
  return false;
}

// Some drivers (CH340 among them) ignore the time limits and return at once
// with nothing: the rest of the limit is waited out here, in short steps, so
// a silent pager takes as long to give up on and a reply is taken as soon as
// it comes.
bool TDComm::ReadWithinLimit(std::uint8_t* out) {
  const std::uint32_t start = clock_.TickCount();
  for (;;) {
    const std::uint32_t asked = clock_.TickCount();
    std::uint32_t done = 0;
    if (!Handle->Read(out, 1, done) && !IsTimeoutError(Handle->LastError())) return LoseLine();
    if (done == 1) return true;
    const std::uint32_t now = clock_.TickCount();
    if (ElapsedMs(asked, now) > kReadBackAtOnceMs ||
        ElapsedMs(start, now) >= CommTimeouts.ReadConstant) {
      return false;
    }
    clock_.Sleep(kEarlyReadStepMs);
  }
}

bool TDComm::ReadByte(std::uint8_t* out) {
  if (!Opened) return false;
  if (ReadWithinLimit(out)) return true;
  // Nothing came: ask whether the device is still there.
  if (Opened && !Handle->CheckPresent()) return LoseLine();
  return false;
}

bool TDComm::WriteFailed() { return IsTimeoutError(Handle->LastError()) ? false : LoseLine(); }

bool TDComm::WriteByte(const std::uint8_t* b) {
  if (!Opened) return false;
  std::uint32_t done = 0;
  if (!Handle->Write(b, 1, done)) return WriteFailed();
  return done == 1;
}

bool TDComm::WriteBuffer(const std::uint8_t* data, int count) {
  if (!Opened || count < 0) return false;
  std::uint32_t done = 0;
  const auto wanted = static_cast<std::uint32_t>(count);
  if (!Handle->Write(data, wanted, done)) return WriteFailed();
  return done == wanted;
}

bool TDComm::Purge() {
  if (!Opened) return false;
  return Handle->Purge(kPurgeAll) || LoseLine();
}

bool TDComm::PurgeInput() {
  if (!Opened) return false;
  return Handle->Purge(kPurgeRxAbort | kPurgeRxClear) || LoseLine();
}
