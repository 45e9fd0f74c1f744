#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>

#include "common/VisibleText.h"
#include "station/Advice.h"

namespace {

constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
// The group Debian gives serial ports to, for a udev rule to name.
constexpr char kSerialGroup[] = "dialout";
constexpr char kUdevRulesFile[] = "/etc/udev/rules.d/70-tarvex-flash.rules";
constexpr char kLatencyUdevRule[] =
    R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1")";
constexpr char kSwappedHint[] =
    "It is a file: were the port and the firmware file given the other way round? The port "
    "follows -p, the file comes last.";

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
  const std::string kernel_name = VisibleText(path.substr(path.rfind('/') + 1));
  return fmt::format(
      "Only {} may open it ({}:{}, mode {:04o}). A udev rule can let a group open it: the line\n"
      "KERNEL==\"{}\", GROUP=\"{}\", MODE=\"0660\" in {};\n"
      "then plug the adapter in again, join the group (sudo usermod -aG {} $USER) and log in "
      "again.",
      WhoMayOpen(info), UserName(info.st_uid), GroupName(info.st_gid), info.st_mode & 07777,
      kernel_name, kSerialGroup, kUdevRulesFile, kSerialGroup);
}

}  // namespace

std::string OpenFailureHint(const std::string& device, int error) {
  if (error != EACCES && error != EPERM && error != ENOTTY) return "";
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return "";
  // A file where a port was meant: most likely the firmware file, the two
  // given the other way round.
  if (error == ENOTTY) return S_ISREG(info.st_mode) ? kSwappedHint : "";
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

// ftdi_sio keeps the timer in sysfs; a rule that writes it whenever an FTDI
// adapter is added keeps it at 1 ms for every program, whatever the
// driver makes of the low-latency request.
std::string LatencyTimerRemedy(const std::string& port, int timer_ms) {
  if (timer_ms < 0)
    return "use an FTDI adapter, whose latency timer is set to 1 ms while the port is open";
  // A /dev/serial/by-id name leads to the tty whose timer it is.
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(port, error);
  const std::string tty =
      VisibleText((error ? std::filesystem::path(port) : device).filename().string());
  return fmt::format(
      "set it to 1 ms for good with a udev rule, the line {} in {}, and plug the adapter in "
      "again (until then: echo 1 | sudo tee /sys/bus/usb-serial/devices/{}/latency_timer)",
      kLatencyUdevRule, kUdevRulesFile, tty);
}
