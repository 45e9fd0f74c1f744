#include <windows.h>

#include "cli/Platform.h"
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

}  // namespace

// Windows never hands a standard stream's handle to a file or a port opened
// later; a missing one only makes the writes to it fail, and nothing waits
// on them.
void EnsureStandardStreams() {}

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
