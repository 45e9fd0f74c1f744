// The POSIX side of tarvex-flash: what a user who may not open a port is told,
// the ports and adapters a sysfs tree lists, README's usage block (read from
// the source tree, which the Windows build's tests under Wine do not see), and
// a large file's digest against sha256sum's.
#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include <cstdio>
#include <random>

#include "cli/FlashPlan.h"
#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "common/Sha256.h"
#include "station/Advice.h"
#include "tests/support/HexText.h"

namespace {

// A group other than root's that the device can be given to here: the
// user's own, or dialout when the tests run as root.
const group* GroupToGive() {
  if (::getegid() != 0) return ::getgrgid(::getegid());
  return ::geteuid() == 0 ? ::getgrnam("dialout") : nullptr;
}

struct HintCase {
  mode_t mode;
  bool root_group;  // else the group of GroupToGive()
  bool names_group;
};

class OpenFailureHintFor : public ::testing::TestWithParam<HintCase> {};

// A group is named only when it may open the device and is not root's;
// otherwise the hint says who may open it and gives a udev rule.
TEST_P(OpenFailureHintFor, NamesAGroupOnlyWhenThatGroupMayOpenIt) {
  TempDir dir;
  const std::string device = dir.Write("ttyUSB0", "");
  const group* owner = GetParam().root_group ? ::getgrgid(0) : GroupToGive();
  if (owner == nullptr || ::chown(device.c_str(), static_cast<uid_t>(-1), owner->gr_gid) != 0 ||
      ::chmod(device.c_str(), GetParam().mode) != 0) {
    GTEST_SKIP() << "no group to give the device to here";
  }
  const std::string group_name = owner->gr_name;
  const std::string hint = OpenFailureHint(device, EACCES);
  const std::string join = "join the group " + group_name + " that owns it (sudo usermod -aG " +
                           group_name + " $USER), then log in again.";
  if (GetParam().names_group) {
    EXPECT_NE(hint.find(join), std::string::npos) << hint;
    EXPECT_EQ(hint.find("udev"), std::string::npos) << hint;
  } else {
    EXPECT_EQ(hint.find(join), std::string::npos) << hint;
    EXPECT_TRUE(hint.starts_with("Only ")) << hint;
    EXPECT_NE(hint.find(fmt::format("mode {:04o}", GetParam().mode)), std::string::npos) << hint;
    EXPECT_NE(hint.find("KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\""), std::string::npos)
        << hint;
  }
  EXPECT_EQ(OpenFailureHint(device, EBUSY), "");
  EXPECT_EQ(OpenFailureHint(dir.PathOf("ttyUSB9"), EACCES), "");  // no device, no owner
}

INSTANTIATE_TEST_SUITE_P(Modes, OpenFailureHintFor,
                         ::testing::Values(HintCase{0660, false, true},    // dialout 0660
                                           HintCase{0600, false, false},   // only the owner
                                           HintCase{0640, false, false},   // the group only reads
                                           HintCase{0600, true, false},    // root:root 0600
                                           HintCase{0660, true, false}));  // root's group

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

// README's usage block is the help's option list, line for line.
TEST(CommandLineHelp, ReadmeShowsTheSameOptions) {
  std::ifstream file(TARVEX_SOURCE_DIR "/README.md");
  const std::string readme{std::istreambuf_iterator<char>(file), {}};
  const char* argv[] = {"tarvex-flash", "--help"};
  const std::string help = ParseCommandLine(2, argv).out;
  const std::size_t first = help.find("\n  -p, --port");
  const std::size_t end = help.find("\n\n", first);
  ASSERT_NE(end, std::string::npos);
  const std::string options = help.substr(first + 1, end - first);
  EXPECT_NE(readme.find("tarvex-flash [options] -p PORT FILE.hex\n" + options), std::string::npos)
      << options;
}

// Beside the known vectors, a file of several MB as sha256sum sees it.
TEST(Sha256, LargeFileAsSha256sumHasIt) {
  std::string bytes(5 * 1024 * 1024 + 13, '\0');
  std::mt19937 random(26);
  for (char& byte : bytes) byte = static_cast<char>(random());
  TempDir dir;
  const std::string file = dir.Write("large.bin", bytes);
  FILE* pipe = ::popen(("sha256sum '" + file + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string printed(64, '\0');
  printed.resize(std::fread(printed.data(), 1, printed.size(), pipe));
  ASSERT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(Sha256Hex(bytes), printed);
}

}  // namespace
