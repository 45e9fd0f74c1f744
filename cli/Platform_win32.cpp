#include <windows.h>

#include <string>

#include "cli/Platform.h"

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

bool StreamsAreTerminals() {
  return EnableSequences(STD_OUTPUT_HANDLE) && EnableSequences(STD_ERROR_HANDLE);
}

void InstallInterruptHandler(std::atomic<bool>& flag) {
  interrupt_flag = &flag;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

// Windows has no group to join; why the open failed is the channel's to say.
std::string OpenFailureHint(const std::string&, int) { return ""; }

std::string LatencyTimerFinding(int timer_ms) {
  if (timer_ms < 0) return "adapter latency timer not known";
  return "adapter latency timer " + std::to_string(timer_ms) + " ms";
}

std::string LatencyTimerRemedy(const std::string&, int timer_ms) {
  if (timer_ms < 0) {
    return "if it is an FTDI adapter, set its latency timer to 1 ms in Device Manager, Port "
           "Settings, Advanced";
  }
  return "set it to 1 ms in Device Manager, Port Settings, Advanced";
}
