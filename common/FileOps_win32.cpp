// The settings files' operations on Windows. Every name goes to the system
// through the wide calls, which take any name Windows itself takes; the
// narrow ones would turn what the ANSI code page lacks into "?".
#include <windows.h>

#include <vector>

#include "common/FileOps.h"
#include "common/WideText_win32.h"

namespace fileops {

const char kPathSeparator = '\\';

std::optional<std::string> CurrentDirectory() {
  // The first call tells the size the path needs, its terminator included.
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return std::nullopt;
  std::vector<wchar_t> buffer(needed);
  const DWORD length = GetCurrentDirectoryW(needed, buffer.data());
  if (length == 0 || length >= needed) return std::nullopt;
  return Utf8(std::wstring_view(buffer.data(), length));
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RegularFile::Open(const std::string& path) {
  Close();
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // A device or a pipe opened under this name is not read.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool RegularFile::Fill() {
  if (handle_ == -1) return false;
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer_, sizeof buffer_, &got, nullptr)) got = 0;
  have_ = got;
  at_ = 0;
  return have_ > 0;
}

void RegularFile::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  have_ = at_ = 0;
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

bool IsReadOnlyFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool WriteAndFlush(const wchar_t* path, std::string_view content) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const auto size = static_cast<DWORD>(content.size());
  const bool ok = WriteFile(file, content.data(), size, &written, nullptr) && written == size &&
                  FlushFileBuffers(file);
  return CloseHandle(file) && ok;
}

}  // namespace

bool ReplaceFileContents(const std::string& directory, const std::string& name,
                         std::string_view content) {
  const std::wstring path = Wide(JoinPath(directory, name));
  if (IsReadOnlyFile(path)) return false;

  // GetTempFileNameW creates the empty file under a name no one else holds.
  wchar_t temp[MAX_PATH] = {};
  if (GetTempFileNameW(Wide(directory).c_str(), L"tvx", 0, temp) == 0) return false;
  if (WriteAndFlush(temp, content) &&
      MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temp);
  return false;
}

}  // namespace fileops
