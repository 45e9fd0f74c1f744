#include <windows.h>

#include "common/ReadOnlyFile.h"
#include "common/SystemError.h"
#include "common/WideText_win32.h"

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

bool ReadOnlyFile::Open(const std::string& name, std::string& error) {
  Close();
  // Share mode 0: no other program may hold the file open, nor open it while
  // we hold it. A directory fails here, as CreateFileW needs a backup flag
  // to open one. The wide call takes any name Windows itself takes; the name
  // is made before the call, so nothing runs between it and GetLastError().
  const std::wstring wide_name = Wide(name);
  HANDLE file = CreateFileW(wide_name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(GetLastError());
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

bool ReadOnlyFile::Seek(std::int64_t offset) {
  LARGE_INTEGER target;
  target.QuadPart = offset;
  return IsOpen() && SetFilePointerEx(AsHandle(handle_), target, nullptr, FILE_BEGIN) != 0;
}

std::int64_t ReadOnlyFile::Position() const {
  LARGE_INTEGER zero{}, now{};
  if (!IsOpen() || !SetFilePointerEx(AsHandle(handle_), zero, &now, FILE_CURRENT)) return -1;
  return now.QuadPart;
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
