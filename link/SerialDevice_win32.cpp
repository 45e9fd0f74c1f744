// The serial device on Windows: a COM port through the Win32 communications
// API, synchronous I/O bounded by COMMTIMEOUTS. Each call's result is judged
// against its own failure value and GetLastError() is read at once.
#include <windows.h>

#include "common/WideText_win32.h"
#include "link/PortList.h"
#include "link/SerialDevice.h"

namespace {

// "COM12" as "\\.\COM12": without the device namespace only COM1 to COM9
// open. Other names (a path, or one given with the prefix) stay as they are.
std::string DeviceNamespacePath(const std::string& name) {
  if (ComNumberOf(name) == 0 || name.rfind(R"(\\.\)", 0) == 0) return name;
  return R"(\\.\)" + name;
}

class Win32SerialDevice final : public ISerialDevice {
 public:
  ~Win32SerialDevice() override { Close(); }

  bool Open(const std::string& name) override {
    // Made before the call, so nothing runs between it and GetLastError().
    const std::wstring path = Wide(DeviceNamespacePath(name));
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail();
    return true;
  }

  bool GetState(TDcb& dcb) override {
    dcb_ = DCB{};
    dcb_.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &dcb_)) return Fail();
    dcb.BaudRate = dcb_.BaudRate;
    dcb.fBinary = static_cast<std::uint8_t>(dcb_.fBinary);
    dcb.fParity = static_cast<std::uint8_t>(dcb_.fParity);
    dcb.fOutxCtsFlow = static_cast<std::uint8_t>(dcb_.fOutxCtsFlow);
    dcb.fOutxDsrFlow = static_cast<std::uint8_t>(dcb_.fOutxDsrFlow);
    dcb.fDtrControl = static_cast<std::uint8_t>(dcb_.fDtrControl);
    dcb.fRtsControl = static_cast<std::uint8_t>(dcb_.fRtsControl);
    dcb.fOutX = static_cast<std::uint8_t>(dcb_.fOutX);
    dcb.fInX = static_cast<std::uint8_t>(dcb_.fInX);
    dcb.fAbortOnError = static_cast<std::uint8_t>(dcb_.fAbortOnError);
    dcb.ByteSize = dcb_.ByteSize;
    dcb.Parity = dcb_.Parity;
    dcb.StopBits = dcb_.StopBits;
    dcb.XonChar = static_cast<std::uint8_t>(dcb_.XonChar);
    dcb.XoffChar = static_cast<std::uint8_t>(dcb_.XoffChar);
    return true;
  }

  // Overlays the channel's fields on what the driver reported; every other
  // DCB field keeps the driver's value.
  bool SetState(const TDcb& dcb) override {
    dcb_.DCBlength = sizeof(DCB);
    dcb_.BaudRate = dcb.BaudRate;
    dcb_.fBinary = dcb.fBinary;
    dcb_.fParity = dcb.fParity;
    dcb_.fOutxCtsFlow = dcb.fOutxCtsFlow;
    dcb_.fOutxDsrFlow = dcb.fOutxDsrFlow;
    dcb_.fDtrControl = dcb.fDtrControl;
    dcb_.fRtsControl = dcb.fRtsControl;
    dcb_.fOutX = dcb.fOutX;
    dcb_.fInX = dcb.fInX;
    dcb_.fAbortOnError = dcb.fAbortOnError;
    dcb_.ByteSize = dcb.ByteSize;
    dcb_.Parity = dcb.Parity;
    dcb_.StopBits = dcb.StopBits;
    dcb_.XonChar = static_cast<char>(dcb.XonChar);
    dcb_.XoffChar = static_cast<char>(dcb.XoffChar);
    return SetCommState(handle_, &dcb_) || Fail();
  }

  bool SetQueues(std::uint32_t in_queue, std::uint32_t out_queue) override {
    return SetupComm(handle_, in_queue, out_queue) || Fail();
  }

  bool SetTimeouts(const TCommTimeouts& timeouts) override {
    COMMTIMEOUTS native{};
    native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    native.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    native.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return SetCommTimeouts(handle_, &native) || Fail();
  }

  bool Purge(std::uint32_t flags) override { return PurgeComm(handle_, flags) || Fail(); }

  bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    DWORD got = 0;
    const BOOL ok = ReadFile(handle_, data, count, &got, nullptr);
    done = got;
    return ok || Fail();
  }

  bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    DWORD put = 0;
    const BOOL ok = WriteFile(handle_, data, count, &put, nullptr);
    done = put;
    return ok || Fail();
  }

  void Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  int LastError() const override { return static_cast<int>(last_error_); }

 private:
  bool Fail() {
    last_error_ = GetLastError();
    return false;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DCB dcb_{};
  DWORD last_error_ = 0;
};

}  // namespace

std::unique_ptr<ISerialDevice> CreateSystemSerialDevice() {
  return std::make_unique<Win32SerialDevice>();
}
