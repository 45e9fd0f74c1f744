#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli/Platform.h"

namespace {

std::atomic<bool>* interrupt_flag = nullptr;

extern "C" void OnInterrupt(int) {
  if (interrupt_flag != nullptr) interrupt_flag->store(true);
}

std::string GroupOwning(const std::string& device) {
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return "";
  const group* owner = ::getgrgid(info.st_gid);
  return owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
}

}  // namespace

bool StreamsAreTerminals() {
  const char* term = std::getenv("TERM");
  const bool dumb = term == nullptr || std::strcmp(term, "dumb") == 0;
  return !dumb && ::isatty(STDOUT_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1;
}

void InstallInterruptHandler(std::atomic<bool>& flag) {
  interrupt_flag = &flag;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in poll() ends early, and the update looks at the
  // flag at its next step.
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    ::sigaction(signal_number, &action, nullptr);
  }
  ::signal(SIGPIPE, SIG_IGN);
}

std::string OpenFailureHint(const std::string& device, int error) {
  if (error != EACCES && error != EPERM) return "";
  const std::string group = GroupOwning(device);
  if (group.empty()) return "";
  return "To open it, join the group that owns it (sudo usermod -aG " + group +
         " $USER), then log in again.";
}

// The channel asks USB adapters for low latency, which sets an FTDI chip's
// timer to 1 ms while the port is open: a timer found higher than that was
// not lowered, and one not found is no FTDI chip's.
std::string LatencyTimerFinding(int timer_ms) {
  if (timer_ms < 0) return "no adapter latency timer found for this port";
  return "adapter latency timer " + std::to_string(timer_ms) +
         " ms while the port was open, though low latency was asked for";
}

std::string LatencyTimerRemedy(const std::string& port, int timer_ms) {
  if (timer_ms < 0)
    return "use an FTDI adapter, whose latency timer is set to 1 ms while the port is open";
  // A /dev/serial/by-id name leads to the tty whose timer it is.
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(port, error);
  const std::string tty = (error ? std::filesystem::path(port) : device).filename().string();
  return "set it to 1 ms (echo 1 | sudo tee /sys/bus/usb-serial/devices/" + tty + "/latency_timer)";
}
