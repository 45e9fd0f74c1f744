// The serial device on Windows: a COM port through the Win32 communications
// API, synchronous I/O bounded by COMMTIMEOUTS. Each call's result is judged
// against its own failure value and GetLastError() is read at once.
#include <windows.h>

#include "common/WideText_win32.h"
#include "link/PortList.h"
#include "link/SerialDevice.h"

namespace {

// Every spelling of a COM port ("COM12", "com012", "COM12:", "\\?\COM12") as
// "\\.\COM12": without the device namespace only COM1 to COM9 open, and one
// port is opened under one name. Other names (a path) stay as they are.
std::string DeviceNamespacePath(const std::string& name) {
  const int number = ComNumberOf(name);
  return number == 0 ? name : R"(\\.\COM)" + std::to_string(number);
}

// The DCB fields the channel sets, named alike in DCB and TDcb: one list for
// both directions.
// clang-format off
#define TARVEX_DCB_FIELDS(FIELD) \
  FIELD(BaudRate) FIELD(fBinary) FIELD(fParity) FIELD(fOutxCtsFlow) FIELD(fOutxDsrFlow) \
  FIELD(fDtrControl) FIELD(fRtsControl) FIELD(fOutX) FIELD(fInX) FIELD(fAbortOnError) \
  FIELD(ByteSize) FIELD(Parity) FIELD(StopBits) FIELD(XonChar) FIELD(XoffChar)
// clang-format on

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

template <typename From, typename To>
void CopyDcbFields(const From& from, To& to) {
#define TARVEX_COPY_FIELD(name) to.name = static_cast<decltype(to.name)>(from.name);
  TARVEX_DCB_FIELDS(TARVEX_COPY_FIELD)
#undef TARVEX_COPY_FIELD
}

class Win32SerialDevice final : public ISerialDevice {
 public:
  ~Win32SerialDevice() override { Close(); }

  bool Open(const std::string& name) override {
    // Made before the call, so nothing runs between it and GetLastError().
    const std::wstring path = Wide(DeviceNamespacePath(name));
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      Fail();
      // A folder refuses the open as access denied, which would read as a
      // port held by another program.
      if (last_error_ == ERROR_ACCESS_DENIED && IsFolder(path)) last_error_ = ERROR_DIRECTORY;
      return false;
    }
    return true;
  }

  bool GetState(TDcb& dcb) override {
    dcb_ = DCB{};
    dcb_.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &dcb_)) return Fail();
    CopyDcbFields(dcb_, dcb);
    return true;
  }

  // Overlays the channel's fields on what the driver reported; every other
  // DCB field keeps the driver's value.
  bool SetState(const TDcb& dcb) override {
    dcb_.DCBlength = sizeof(DCB);
    CopyDcbFields(dcb, dcb_);
    return SetCommState(handle_, &dcb_) || Fail();
  }

  bool SetQueues(std::uint32_t in_queue, std::uint32_t out_queue) override {
    return SetupComm(handle_, in_queue, out_queue) || Fail();
  }

  bool SetTimeouts(const TCommTimeouts& timeouts) override {
    COMMTIMEOUTS native{timeouts.ReadInterval, timeouts.ReadMultiplier, timeouts.ReadConstant,
                        timeouts.WriteMultiplier, timeouts.WriteConstant};
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

  // A pulled adapter fails this where its reads may still look like time
  // limits running out (as under Wine).
  bool CheckPresent() override {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(handle_, &errors, &status) || Fail();
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
