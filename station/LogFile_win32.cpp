#include <windows.h>

#include "common/WideText_win32.h"
#include "station/LogFile.h"

namespace {

// Writes the line at the end and, when it went short, gives the file back
// its old length. Called with the file locked against our other appenders.
bool WriteOrCutBack(HANDLE file, std::string_view line) {
  LARGE_INTEGER end{};
  const LARGE_INTEGER zero{};
  if (!SetFilePointerEx(file, zero, &end, FILE_END)) return false;
  DWORD written = 0;
  const auto size = static_cast<DWORD>(line.size());
  if (WriteFile(file, line.data(), size, &written, nullptr) && written == size) return true;
  if (written > 0 && SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) (void)SetEndOfFile(file);
  return false;
}

}  // namespace

bool AppendWhole(const std::string& path, std::string_view line) {
  const std::wstring wide_path = Wide(path);
  const HANDLE file =
      CreateFileW(wide_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Other flashers may append to the same log; one line at a time.
  OVERLAPPED whole_file{};
  const bool locked =
      LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_file) != 0;
  const bool whole = locked && WriteOrCutBack(file, line);
  if (locked) (void)UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole_file);
  return CloseHandle(file) != 0 && whole;
}
