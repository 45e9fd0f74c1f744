// The port list on Linux, read from sysfs as the kernel publishes it: every
// tty with a device behind it, its driver, and for USB adapters what the USB
// device says of itself. The /dev/serial/by-id links udev makes give each
// adapter a name that survives re-plugging.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "link/PortList.h"
#include "link/SerialDevice.h"

namespace fs = std::filesystem;

namespace {

// One sysfs attribute, its trailing newline taken off; empty when absent.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  return line;
}

// The driver that serves the port. Since Linux 6.5 a serial-core port sits
// on "port" and "ctrl" devices of the serial-base bus below the UART's own
// device; the driver worth naming is the first one above them.
std::string PortDriver(fs::path device) {
  for (; !device.empty() && device != device.root_path(); device = device.parent_path()) {
    std::error_code ec;
    const fs::path driver = fs::canonical(device / "driver", ec);
    if (ec) return {};
    // .../bus/<bus>/drivers/<driver>
    if (driver.parent_path().parent_path().filename() != "serial-base") {
      return driver.filename().string();
    }
  }
  return {};
}

// The USB device (the one with idVendor) at or above `device`; empty when the
// port is not on USB.
fs::path UsbDeviceAbove(fs::path device, const fs::path& sys_root) {
  std::error_code ec;
  for (; !device.empty() && device != sys_root && device != device.root_path();
       device = device.parent_path()) {
    if (fs::exists(device / "idVendor", ec) && fs::exists(device / "idProduct", ec)) return device;
  }
  return {};
}

void AddUsbIdentity(PortInfo& port, const fs::path& usb_device) {
  port.VidPid =
      ReadAttribute(usb_device / "idVendor") + ":" + ReadAttribute(usb_device / "idProduct");
  port.Manufacturer = ReadAttribute(usb_device / "manufacturer");
  port.Description = ReadAttribute(usb_device / "product");
  port.Serial = ReadAttribute(usb_device / "serial");
}

// A serial-core port whose UART type is 0 (PORT_UNKNOWN) has no hardware
// behind it: the kernel registers ttyS0 to ttyS31 whether or not they exist.
bool IsEmptyUartSlot(const fs::path& tty) {
  std::error_code ec;
  return fs::exists(tty / "type", ec) && ReadAttribute(tty / "type") == "0";
}

// The by-id link that leads to `tty_name`, if udev made one.
std::string ByIdLinkTo(const std::string& tty_name, const fs::path& by_id_dir) {
  std::error_code ec;
  for (fs::directory_iterator it(by_id_dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code link_ec;
    const fs::path target = fs::read_symlink(it->path(), link_ec);
    if (!link_ec && target.filename() == tty_name) return it->path().string();
  }
  return {};
}

}  // namespace

std::vector<PortInfo> ListSysfsPorts(const std::string& sys_root, const std::string& dev_root) {
  std::vector<PortInfo> ports;
  const fs::path root = fs::path(sys_root);
  const fs::path by_id_dir = fs::path(dev_root) / "serial" / "by-id";
  std::error_code ec;
  for (fs::directory_iterator it(root / "class" / "tty", ec), end; !ec && it != end;
       it.increment(ec)) {
    const fs::path tty = it->path();
    std::error_code device_ec;
    // Virtual consoles, pseudo-terminals and the like have no device.
    const fs::path device = fs::canonical(tty / "device", device_ec);
    if (device_ec || IsEmptyUartSlot(tty)) continue;
    PortInfo port;
    const std::string tty_name = tty.filename().string();
    port.Name = (fs::path(dev_root) / tty_name).string();
    port.Driver = PortDriver(device);
    const fs::path usb_device = UsbDeviceAbove(device, fs::canonical(root, device_ec));
    if (!usb_device.empty()) AddUsbIdentity(port, usb_device);
    port.ById = ByIdLinkTo(tty_name, by_id_dir);
    port.LatencyTimerMs = SysfsLatencyTimerMs(sys_root, tty_name);
    ports.push_back(std::move(port));
  }
  SortPorts(ports);
  return ports;
}

std::vector<PortInfo> ListSerialPorts() { return ListSysfsPorts("/sys", "/dev"); }

int SysfsLatencyTimerMs(const std::string& sys_root, const std::string& tty_name) {
  const std::string text = ReadAttribute(fs::path(sys_root) / "bus" / "usb-serial" / "devices" /
                                         tty_name / "latency_timer");
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 3) {
    return -1;
  }
  return std::stoi(text);
}

// A /dev/serial/by-id name leads to the tty it names.
int AdapterLatencyTimerMs(const std::string& port) {
  std::error_code ec;
  const fs::path device = fs::canonical(port, ec);
  if (ec) return -1;
  return SysfsLatencyTimerMs("/sys", device.filename().string());
}

std::string CharDeviceIdentity(unsigned major, unsigned minor) {
  return "device " + std::to_string(major) + ":" + std::to_string(minor);
}

std::string PortIdentity(const std::string& port) {
  const std::string path = PosixDevicePath(port);
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return port;
  if (S_ISCHR(info.st_mode)) {
    return CharDeviceIdentity(major(info.st_rdev), minor(info.st_rdev));
  }
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : port;
}
