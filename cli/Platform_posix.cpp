#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void WriteText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

std::FILE* OpenForAppend(const std::string& path) { return std::fopen(path.c_str(), "ab"); }

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
