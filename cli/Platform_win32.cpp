#include <windows.h>
// After windows.h, which it builds on.
#include <io.h>

#include "cli/Platform.h"
#include "common/CommandLine_win32.h"
#include "common/WideText_win32.h"
#include "link/PortList.h"

namespace {

std::atomic<bool>* interrupt_flag = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (interrupt_flag != nullptr) interrupt_flag->store(true);
  return TRUE;
}

// Turns on cursor sequences for one console stream; false when the stream is
// not a console or the console does not take them.
bool EnableSequences(DWORD which) {
  const HANDLE stream = GetStdHandle(which);
  if (stream == INVALID_HANDLE_VALUE || stream == nullptr) return false;
  DWORD mode = 0;
  if (GetConsoleMode(stream, &mode) == 0) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return SetConsoleMode(stream, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// The console behind `stream`, or null when it leads to a file or a pipe.
HANDLE ConsoleOf(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || GetConsoleMode(handle, &mode) == 0) return nullptr;
  return handle;
}

// A console may take less than it was given; the rest follows.
void WriteConsoleWhole(HANDLE console, const std::wstring& text) {
  for (std::size_t done = 0; done < text.size();) {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(text.size() - done);
    if (WriteConsoleW(console, text.data() + done, count, &written, nullptr) == 0 || written == 0) {
      return;
    }
    done += written;
  }
}

}  // namespace

// Windows never hands a standard stream's handle to a file or a port opened
// later; a missing one only makes the writes to it fail, and nothing waits
// on them.
void EnsureStandardStreams() {}

std::vector<std::string> ProgramArguments(int, char**) { return CommandLineArguments(); }

void WriteText(std::FILE* stream, const std::string& text) {
  // What the C runtime holds for the stream goes first, so the order stays.
  std::fflush(stream);
  if (const HANDLE console = ConsoleOf(stream)) return WriteConsoleWhole(console, Wide(text));
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

std::FILE* OpenForAppend(const std::string& path) { return _wfopen(Wide(path).c_str(), L"ab"); }

bool StreamsAreTerminals() {
  return EnableSequences(STD_OUTPUT_HANDLE) && EnableSequences(STD_ERROR_HANDLE);
}

void InstallInterruptHandler(std::atomic<bool>& flag) {
  interrupt_flag = &flag;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::string PortIdentity(const std::string& port) {
  const int number = ComNumberOf(port);
  return number > 0 ? "COM" + std::to_string(number) : port;
}

// Windows has no group to join; why the open failed is the channel's to say.
std::string OpenFailureHint(const std::string&, int) { return ""; }
