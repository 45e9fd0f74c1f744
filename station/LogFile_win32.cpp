#include <windows.h>

#include <string>

#include "common/DosDevice.h"
#include "common/SystemError.h"
#include "common/WideText_win32.h"
#include "link/PortList.h"
#include "station/LogFile.h"

namespace {

// Why a line was not written once its caller gave up waiting: the lock
// another appender held all that time.
constexpr char kGivenUpText[] = "another program holds it locked";

// How often a lock another appender holds is tried again.
constexpr DWORD kLockRetrySpacingMs = 10;

LogAppend Refused(std::string reason) { return {false, std::move(reason)}; }

// The system's words for the error read at the failing call, with the usual
// cause of the usual slip.
LogAppend RefusedWithError(DWORD error) {
  std::string text = SystemErrorText(error);
  if (error == ERROR_PATH_NOT_FOUND) text += " (its folder does not exist)";
  return Refused(text);
}

// What a name opens in place of a file, said for a log; empty for a file's
// name. "COM12" opens a file of that name, but only a port was meant.
std::string DeviceNamed(const std::string& path) {
  const std::string device = DosDeviceOf(path);
  const int number = ComNumberOf(device.empty() ? path : device);
  if (number > 0) return "it is the serial port COM" + std::to_string(number) + ", not a file";
  return device.empty() ? "" : "it is the device " + device + ", not a file";
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What an opened handle leads to, said for a log that is no file on a disk;
// empty for one.
std::string NotAFile(HANDLE file) {
  switch (GetFileType(file)) {
    case FILE_TYPE_DISK:
      return "";
    case FILE_TYPE_CHAR:
      return "it is a device, not a file";
    case FILE_TYPE_PIPE:
      return "it is a pipe, not a file";
    default:
      return "it is not a file on a disk";
  }
}

class Handle {
 public:
  Handle() = default;
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return handle_; }
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }
  // The error of a failed close, else 0.
  DWORD Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return 0;
    const DWORD error = CloseHandle(handle_) ? 0 : GetLastError();
    handle_ = INVALID_HANDLE_VALUE;
    return error;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Opens the log to append, a device's or a folder's name refused before
// anything opens it, and makes sure what opened is a file on a disk.
LogAppend OpenRegular(const std::string& path, Handle& file) {
  if (const std::string what = DeviceNamed(path); !what.empty()) return Refused(what);
  // Made before the call, so nothing runs between it and GetLastError().
  const std::wstring wide_path = Wide(path);
  if (IsFolder(wide_path)) return Refused("it is a folder, not a file");
  const HANDLE handle =
      CreateFileW(wide_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return RefusedWithError(GetLastError());
  file.Reset(handle);
  if (const std::string what = NotAFile(handle); !what.empty()) return Refused(what);
  return {true, ""};
}

// The lock all our appenders take, tried again until it is free or
// `turn` is given up.
LogAppend Lock(HANDLE file, OVERLAPPED& whole_file, AppendTurn& turn) {
  while (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole_file)) {
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION) return RefusedWithError(error);
    if (turn.GivenUp()) return Refused(kGivenUpText);
    Sleep(kLockRetrySpacingMs);
  }
  return {true, ""};
}

// Writes the line at the end and, when it went short, gives the file back
// its old length. Called with the file locked against our other appenders.
LogAppend WriteOrCutBack(HANDLE file, std::string_view line) {
  LARGE_INTEGER end{};
  const LARGE_INTEGER zero{};
  if (!SetFilePointerEx(file, zero, &end, FILE_END)) return RefusedWithError(GetLastError());
  DWORD written = 0;
  const auto size = static_cast<DWORD>(line.size());
  const BOOL wrote = WriteFile(file, line.data(), size, &written, nullptr);
  const DWORD error = wrote ? 0 : GetLastError();
  if (wrote && written == size) return {true, ""};
  if (written > 0 && SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) (void)SetEndOfFile(file);
  return error != 0 ? RefusedWithError(error) : Refused("it took only part of the line");
}

}  // namespace

LogAppend AppendWhole(const std::string& path, std::string_view line, AppendTurn& turn) {
  Handle file;
  LogAppend result = OpenRegular(path, file);
  if (result.whole && !line.empty()) {
    // Other flashers may append to the same log; one line at a time.
    OVERLAPPED whole_file{};
    result = Lock(file.Get(), whole_file, turn);
    if (result.whole && !turn.BeginWriting()) result = Refused(kGivenUpText);
    if (result.whole) {
      result = WriteOrCutBack(file.Get(), line);
      (void)UnlockFileEx(file.Get(), 0, MAXDWORD, MAXDWORD, &whole_file);
    }
  }
  const DWORD close_error = file.Close();
  if (result.whole && close_error != 0) return RefusedWithError(close_error);
  return result;
}
