#include <windows.h>

#include "common/DosDevice.h"
#include "common/ReadOnlyFile.h"
#include "common/SystemError.h"
#include "common/WideText_win32.h"

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

bool ReadOnlyFile::Open(const std::string& name, FileSharing sharing, std::string& error) {
  Close();
  // "CON.hex" would read the console, "com5.hex" take the port: a device's
  // name is refused before it is opened.
  if (!DosDeviceOf(name).empty()) {
    error = kDeviceNotFileText;
    return false;
  }
  // Exclusive is share mode 0: no other program may hold the file open, nor
  // open it while we hold it. Shared lets readers in and keeps writers out.
  // A directory fails here, as CreateFileW needs a backup flag to open one.
  // The wide call takes any name Windows itself takes; the name is made
  // before the call, so nothing runs between it and GetLastError().
  const DWORD share = sharing == FileSharing::kExclusive ? 0 : FILE_SHARE_READ;
  const std::wstring wide_name = Wide(name);
  HANDLE file = CreateFileW(wide_name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  // A device under a name of its own, or a pipe, opens no file at all: only
  // a file on a disk is read.
  const DWORD type = GetFileType(file);
  if (type != FILE_TYPE_DISK) {
    CloseHandle(file);
    error = type == FILE_TYPE_CHAR ? kDeviceNotFileText : "not a regular file";
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

std::size_t ReadOnlyFile::Read(char* buffer, std::size_t count) {
  if (!IsOpen()) return 0;
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
  return got;
}

bool ReadOnlyFile::Size(std::int64_t& size) const {
  LARGE_INTEGER value{};
  if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &value)) return false;
  size = value.QuadPart;
  return true;
}

void ReadOnlyFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
}
