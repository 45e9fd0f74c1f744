#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fmt/format.h>

#include "cli/Platform.h"
#include "link/SerialDevice.h"

namespace {

std::atomic<bool>* interrupt_flag = nullptr;

extern "C" void OnInterrupt(int) {
  if (interrupt_flag != nullptr) interrupt_flag->store(true);
}

constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
// The group Debian gives serial ports to, for a udev rule to name.
constexpr char kSerialGroup[] = "dialout";

std::string GroupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

std::string UserName(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

// Who may open the device as its mode stands: its owner (when the owner may
// read and write it) and root.
std::string WhoMayOpen(const struct stat& info) {
  if (info.st_uid == 0 || (info.st_mode & kOwnerReadWrite) != kOwnerReadWrite) return "root";
  return UserName(info.st_uid) + " and root";
}

// A udev rule that gives the device to the serial group, by its kernel
// name (ttyUSB0 for /dev/serial/by-id/usb-FTDI_...).
std::string UdevRuleHint(const std::string& device, const struct stat& info) {
  char resolved[PATH_MAX];
  const std::string path = ::realpath(device.c_str(), resolved) != nullptr ? resolved : device;
  const std::string kernel_name = path.substr(path.rfind('/') + 1);
  return fmt::format(
      "Only {} may open it ({}:{}, mode {:04o}). A udev rule can let a group open it: the line\n"
      "KERNEL==\"{}\", GROUP=\"{}\", MODE=\"0660\" in /etc/udev/rules.d/70-tarvex-flash.rules;\n"
      "then plug the adapter in again, join the group (sudo usermod -aG {} $USER) and log in "
      "again.",
      WhoMayOpen(info), UserName(info.st_uid), GroupName(info.st_gid), info.st_mode & 07777,
      kernel_name, kSerialGroup, kSerialGroup);
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

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void WriteText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

namespace {

// Writes the line and, when it went short, gives the file back its old
// length. Called with the file locked against our other appenders.
bool WriteOrCutBack(int fd, std::string_view line) {
  struct stat before {};
  if (::fstat(fd, &before) != 0) return false;
  ssize_t written = 0;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(line.size())) return true;
  // If even the cut fails, there is nothing more to do than say so.
  if (written > 0 && S_ISREG(before.st_mode) && ::ftruncate(fd, before.st_size) != 0) return false;
  return false;
}

}  // namespace

bool AppendWhole(const std::string& path, std::string_view line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return false;
  // Other flashers may append to the same log; one line at a time.
  const bool locked = ::flock(fd, LOCK_EX) == 0;
  const bool whole = locked && WriteOrCutBack(fd, line);
  return ::close(fd) == 0 && whole;
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
  // Past a file-size limit a write goes short and then fails, and is cut
  // back; the default action would end the program with pagers in flash mode.
  ::signal(SIGXFSZ, SIG_IGN);
}

// A signal does not end the program by itself here: nothing to hold.
void UpdatesEnded() {}

// POSIX has no console control events; its signals set the flag instead.
bool OnConsoleEvent(unsigned long) { return false; }

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
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return "";
  // Joining a group helps only when that group may read and write the
  // device; root's own group is not one to send a user into.
  if (info.st_gid != 0 && (info.st_mode & kGroupReadWrite) == kGroupReadWrite) {
    const std::string group = GroupName(info.st_gid);
    return "To open it, join the group " + group + " that owns it (sudo usermod -aG " + group +
           " $USER), then log in again.";
  }
  return UdevRuleHint(device, info);
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
