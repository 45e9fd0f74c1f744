// The platform-free part of the port list: what instance IDs and friendly
// names say, and how ports from several sources become one ordered list.
#include <gtest/gtest.h>

#include "link/PortList.h"

namespace {

struct InstanceIdCase {
  const char* id;
  bool usb;
  const char* vid;
  const char* pid;
  const char* serial;
};

class InstanceIdParse : public ::testing::TestWithParam<InstanceIdCase> {};

TEST_P(InstanceIdParse, ReadsVendorProductAndSerial) {
  const InstanceIdCase& c = GetParam();
  UsbIdentity got{"x", "x", "x"};
  EXPECT_EQ(ParseInstanceId(c.id, got), c.usb) << c.id;
  EXPECT_EQ(got.Vid, c.vid) << c.id;
  EXPECT_EQ(got.Pid, c.pid) << c.id;
  EXPECT_EQ(got.Serial, c.serial) << c.id;
}

INSTANTIATE_TEST_SUITE_P(
    Ids, InstanceIdParse,
    ::testing::Values(
        // USB's own ID: the serial number is the third field.
        InstanceIdCase{R"(USB\VID_0403&PID_6001\A600ARJH)", true, "0403", "6001", "A600ARJH"},
        // FTDI's bus: packed with '+', the channel letter kept.
        InstanceIdCase{R"(FTDIBUS\VID_0403+PID_6001+A600ARJHA\0000)", true, "0403", "6001",
                       "A600ARJHA"},
        // Lower-case hex comes out upper-case.
        InstanceIdCase{R"(USB\vid_10c4&pid_ea60\0001)", true, "10C4", "EA60", "0001"},
        // An instance number Windows made up is no serial number.
        InstanceIdCase{R"(USB\VID_067B&PID_2303\5&1A2B3C4D&0&2)", true, "067B", "2303", ""},
        InstanceIdCase{R"(USB\VID_2341&PID_8036&MI_00\7&2A3B4C&0&0000)", true, "2341", "8036", ""},
        InstanceIdCase{R"(FTDIBUS\VID_0403+PID_6015+5&2F1A&0&3\0000)", true, "0403", "6015", ""},
        InstanceIdCase{R"(USB\VID_1A86&PID_7523)", true, "1A86", "7523", ""},
        // Not USB, or not enough of it.
        InstanceIdCase{R"(ACPI\PNP0501\1)", false, "", "", ""},
        InstanceIdCase{R"(USB\VID_04&PID_6001\X)", false, "", "", ""},
        InstanceIdCase{R"(USB\VID_0403\A600ARJH)", false, "", "", ""},
        InstanceIdCase{R"(USB\VID_04G3&PID_6001\X)", false, "", "", ""},
        InstanceIdCase{"", false, "", "", ""}));

TEST(PortNames, ComNumberReadsPlainAndDeviceNamespaceNames) {
  const std::pair<const char*, int> cases[] = {{"COM1", 1},
                                               {"COM12", 12},
                                               {"com255", 255},
                                               {R"(\\.\COM12)", 12},
                                               {"COM", 0},
                                               {"COM1x", 0},
                                               {"LPT1", 0},
                                               {"/dev/ttyUSB0", 0},
                                               {"COM99999", 0},
                                               // Every spelling Windows opens as the same port.
                                               {"com07", 7},
                                               {"COM7:", 7},
                                               {R"(\\?\COM7)", 7},
                                               {R"(\\.\COM7:)", 7},
                                               {"//./COM7", 7},
                                               {R"(\??\COM7)", 7},
                                               {"COM7::", 0},
                                               {"/./COM7", 0},
                                               {R"(\?\COM7)", 0}};
  for (const auto& [name, number] : cases) EXPECT_EQ(ComNumberOf(name), number) << name;
}

// QueryDosDeviceW says only that its buffer was too small: the lookup asks
// again with a larger one until the name's whole target fits.
TEST(PortNames, ALookupIsAskedAgainWithALargerBufferUntilItFits) {
  const std::string target = R"(\Device\)" + std::string(5000, 'x');
  std::vector<std::size_t> asked;
  const auto query_dos_device = [&](std::size_t chars) -> BufferedLookup {
    asked.push_back(chars);
    if (chars <= target.size()) return {BufferedLookup::Status::kTooSmall, ""};
    return {BufferedLookup::Status::kDone, target};
  };
  EXPECT_EQ(LookUpGrowing(query_dos_device), target);
  ASSERT_GE(asked.size(), 2u);
  EXPECT_LT(asked.front(), asked.back());
  // A name the table does not hold is asked once.
  asked.clear();
  EXPECT_EQ(LookUpGrowing([&](std::size_t chars) {
              asked.push_back(chars);
              return BufferedLookup{BufferedLookup::Status::kFailed, ""};
            }),
            "");
  EXPECT_EQ(asked.size(), 1u);
  // One that never fits ends too.
  EXPECT_EQ(LookUpGrowing([](std::size_t) { return BufferedLookup{}; }), "");
  EXPECT_EQ(LookUpGrowing([](std::size_t) {
              return BufferedLookup{BufferedLookup::Status::kTooSmall, ""};
            }),
            "");
}

TEST(PortNames, FriendlyNameLosesOnlyItsOwnPortSuffix) {
  EXPECT_EQ(DescriptionFromFriendlyName("USB Serial Port (COM7)", "COM7"), "USB Serial Port");
  EXPECT_EQ(DescriptionFromFriendlyName("Communications Port (com1)", "COM1"),
            "Communications Port");
  EXPECT_EQ(DescriptionFromFriendlyName("USB Serial Port (COM7)", "COM17"),
            "USB Serial Port (COM7)");
  EXPECT_EQ(DescriptionFromFriendlyName("Prolific USB-to-Serial", "COM3"),
            "Prolific USB-to-Serial");
}

PortInfo Port(const std::string& name, int number, const std::string& description = "") {
  PortInfo port;
  port.Name = name;
  port.Number = number;
  port.Description = description;
  return port;
}

TEST(PortMerge, OneEntryPerNameFieldsFilledInNumberOrder) {
  std::vector<PortInfo> ports;
  for (const PortInfo& port :
       {Port("COM12", 12, "USB Serial Port"), Port("COM3", 3), Port("/dev/ttyUSB10", 0),
        Port("/dev/ttyUSB2", 0), Port("COM1", 1)}) {
    MergePort(ports, port);
  }
  // A second source knows more of COM12 but does not overwrite what is known.
  PortInfo more = Port("com12", 12, "Other words");
  more.Serial = "A600ARJH";
  MergePort(ports, more);
  SortPorts(ports);
  std::vector<std::string> names;
  for (const PortInfo& p : ports) names.push_back(p.Name + " " + p.Description + " " + p.Serial);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1  ", "COM3  ", "COM12 USB Serial Port A600ARJH",
                                             "/dev/ttyUSB2  ", "/dev/ttyUSB10  "}));
}

}  // namespace
