// Text fitted to a terminal: widths in display columns, names shortened so
// they still read apart, lines wrapped with a hanging indent.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/TextWidth.h"

namespace {

using Texts = std::vector<std::string>;

struct WidthCase {
  const char* name;
  std::string text;
  std::size_t columns;
};

void PrintTo(const WidthCase& c, std::ostream* out) { *out << c.name; }

class Columns : public ::testing::TestWithParam<WidthCase> {};

TEST_P(Columns, AreCountedAsATerminalDrawsThem) {
  EXPECT_EQ(DisplayWidth(GetParam().text), GetParam().columns);
}

INSTANTIATE_TEST_SUITE_P(Texts, Columns,
                         ::testing::Values(WidthCase{"Ascii", "COM12", 5},
                                           WidthCase{"Latin", "\u0141\u00f3d\u017a", 4},
                                           WidthCase{"Han", "\u65e5\u672c", 4},
                                           WidthCase{"HangulFirstAndLast", "\uac00\ud7a3", 4},
                                           WidthCase{"FullWidthForms", "\uff21\uff22", 4},
                                           WidthCase{"KanaAndAscii", "COM\u30dd\u30fc\u30c8", 9},
                                           WidthCase{"ExtensionB", "\U00020000", 2},
                                           WidthCase{"Emoji", "\U0001F600", 2},
                                           WidthCase{"CombiningAcute", "e\u0301", 1},
                                           WidthCase{"ZeroWidthJoiner", "a\u200db", 2},
                                           WidthCase{"NotUtf8", "a\xff", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Columns, ShorteningAndCuttingCountColumnsNotCharacters) {
  const std::string wide = "\u65e5\u672c\u8a9e\u30dd\u30fc\u30c8";  // 12 columns
  EXPECT_EQ(ShortenInTheMiddle(wide, 12), wide);
  EXPECT_EQ(ShortenInTheMiddle(wide, 9), "\u65e5\u672c\u2026\u30fc\u30c8");
  EXPECT_EQ(ShortenInTheMiddle("/dev/ttyUSB0", 10), "/dev/\u2026USB0");
  EXPECT_EQ(CutToWidth(wide, 6), "\u65e5\u672c\u2026");
  EXPECT_EQ(CutToWidth("remove pager #12", 8), "remove \u2026");
  EXPECT_EQ(CutToWidth("remove", 0), "remove");
}

struct WrapCase {
  const char* name;
  std::string line;
  std::size_t width;
  std::size_t indent;
  Texts lines;
};

void PrintTo(const WrapCase& c, std::ostream* out) { *out << c.name; }

class Wrap : public ::testing::TestWithParam<WrapCase> {};

TEST_P(Wrap, BreaksAtBlanksWithAHangingIndent) {
  const Texts lines = WrapLine(GetParam().line, GetParam().width, GetParam().indent);
  EXPECT_EQ(lines, GetParam().lines);
  for (const std::string& line : lines) EXPECT_LE(DisplayWidth(line), GetParam().width) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Wrap,
    ::testing::Values(
        WrapCase{"Fits",
                 "COM5: Firmware updated finished.",
                 32,
                 2,
                 {"COM5: Firmware updated finished."}},
        // The lost-port line, never broken inside a word ("(er" / "ror 5)").
        WrapCase{"Words",
                 "COM5 cannot be opened: Can NOT Open \"COM5\" The port does not exist (error 5)",
                 40,
                 2,
                 {"COM5 cannot be opened: Can NOT Open",
                  "  \"COM5\" The port does not exist (error", "  5)"}},
        // An option's words go on below themselves, not below the option.
        WrapCase{"HangingIndent",
                 "  -p, --port PORT        COM7, /dev/ttyUSB0 or serial=NUMBER; repeat for more",
                 50,
                 25,
                 {"  -p, --port PORT        COM7, /dev/ttyUSB0 or",
                  "                         serial=NUMBER; repeat for",
                  "                         more"}},
        WrapCase{"LongWord",
                 "/dev/serial/by-id/usb-FTDI_FT232R",
                 12,
                 2,
                 {"/dev/serial/", "  by-id/usb-", "  FTDI_FT232", "  R"}},
        WrapCase{"WideCharacters",
                 "\u65e5\u672c \u8a9e\u30dd \u30fc\u30c8",
                 9,
                 0,
                 {"\u65e5\u672c \u8a9e\u30dd", "\u30fc\u30c8"}},
        // An indent that would leave no room for words is not kept.
        WrapCase{"IndentTooDeep", "one two three four", 12, 8, {"one two", "three four"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Wrap, EveryLineOfATextKeepsItsOwnIndent) {
  EXPECT_EQ(WrapText("COM5: No response from the pager.\n  The port was lost.\n", 20),
            "COM5: No response\n  from the pager.\n  The port was lost.\n");
  EXPECT_EQ(WrapText("a b", 0), "a b");
}

struct ApartCase {
  const char* name;
  Texts names;
  std::size_t width;
  Texts shown;
};

void PrintTo(const ApartCase& c, std::ostream* out) { *out << c.name; }

class Apart : public ::testing::TestWithParam<ApartCase> {};

TEST_P(Apart, ShortenedNamesKeepWhatTellsThemApart) {
  const Texts shown = ShortenApart(GetParam().names, GetParam().width);
  EXPECT_EQ(shown, GetParam().shown);
  for (const std::string& name : shown) EXPECT_LE(DisplayWidth(name), GetParam().width) << name;
}

const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_";

INSTANTIATE_TEST_SUITE_P(
    Names, Apart,
    ::testing::Values(
        // Two FTDI adapters: the serial number stays, whatever else goes.
        ApartCase{"TwoAdapters",
                  {kById + "A50285BI-if00-port0", kById + "B7731CX0-if00-port0"},
                  20,
                  {"\u2026A50285BI-if00-port0", "\u2026B7731CX0-if00-port0"}},
        ApartCase{"TwoAdaptersNarrow",
                  {kById + "A50285BI-if00-port0", kById + "B7731CX0-if00-port0"},
                  10,
                  {"\u2026A50285BI\u2026", "\u2026B7731CX0\u2026"}},
        ApartCase{"RoomForTheWordBefore",
                  {kById + "A50285BI-if00-port0"},
                  28,
                  {"\u2026UART_A50285BI-if00-port0"}},
        // A CDC adapter's name has no interface part after its serial.
        ApartCase{"CdcAdapter",
                  {"/dev/serial/by-id/usb-Arduino_Uno_85439303333351F0E1E1-if00"},
                  26,
                  {"\u202685439303333351F0E1E1-if00"}},
        // Names of another kind keep what lies between what they share.
        ApartCase{"SharedStartAndEnd",
                  {"/home/bench/line-one/pager", "/home/bench/line-two/pager", "COM5"},
                  16,
                  {"\u2026line-one/pager", "\u2026line-two/pager", "COM5"}},
        ApartCase{"ByPath",
                  {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0",
                   "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.3:1.0-port0"},
                  20,
                  {"\u2026usb-0:1.2:1.0-port0", "\u2026usb-0:1.3:1.0-port0"}},
        // A lone long name has nothing to be told from.
        ApartCase{"Alone", {"/dev/ttyUSB0", "COM7"}, 10, {"/dev/\u2026USB0", "COM7"}},
        ApartCase{"AllFit", {"COM5", "COM12"}, 5, {"COM5", "COM12"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
