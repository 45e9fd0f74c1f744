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
    // CDC-ACM: the tty hangs off the interface itself; no serial number.
    Attributes(usb / "1-2", {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Uno"}});
    Tty(usb / "1-2/1-2:1.0", "ttyACM0", "bus/usb/drivers/cdc_acm");
    // A UART slot registered with nothing behind it.
    Tty(Sys("devices/platform/serial8250/serial8250:0/serial8250:0.1"), "ttyS1",
        "bus/serial-base/drivers/port");
    Attributes(Sys("class/tty/ttyS1"), {{"type", "0"}});
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

  // A tty class entry for a port on `device`, bound to `driver`, linked the
  // way sysfs links them (class entry to the tty node, the node to its device).
  void Tty(const fs::path& device, const std::string& name, const std::string& driver) {
    fs::create_directories(device);
    fs::create_directories(Sys(driver));
    if (!fs::exists(device / "driver")) fs::create_symlink(Sys(driver), device / "driver");
    const fs::path node = device / "tty" / name;
    fs::create_directories(node);
    fs::create_symlink(device, node / "device");
    fs::create_directories(Sys("class/tty"));
    fs::create_symlink(node, Sys("class/tty") / name);
  }

  std::vector<PortInfo> List() const {
    return ListSysfsPorts((root_ / "sys").string(), (root_ / "dev").string());
  }

  fs::path root_;
};

TEST_F(SysfsPorts, ListsPortsWithHardwareAndWhatUsbSaysOfThem) {
  const std::vector<PortInfo> ports = List();
  ASSERT_EQ(ports.size(), 2u);

  const PortInfo& acm = ports[0];
  EXPECT_EQ(acm.Name, (root_ / "dev/ttyACM0").string());
  EXPECT_EQ(acm.Number, 0);
  EXPECT_EQ(acm.Driver, "cdc_acm");
  EXPECT_EQ(acm.VidPid, "2341:0043");
  EXPECT_EQ(acm.Description, "Uno");
  EXPECT_EQ(acm.Manufacturer, "");
  EXPECT_EQ(acm.Serial, "");
  EXPECT_EQ(acm.ById, "");

  const PortInfo& ftdi = ports[1];
  EXPECT_EQ(ftdi.Name, (root_ / "dev/ttyUSB0").string());
  EXPECT_EQ(ftdi.Driver, "ftdi_sio");
  EXPECT_EQ(ftdi.VidPid, "0403:6001");
  EXPECT_EQ(ftdi.Manufacturer, "FTDI");
  EXPECT_EQ(ftdi.Description, "FT232R USB UART");
  EXPECT_EQ(ftdi.Serial, "A600ARJH");
  EXPECT_EQ(ftdi.ById,
            (root_ / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ARJH-if00-port0").string());
}

TEST_F(SysfsPorts, UartWithHardwareIsListedWithTheUartsDriver) {
  // A real 16550 behind serial-core "ctrl" and "port" devices: the driver
  // named is the UART's.
  const fs::path uart = Sys("devices/pnp0/00:04");
  fs::create_directories(Sys("bus/pnp/drivers/serial"));
  fs::create_directories(uart);
  fs::create_symlink(Sys("bus/pnp/drivers/serial"), uart / "driver");
  fs::create_directories(Sys("bus/serial-base/drivers/ctrl"));
  fs::create_directories(uart / "00:04:0");
  fs::create_symlink(Sys("bus/serial-base/drivers/ctrl"), uart / "00:04:0/driver");
  Tty(uart / "00:04:0/00:04:0.0", "ttyS4", "bus/serial-base/drivers/port");
  Attributes(Sys("class/tty/ttyS4"), {{"type", "4"}});

  const std::vector<PortInfo> ports = List();
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[1].Name, (root_ / "dev/ttyS4").string());
  EXPECT_EQ(ports[1].Driver, "serial");
  EXPECT_EQ(ports[1].VidPid, "");
}

TEST(SysfsPortsMissing, NoSysfsGivesNoPorts) {
  EXPECT_TRUE(ListSysfsPorts("/nonexistent-sys", "/nonexistent-dev").empty());
}

}  // namespace
