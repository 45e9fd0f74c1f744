// The line on Windows: a COM port (one of two adapters wired TX to RX, or
// one end of a virtual null-modem pair). Reads return at once with what has
// arrived, and a wait looks again every few milliseconds, so neither a
// Wake() nor the loader's next deadline is missed.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "PagerLine.h"
#include "common/SystemError.h"
#include "common/WideText_win32.h"

namespace pagersim {
namespace {

constexpr DWORD kQueueBytes = 4096;
constexpr DWORD kWriteTimeoutMs = 1000;  // host not reading and the driver's queue full
// A byte takes 1.04 ms at 9600 bit/s: a wait that looks this often keeps a
// reply within a byte or two of where a real loader's would be.
constexpr ULONGLONG kPollMs = 2;
constexpr DWORD kReadChunkBytes = 256;

// "\\.\COM12" for "COM12": without the device namespace only COM1 to COM9
// open. A name in the namespace already, or a path, as it is.
std::wstring DevicePath(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos) return Wide(name);
  return Wide("\\\\.\\" + name);
}

class ComPortLine final : public PagerLine {
 public:
  ~ComPortLine() override {
    Close();
    if (wake_ != nullptr) CloseHandle(wake_);
  }

  bool Open(const std::string& path, int rate_bps, std::string* err) {
    const std::wstring device = DevicePath(path);
    handle_ = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      *err = "cannot open " + path + ": " + SystemErrorText(GetLastError());
      return false;
    }
    if (!SetupComm(handle_, kQueueBytes, kQueueBytes) || !SetLine(rate_bps) || !SetTimeouts()) {
      *err = path + " is not a usable serial port: " + SystemErrorText(GetLastError());
      Close();
      return false;
    }
    wake_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wake_ == nullptr) {
      *err = "CreateEvent: " + SystemErrorText(GetLastError());
      Close();
      return false;
    }
    path_ = path;
    return true;
  }

  std::string Path() const override { return path_; }
  bool Emulated() const override { return false; }
  bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

  Ready Wait(int timeout_ms) override {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      if (WaitForSingleObject(wake_, 0) == WAIT_OBJECT_0) return Ready::kWoken;
      if (IsOpen() && (failed_ || !pending_.empty() || ReadArrived())) return Ready::kBytes;
      const ULONGLONG waited = GetTickCount64() - start;
      if (timeout_ms >= 0 && waited >= static_cast<ULONGLONG>(timeout_ms)) return Ready::kTimeout;
      ULONGLONG slice = kPollMs;
      if (timeout_ms >= 0) slice = std::min(slice, static_cast<ULONGLONG>(timeout_ms) - waited);
      if (WaitForSingleObject(wake_, static_cast<DWORD>(slice)) == WAIT_OBJECT_0) {
        return Ready::kWoken;
      }
    }
  }

  void Wake() override { SetEvent(wake_); }

  int Read(std::uint8_t* buffer, std::size_t size) override {
    if (pending_.empty() && !failed_) ReadArrived();
    if (pending_.empty() && failed_) {
      failed_ = false;
      return -1;
    }
    const std::size_t count = std::min(size, pending_.size());
    std::copy_n(pending_.begin(), count, buffer);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<int>(count);
  }

  bool Write(const std::uint8_t* bytes, std::size_t count) override {
    while (count > 0) {
      DWORD put = 0;
      if (!WriteFile(handle_, bytes, static_cast<DWORD>(count), &put, nullptr)) {
        error_ = SystemErrorText(GetLastError());
        return false;
      }
      if (put == 0) {
        error_ = "the host reads nothing";
        return false;
      }
      bytes += put;
      count -= put;
    }
    return true;
  }

  std::string LastError() const override { return error_; }

  // The ACK of a rate command leaves at the old rate before the port changes.
  void SetRate(int bps) override {
    if (!IsOpen()) return;
    FlushFileBuffers(handle_);
    SetLine(bps);
  }

  int HostRate() const override { return 0; }

  void FlushOutput() override {
    if (IsOpen()) FlushFileBuffers(handle_);
  }

  int UnreadByHost() const override { return -1; }

  bool LetGo() override { return false; }

  void Close() override {
    if (!IsOpen()) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  // Raw 8N1 without flow control: the loader's bytes pass unchanged.
  bool SetLine(int rate_bps) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return false;
    dcb.BaudRate = static_cast<DWORD>(rate_bps);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(handle_, &dcb) != 0;
  }

  // A read returns at once with what has arrived, a write gives up after a
  // second of a host that reads nothing.
  bool SetTimeouts() {
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, kWriteTimeoutMs};
    return SetCommTimeouts(handle_, &timeouts) != 0;
  }

  // Takes what has arrived into pending_; true when anything did. A failed
  // read is kept for Read() to report.
  bool ReadArrived() {
    std::uint8_t chunk[kReadChunkBytes];
    DWORD got = 0;
    if (!ReadFile(handle_, chunk, sizeof chunk, &got, nullptr)) {
      error_ = "line read: " + SystemErrorText(GetLastError());
      failed_ = true;
      return false;
    }
    pending_.insert(pending_.end(), chunk, chunk + got);
    return got > 0;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE wake_ = nullptr;
  std::string path_;
  std::string error_;
  std::vector<std::uint8_t> pending_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<PagerLine> OpenPagerLine(const std::string& device_path, int rate_bps,
                                         std::string* err) {
  auto line = std::make_unique<ComPortLine>();
  if (!line->Open(device_path, rate_bps, err)) return nullptr;
  return line;
}

}  // namespace pagersim
