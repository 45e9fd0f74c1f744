// The Comm Port items below COM 1 to COM 4: which ports get one, in which
// order, with which caption, and which is checked.
#include <gtest/gtest.h>

#include <ostream>

#include "shell/PortMenu.h"

namespace {

PortInfo Port(int number, const std::string& description = "", const std::string& maker = "") {
  PortInfo port;
  port.Name = "COM" + std::to_string(number);
  port.Number = number;
  port.Description = description;
  port.Manufacturer = maker;
  return port;
}

// COM1 and COM3 of the board, an FTDI adapter on COM7, a port with no
// description on COM12 (as under Wine), and a Linux path without a number.
const std::vector<PortInfo> kPresent = [] {
  std::vector<PortInfo> ports{Port(1, "Communications Port", "(Standard port types)"), Port(3),
                              Port(7, "USB Serial Port", "FTDI"), Port(12)};
  PortInfo tty;
  tty.Name = "/dev/ttyUSB0";
  ports.push_back(tty);
  return ports;
}();

struct MenuCase {
  const char* name;
  int chosen;
  std::vector<std::string> captions;
  std::vector<std::string> checked;
};

void PrintTo(const MenuCase& c, std::ostream* out) { *out << c.name; }

class ListedItems : public ::testing::TestWithParam<MenuCase> {};

TEST_P(ListedItems, OnePerOtherPortInNumberOrderTheChosenOneChecked) {
  std::vector<std::string> captions, checked;
  for (const PortMenuItem& item : ListedPortItems(kPresent, GetParam().chosen)) {
    EXPECT_EQ(item.Item, "MnCOM" + std::to_string(item.Number));
    captions.push_back(item.Caption);
    if (item.Checked) checked.push_back(item.Item);
  }
  EXPECT_EQ(captions, GetParam().captions);
  EXPECT_EQ(checked, GetParam().checked);
}

INSTANTIATE_TEST_SUITE_P(
    Menu, ListedItems,
    ::testing::Values(
        MenuCase{"FixedPortChosen", 1, {"COM7  USB Serial Port (FTDI)", "COM12"}, {}},
        MenuCase{"PresentPortChosen", 12, {"COM7  USB Serial Port (FTDI)", "COM12"}, {"MnCOM12"}},
        MenuCase{"GonePortStaysCheckedInItsPlace",
                 9,
                 {"COM7  USB Serial Port (FTDI)", "COM9 (not present)", "COM12"},
                 {"MnCOM9"}},
        MenuCase{"HighestPort",
                 255,
                 {"COM7  USB Serial Port (FTDI)", "COM12", "COM255 (not present)"},
                 {"MnCOM255"}},
        MenuCase{
            "AbsentFixedPortGetsNoSecondItem", 4, {"COM7  USB Serial Port (FTDI)", "COM12"}, {}},
        MenuCase{"ComZeroChecksNothing", 0, {"COM7  USB Serial Port (FTDI)", "COM12"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ListedItems, NoOtherPortsNoItems) {
  EXPECT_TRUE(ListedPortItems({Port(1), Port(2)}, 1).empty());
  EXPECT_TRUE(ListedPortItems({}, 3).empty());
  // A port two sources reported is listed once.
  EXPECT_EQ(ListedPortItems({Port(6), Port(6, "USB Serial Device")}, 1).size(), 1u);
}

TEST(PortCaptions, NameTwoSpacesDescriptionAndMakerWhenNotAlreadySaid) {
  EXPECT_EQ(PortCaption(Port(7, "USB Serial Port", "FTDI")), "COM7  USB Serial Port (FTDI)");
  // A slow FTDI adapter points to the tuning; one tuned already does not.
  PortInfo slow = Port(7, "USB Serial Port", "FTDI");
  slow.LatencyTimerMs = 16;
  EXPECT_EQ(PortCaption(slow),
            "COM7  USB Serial Port (FTDI)\tlatency timer 16 ms: tarvex-flash --tune-adapters sets "
            "1 ms");
  slow.LatencyTimerMs = 1;
  EXPECT_EQ(PortCaption(slow), "COM7  USB Serial Port (FTDI)");
  EXPECT_EQ(PortCaption(Port(5, "Prolific USB-to-Serial Comm Port", "Prolific")),
            "COM5  Prolific USB-to-Serial Comm Port");
  EXPECT_EQ(PortCaption(Port(5, "Communications Port", "(Standard port types)")),
            "COM5  Communications Port");
  EXPECT_EQ(PortCaption(Port(12, "", "FTDI")), "COM12");
}

TEST(PortItemNames, RoundTripAndRefuseOthers) {
  EXPECT_EQ(PortNumberOfItem(PortItemName(12)), 12);
  EXPECT_EQ(PortNumberOfItem("MnCOM255"), 255);
  for (const char* other : {"MnCOM", "MnCOM0", "MnCOM012", "MnCOM256", "MnCOM1x", "Mn2400bps"}) {
    EXPECT_EQ(PortNumberOfItem(other), 0) << other;
  }
}

}  // namespace
