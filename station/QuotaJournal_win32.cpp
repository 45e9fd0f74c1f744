#include <windows.h>

#include <string>
#include <vector>

#include "common/SystemError.h"
#include "common/WideText_win32.h"
#include "station/QuotaJournal.h"

namespace {

constexpr wchar_t kStateFolderVariable[] = L"TARVEX_STATE_DIR";
constexpr wchar_t kMachineDataVariable[] = L"ProgramData";
constexpr char kMachineStateFolderName[] = "Tarvex Flasher";

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::string FolderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? "." : path.substr(0, separator);
}

// A variable of the environment, or "".
std::string Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return "";
  std::vector<wchar_t> value(size);
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  return length == 0 || length >= size ? "" : Utf8(std::wstring_view(value.data(), length));
}

// Makes `folder` and the folders above it that are missing; 0 or the
// system's error code.
DWORD MakeFolders(const std::string& folder) {
  const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY;
  }
  const std::string parent = FolderOf(folder);
  // "C:" and "\\server\share" are there or not; they are not made.
  if (parent != folder && parent.size() > 2) {
    if (const DWORD error = MakeFolders(parent); error != 0) return error;
  }
  if (CreateDirectoryW(Wide(folder).c_str(), nullptr) == FALSE) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return error;
  }
  return 0;
}

}  // namespace

QuotaJournal::~QuotaJournal() { Close(); }

void QuotaJournal::Close() {
  if (handle_ != -1) CloseHandle(Handle(handle_));
  handle_ = -1;
}

bool QuotaJournal::Fail(const std::string& what) {
  error_ = what;
  return false;
}

// Opened for reading and appending only: every write goes to the end,
// through the system's cache to the disk.
bool QuotaJournal::Open(const std::string& path, bool create) {
  Close();
  path_ = path;
  if (create) {
    if (const DWORD error = MakeFolders(FolderOf(path)); error != 0) {
      return Fail(SystemErrorText(error));
    }
  }
  const HANDLE file =
      CreateFileW(Wide(path).c_str(), GENERIC_READ | FILE_APPEND_DATA,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(SystemErrorText(GetLastError()));
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

// The whole file, however long it grows: no other handle reads or writes
// it meanwhile.
bool QuotaJournal::Lock() {
  OVERLAPPED from_start{};
  if (LockFileEx(Handle(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from_start) ==
      FALSE) {
    return Fail(SystemErrorText(GetLastError()));
  }
  return true;
}

void QuotaJournal::Unlock() {
  OVERLAPPED from_start{};
  (void)UnlockFileEx(Handle(handle_), 0, MAXDWORD, MAXDWORD, &from_start);
}

bool QuotaJournal::ReadAll(std::string& text) {
  text.clear();
  char buffer[4096];
  for (ULONGLONG at = 0;;) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (ReadFile(Handle(handle_), buffer, sizeof buffer, &got, &where) == FALSE) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) return true;
      return Fail(SystemErrorText(error));
    }
    if (got == 0) return true;
    text.append(buffer, got);
    at += got;
  }
}

// NTFS keeps a new file's name in its journal, and the write goes through
// to the disk; the flush makes sure of both before the count is relied on.
bool QuotaJournal::AppendDurably(std::string_view text) {
  while (!text.empty()) {
    DWORD wrote = 0;
    if (WriteFile(Handle(handle_), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) ==
        FALSE) {
      return Fail(SystemErrorText(GetLastError()));
    }
    if (wrote == 0) return Fail("the disk took nothing");
    text.remove_prefix(wrote);
  }
  if (FlushFileBuffers(Handle(handle_)) == FALSE) return Fail(SystemErrorText(GetLastError()));
  return true;
}

std::string JobStateFolder() {
  const std::string named = Environment(kStateFolderVariable);
  if (!named.empty()) return named;
  const std::string machine = Environment(kMachineDataVariable);
  return (machine.empty() ? std::string("C:\\ProgramData") : machine) + "\\" +
         kMachineStateFolderName;
}
