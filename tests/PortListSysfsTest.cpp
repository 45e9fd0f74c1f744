// The Linux port list against a small sysfs and /dev built as the kernel and
// udev lay them out: an FTDI adapter, a CDC-ACM board, an empty UART slot
// and a tty with no device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/PortList.h"

namespace fs = std::filesystem;

namespace {

class SysfsPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("portlist-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    const fs::path usb = Sys("devices/pci0000:00/0000:00:14.0/usb1");
    // FTDI: the USB device, its interface, the usb-serial port, the tty.
    Attributes(usb / "1-1", {{"idVendor", "0403"},
                             {"idProduct", "6001"},
                             {"manufacturer", "FTDI"},
                             {"product", "FT232R USB UART"},
                             {"serial", "A600ARJH"}});
    Tty(usb / "1-1/1-1:1.0/ttyUSB0", "ttyUSB0", "bus/usb-serial/drivers/ftdi_sio");
    Attributes(usb / "1-1/1-1:1.0/ttyUSB0", {{"latency_timer", "16"}});
    fs::create_directories(Sys("bus/usb-serial/devices"));
    fs::create_symlink(usb / "1-1/1-1:1.0/ttyUSB0", Sys("bus/usb-serial/devices/ttyUSB0"));
    // CDC-ACM: the tty hangs off the interface itself; no serial number.
    Attributes(usb / "1-2", {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Uno"}});
    Tty(usb / "1-2/1-2:1.0", "ttyACM0", "bus/usb/drivers/cdc_acm");
    // A UART slot registered with nothing behind it.
    Tty(Sys("devices/platform/serial8250/serial8250:0/serial8250:0.1"), "ttyS1",
        "bus/serial-base/drivers/port");
    Attributes(Sys("class/tty/ttyS1"), {{"type", "0"}});
    // A real 16550 behind serial-core "ctrl" and "port" devices: the driver
    // named is the UART's.
    const fs::path uart = Sys("devices/pnp0/00:04");
    Tty(uart, "", "bus/pnp/drivers/serial");
    Tty(uart / "00:04:0", "", "bus/serial-base/drivers/ctrl");
    Tty(uart / "00:04:0/00:04:0.0", "ttyS4", "bus/serial-base/drivers/port");
    Attributes(Sys("class/tty/ttyS4"), {{"type", "4"}});
    // A tty with no device at all, as consoles are.
    fs::create_directories(Sys("class/tty/ttyS0"));
    fs::create_directories(root_ / "dev/serial/by-id");
    fs::create_symlink("../../ttyUSB0",
                       root_ / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ARJH-if00-port0");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Sys(const std::string& path) const { return root_ / "sys" / path; }

  static void Attributes(const fs::path& dir,
                         std::initializer_list<std::pair<const char*, const char*>> values) {
    fs::create_directories(dir);
    for (const auto& [name, value] : values) std::ofstream(dir / name) << value << "\n";
  }

  // `device` bound to `driver` and, unless `name` is empty, a tty class
  // entry for a port on it, linked the way sysfs links them (class entry to
  // the tty node, the node to its device).
  void Tty(const fs::path& device, const std::string& name, const std::string& driver) {
    fs::create_directories(device);
    fs::create_directories(Sys(driver));
    if (!fs::exists(device / "driver")) fs::create_symlink(Sys(driver), device / "driver");
    if (name.empty()) return;
    const fs::path node = device / "tty" / name;
    fs::create_directories(node);
    fs::create_symlink(device, node / "device");
    fs::create_directories(Sys("class/tty"));
    fs::create_symlink(node, Sys("class/tty") / name);
  }

  // One line per port, paths relative to the fixture: name, number, driver,
  // VID:PID, maker, product, serial number, by-id link, latency timer.
  std::vector<std::string> Listed() const {
    const std::string root = root_.string() + "/";
    auto relative = [&](const std::string& path) {
      return path.rfind(root, 0) == 0 ? path.substr(root.size()) : path;
    };
    std::vector<std::string> lines;
    for (const PortInfo& p : ListSysfsPorts((root_ / "sys").string(), (root_ / "dev").string())) {
      lines.push_back(relative(p.Name) + "|" + std::to_string(p.Number) + "|" + p.Driver + "|" +
                      p.VidPid + "|" + p.Manufacturer + "|" + p.Description + "|" + p.Serial + "|" +
                      relative(p.ById) + "|" + std::to_string(p.LatencyTimerMs));
    }
    return lines;
  }

  fs::path root_;
};

TEST_F(SysfsPorts, ListsPortsWithHardwareAndWhatUsbSaysOfThem) {
  EXPECT_EQ(Listed(), (std::vector<std::string>{
                          "dev/ttyACM0|0|cdc_acm|2341:0043||Uno|||-1",
                          "dev/ttyS4|0|serial||||||-1",
                          "dev/ttyUSB0|0|ftdi_sio|0403:6001|FTDI|FT232R USB UART|A600ARJH|"
                          "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ARJH-if00-port0|16",
                      }));
}

TEST(SysfsPortsMissing, NoSysfsGivesNoPorts) {
  EXPECT_TRUE(ListSysfsPorts("/nonexistent-sys", "/nonexistent-dev").empty());
}

}  // namespace
