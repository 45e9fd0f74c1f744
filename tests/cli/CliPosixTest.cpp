// The POSIX side of tarvex-flash: what a user who may not open a port is told,
// the ports and adapters a sysfs tree lists, README's usage block (read from
// the source tree, which the Windows build's tests under Wine do not see), a
// large file's digest against sha256sum's, and what a log may be.
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include <cstdio>
#include <random>

#include "cli/FlashPlan.h"
#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "common/Sha256.h"
#include "station/Advice.h"
#include "station/RecordIdentity.h"
#include "station/TraceLog.h"
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

// A timer that low latency left high is set for good by a udev rule on the
// driver's sysfs attribute, and for now by writing the port's own one.
TEST(LatencyTimerRemedy, GivesTheUdevRuleAndThePortsOwnAttribute) {
  const std::string remedy = LatencyTimerRemedy("/dev/ttyUSB3", 16);
  EXPECT_NE(remedy.find(R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", )"
                        R"(ATTR{latency_timer}="1" in /etc/udev/rules.d/70-tarvex-flash.rules)"),
            std::string::npos)
      << remedy;
  EXPECT_NE(remedy.find("/sys/bus/usb-serial/devices/ttyUSB3/latency_timer"), std::string::npos)
      << remedy;
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

// A bench given no name is known by the host's, as uname tells it.
TEST(StationName, NoNameGivenIsTheHostsNodeName) {
  utsname host{};
  ASSERT_EQ(::uname(&host), 0);
  EXPECT_EQ(StationName(""), host.nodename);
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

// What a --log name may lead to: a file, or nothing yet, takes the lines;
// anything else is refused as what it is, and nothing reaches it. None is
// waited on: a FIFO with no reader would hold a blocking open for ever.
struct LogTargetCase {
  const char* name;
  // Makes what the log's name leads to; descriptors the test holds open
  // meanwhile (the far end of a line) go into the list.
  std::function<std::string(const TempDir&, std::vector<int>&)> make;
  // Why it is refused; empty when it takes the lines.
  std::string reason;
};

void PrintTo(const LogTargetCase& c, std::ostream* out) { *out << c.name; }

class LogTarget : public ::testing::TestWithParam<LogTargetCase> {};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A pseudo-terminal's far end held open, its line's name returned: a
// pager's line, as far as the log can tell.
std::string PagerLine(std::vector<int>& held) {
  const int far_end = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (far_end < 0 || ::grantpt(far_end) != 0 || ::unlockpt(far_end) != 0) return "";
  held.push_back(far_end);
  return ::ptsname(far_end);
}

TEST_P(LogTarget, IsAFileOrIsRefusedAsWhatItIs) {
  TempDir dir;
  std::vector<int> held;
  const std::string path = GetParam().make(dir, held);
  const bool takes_lines = GetParam().reason.empty();
  TraceLog log(path, "fw.hex", "00");
  EXPECT_EQ(log.CanAppend(), takes_lines);
  PortResult pager;
  pager.port = "COM5";
  pager.code = ExitCode::kFinished;
  EXPECT_EQ(log.Append(pager), takes_lines);
  if (takes_lines) {
    EXPECT_NE(ReadFile(path).find("\"outcome\":\"finished\""), std::string::npos);
  } else {
    EXPECT_EQ(log.CannotAppendText(),
              "cannot append to the log " + path + ": " + GetParam().reason + ".");
  }
  for (const int fd : held) {
    char byte = 0;
    EXPECT_LT(::read(fd, &byte, 1), 1) << "a byte reached the line";
    ::close(fd);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LogTarget,
    ::testing::Values(
        LogTargetCase{"NewFile", [](const TempDir& dir, auto&) { return dir.PathOf("day.jsonl"); },
                      ""},
        LogTargetCase{"FileWithLines",
                      [](const TempDir& dir, auto&) { return dir.Write("day.jsonl", "{}\n"); }, ""},
        LogTargetCase{"MissingFolder",
                      [](const TempDir& dir, auto&) { return dir.PathOf("gone/day.jsonl"); },
                      "No such file or directory (its folder does not exist)"},
        LogTargetCase{"Folder", [](const TempDir& dir, auto&) { return dir.path().string(); },
                      "it is a folder, not a file"},
        LogTargetCase{"FifoWithoutReader",
                      [](const TempDir& dir, auto&) {
                        const std::string fifo = dir.PathOf("day.fifo");
                        ::mkfifo(fifo.c_str(), 0600);
                        return fifo;
                      },
                      "it is a FIFO (a named pipe), not a file"},
        LogTargetCase{"Socket",
                      [](const TempDir& dir, std::vector<int>& held) {
                        sockaddr_un address{};
                        address.sun_family = AF_UNIX;
                        const std::string path = dir.PathOf("day.sock");
                        path.copy(address.sun_path, sizeof address.sun_path - 1);
                        held.push_back(::socket(AF_UNIX, SOCK_STREAM, 0));
                        ::bind(held.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
                        return path;
                      },
                      "it is a socket, not a file"},
        LogTargetCase{"DevNull", [](const TempDir&, auto&) { return std::string("/dev/null"); },
                      "it is a device, not a file"},
        LogTargetCase{"PagerLine", [](const TempDir&, auto& held) { return PagerLine(held); },
                      "it is a serial port or a terminal, not a file"},
        LogTargetCase{"LinkToAPagerLine",
                      [](const TempDir& dir, auto& held) {
                        const std::string link = dir.PathOf("ttyUSB0");
                        std::filesystem::create_symlink(PagerLine(held), link);
                        return link;
                      },
                      "it is a serial port or a terminal, not a file"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
