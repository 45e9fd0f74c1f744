// The POSIX side of tarvex-flash: what a user who may not open a port is
// told, and the adapters a sysfs tree describes.
#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "tests/support/HexText.h"

namespace {

TEST(OpenFailureHint, NamesTheGroupThatOwnsThePort) {
  TempDir dir;
  const std::string device = dir.Write("ttyUSB0", "");
  const group* owner = ::getgrgid(::getegid());
  ASSERT_NE(owner, nullptr);
  const std::string hint = OpenFailureHint(device, EACCES);
  EXPECT_NE(hint.find(std::string("usermod -aG ") + owner->gr_name + " $USER"), std::string::npos)
      << hint;
  EXPECT_EQ(OpenFailureHint(device, EBUSY), "");
  EXPECT_EQ(OpenFailureHint(dir.PathOf("ttyUSB9"), EACCES), "");  // no device, no owner
}

// One FTDI adapter as sysfs and udev lay it out: the USB device with its
// strings, the tty under its interface, the by-id link.
TEST(ListPorts, TellsTheAdapterFromASysfsTree) {
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path sys = dir.path() / "sys";
  const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-1";
  fs::create_directories(usb);
  for (const auto& [name, value] : {std::pair{"idVendor", "0403"},
                                    {"idProduct", "6001"},
                                    {"manufacturer", "FTDI"},
                                    {"product", "FT232R USB UART"},
                                    {"serial", "A600ARJH"}}) {
    std::ofstream(usb / name) << value << "\n";
  }
  const fs::path port = usb / "1-1:1.0/ttyUSB0";
  fs::create_directories(port / "tty/ttyUSB0");
  fs::create_directories(sys / "bus/usb-serial/drivers/ftdi_sio");
  fs::create_symlink(sys / "bus/usb-serial/drivers/ftdi_sio", port / "driver");
  fs::create_symlink(port, port / "tty/ttyUSB0/device");
  fs::create_directories(sys / "class/tty");
  fs::create_symlink(port / "tty/ttyUSB0", sys / "class/tty/ttyUSB0");
  fs::create_directories(dir.path() / "dev/serial/by-id");
  const fs::path by_id = dir.path() / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ARJH-if00";
  fs::create_symlink("../../ttyUSB0", by_id);

  const std::vector<PortInfo> ports = ListSysfsPorts(sys.string(), (dir.path() / "dev").string());
  const std::string table = FormatPortList(ports, false);
  const std::string name = (dir.path() / "dev/ttyUSB0").string();
  EXPECT_NE(table.find(name + "  FT232R USB UART  0403:6001  A600ARJH"), std::string::npos)
      << table;
  EXPECT_NE(table.find("made by FTDI, driver ftdi_sio, " + by_id.string()), std::string::npos);
  const auto json = nlohmann::json::parse(FormatPortList(ports, true));
  EXPECT_EQ(json.at("vid_pid"), "0403:6001");
  EXPECT_EQ(AdapterSerialOf(by_id.string(), ports), "A600ARJH");
  EXPECT_EQ(AdapterSerialOf(name, ports), "A600ARJH");
  EXPECT_EQ(AdapterSerialOf("/dev/ttyUSB7", ports), "");
  // -p serial=...: the adapter found under whatever name it has now.
  EXPECT_EQ(ResolvePort("serial=A600ARJH", ports).name, name);
  EXPECT_EQ(ResolvePort("serial=FT12AB34", ports).error,
            "no port has an adapter with the serial number FT12AB34; the ports present: " + name +
                " (A600ARJH)");
}

}  // namespace
