// Tune adapters… runs tarvex-flash.exe from the program's own folder with
// the "runas" verb: Windows asks for an administrator's consent, and the
// registry is written by that process alone. The window waits for it; it
// writes one value per adapter and ends within a second.
#include "benchwin/BenchLayout_win32.h"

#include <shellapi.h>

#include "common/SystemError.h"
#include "common/WideText_win32.h"

namespace {

constexpr wchar_t kFlasherName[] = L"tarvex-flash.exe";
constexpr wchar_t kRunElevated[] = L"runas";
// Well past the run's own time, so only a program stuck is left behind.
constexpr DWORD kElevatedWaitMs = 30000;
constexpr int kPathAttempts = 4;

// The flasher's path beside this program's; the file name alone when
// Windows does not tell where this program is.
std::wstring FlasherBesideProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < kPathAttempts; ++attempt) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return kFlasherName;
    if (length < path.size()) {
      path.resize(length);
      return path.substr(0, path.find_last_of(L"\\/") + 1) + kFlasherName;
    }
    path.assign(path.size() * 2, L'\0');
  }
  return kFlasherName;
}

}  // namespace

ElevatedRun BenchWindow::RunFlasherElevated(const std::string& parameters) {
  const std::wstring program = FlasherBesideProgram();
  const std::wstring arguments = Wide(parameters);
  SHELLEXECUTEINFOW run{};
  run.cbSize = sizeof run;
  // The window says itself why a start failed, in its own box.
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  run.hwnd = Handle();
  run.lpVerb = kRunElevated;
  run.lpFile = program.c_str();
  run.lpParameters = arguments.c_str();
  run.nShow = SW_HIDE;
  if (!ShellExecuteExW(&run)) {
    const DWORD error = GetLastError();
    if (error == ERROR_CANCELLED) return {ElevatedRun::Result::kDeclined, 0, ""};
    return {ElevatedRun::Result::kNotStarted, 0, SystemErrorText(error)};
  }
  if (run.hProcess == nullptr) {
    return {ElevatedRun::Result::kNotStarted, 0, "Windows gave no process to wait for"};
  }
  const HCURSOR before = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
  DWORD code = 0;
  const bool ended = WaitForSingleObject(run.hProcess, kElevatedWaitMs) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(run.hProcess, &code);
  CloseHandle(run.hProcess);
  SetCursor(before);
  if (!ended) return {ElevatedRun::Result::kStillRunning, 0, ""};
  return {ElevatedRun::Result::kRan, static_cast<int>(code), ""};
}
