#include <windows.h>

#include <vector>

#include "shell/FileOps.h"

namespace fileops {

const char kPathSeparator = '\\';

std::optional<std::string> CurrentDirectory() {
  // The first call tells the size the path needs, its terminator included.
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return std::nullopt;
  std::vector<char> buffer(needed);
  const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
  if (length == 0 || length >= needed) return std::nullopt;
  return std::string(buffer.data(), length);
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RegularFile::Open(const std::string& path) {
  Close();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

bool IsReadOnlyFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool WriteAndFlush(const std::string& path, std::string_view content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
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
  const std::string path = JoinPath(directory, name);
  if (IsReadOnlyFile(path)) return false;

  // GetTempFileNameA creates the empty file under a name no one else holds.
  char temp[MAX_PATH] = {};
  if (GetTempFileNameA(directory.c_str(), "tvx", 0, temp) == 0) return false;
  if (WriteAndFlush(temp, content) &&
      MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(temp);
  return false;
}

}  // namespace fileops
