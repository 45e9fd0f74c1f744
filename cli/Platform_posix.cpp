#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cli/Platform.h"
#include "link/SerialDevice.h"

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

void EnsureStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: the ones below it are open.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened >= 0) ::close(opened);
  }
}

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

std::string PortIdentity(const std::string& port) {
  const std::string path = PosixDevicePath(port);
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return port;
  if (S_ISCHR(info.st_mode)) {
    return "device " + std::to_string(major(info.st_rdev)) + ":" +
           std::to_string(minor(info.st_rdev));
  }
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : port;
}

std::string OpenFailureHint(const std::string& device, int error) {
  if (error != EACCES && error != EPERM) return "";
  const std::string group = GroupOwning(device);
  if (group.empty()) return "";
  return "To open it, join the group that owns it (sudo usermod -aG " + group +
         " $USER), then log in again.";
}
