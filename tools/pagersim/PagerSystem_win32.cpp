// The pagersim program on Windows: the wide command line, Ctrl+C and the
// console's close as stop requests, files replaced in one step. Windows
// has no pseudo-terminals: the emulator serves on a COM port.
#include <windows.h>

#include <thread>

#include "PagerSystem.h"
#include "common/CommandLine_win32.h"
#include "common/SystemError.h"
#include "common/WideText_win32.h"

namespace pagersim {
namespace {

constexpr DWORD kMainPollMs = 100;  // how soon a self-finished emulator is noticed
// Windows ends the program this long after a console close or a logoff;
// the outputs are written meanwhile.
constexpr DWORD kCloseGraceMs = 5000;

// Set by Ctrl+C, Ctrl+Break and the console's end; by the end of stdin.
HANDLE g_stop = nullptr;
HANDLE g_stdin_end = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  SetEvent(g_stop);
  // Past a close, a logoff or a shutdown the program ends when this returns.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(kCloseGraceMs);
  return TRUE;
}

// Reads stdin until its end, on a thread of its own: a console's or a
// pipe's end is a read that returns nothing.
void WatchStdin() {
  std::thread([] {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char discard[256];
    DWORD got = 0;
    while (ReadFile(in, discard, sizeof discard, &got, nullptr) && got > 0) {
    }
    SetEvent(g_stdin_end);
  }).detach();
}

}  // namespace

std::vector<std::string> ProgramArguments(int, char**) { return CommandLineArguments(); }

std::string RefusalOnThisSystem(const PagerOptions& options) {
  if (!options.link_path.empty()) {
    return "--link names a link to a pseudo-terminal, which Windows has not: serve on a COM "
           "port with --device COM9";
  }
  if (options.device_path.empty()) {
    return "on Windows the emulator serves on a COM port: give it with --device COM9 (an "
           "adapter wired TX to RX to the bench's, or one end of a virtual null-modem pair)";
  }
  return "";
}

bool CatchStopRequests(std::string* err) {
  g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_stdin_end = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_stop == nullptr || g_stdin_end == nullptr || !SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
    *err = "cannot catch Ctrl+C: " + SystemErrorText(GetLastError());
    return false;
  }
  return true;
}

void WaitForStop(bool stdin_stop, const std::function<bool()>& finished,
                 const std::function<void()>&) {
  if (stdin_stop) WatchStdin();
  const HANDLE stops[] = {g_stop, g_stdin_end};
  while (!finished()) {
    if (WaitForMultipleObjects(stdin_stop ? 2 : 1, stops, FALSE, kMainPollMs) != WAIT_TIMEOUT) {
      return;
    }
  }
}

bool LineLink::Create(const std::string&, const std::string&, std::string* err) {
  *err = "--link is not offered on Windows";
  return false;
}

void LineLink::Remove() {}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* err) {
  const std::string tmp = path + ".tmp" + std::to_string(GetCurrentProcessId());
  const std::wstring wide_tmp = Wide(tmp);
  const HANDLE file =
      CreateFileW(wide_tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *err = "cannot create " + tmp + ": " + SystemErrorText(GetLastError());
    return false;
  }
  DWORD written = 0;
  const bool wrote =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) != 0 &&
      written == content.size();
  const DWORD write_error = GetLastError();
  CloseHandle(file);
  const std::wstring wide_path = Wide(path);
  if (!wrote || !MoveFileExW(wide_tmp.c_str(), wide_path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *err = "cannot write " + path + ": " + SystemErrorText(wrote ? GetLastError() : write_error);
    DeleteFileW(wide_tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace pagersim
