#include <windows.h>
// After windows.h, which it builds on.
#include <io.h>

#include <string>

#include "cli/Platform.h"
#include "common/CommandLine_win32.h"
#include "common/WideText_win32.h"

namespace {

std::atomic<bool>* interrupt_flag = nullptr;
// Set once every update has ended; a manual-reset event.
HANDLE updates_ended = nullptr;
// Windows ends a process about 5 s after its console is closed, or its user
// logs off, whatever the handler does; the pagers' "q" must go before that.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD event) { return OnConsoleEvent(event) ? TRUE : FALSE; }

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

std::size_t TerminalColumns(std::FILE* stream) {
  const HANDLE console = ConsoleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console == nullptr || GetConsoleScreenBufferInfo(console, &info) == 0) return 0;
  return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool StreamsAreTerminals() {
  return EnableSequences(STD_OUTPUT_HANDLE) && EnableSequences(STD_ERROR_HANDLE);
}

void InstallInterruptHandler(std::atomic<bool>& flag) {
  interrupt_flag = &flag;
  if (updates_ended == nullptr) updates_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (updates_ended != nullptr) ResetEvent(updates_ended);  // a new run's updates are under way
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void UpdatesEnded() {
  if (updates_ended != nullptr) SetEvent(updates_ended);
}

bool OnConsoleEvent(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (interrupt_flag != nullptr) interrupt_flag->store(true);
      return true;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (interrupt_flag != nullptr) interrupt_flag->store(true);
      // The process ends as soon as this returns: hold it until every
      // update has taken its pager out of flash mode.
      if (updates_ended != nullptr) WaitForSingleObject(updates_ended, kCloseGraceMs);
      return true;
    default:
      return false;
  }
}
