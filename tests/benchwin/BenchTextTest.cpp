// The bench window's pure pieces: its command line, its settings file, the
// firmware card and the port list.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

#include "benchwin/AdapterTune.h"
#include "benchwin/BenchCommandLine.h"
#include "benchwin/BenchSettings.h"
#include "benchwin/FirmwareCard.h"
#include "benchwin/PortChoice.h"
#include "tests/support/HexText.h"

namespace {

using Texts = std::vector<std::string>;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct LineCase {
  const char* name;
  Texts arguments;
  std::string fault;  // empty: read as `line`
  BenchCommandLine line;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

LineCase Refused(const char* name, Texts arguments, std::string fault) {
  return {name, std::move(arguments), fault, {}};
}

LineCase Read(const char* name, Texts arguments, BenchCommandLine line) {
  return {name, std::move(arguments), "", std::move(line)};
}

// COM1, COM2, ... COMn.
Texts ComPorts(int n) {
  Texts ports;
  for (int number = 1; number <= n; ++number) {
    std::string port = "COM";
    ports.push_back(port.append(std::to_string(number)));
  }
  return ports;
}

class CommandLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(CommandLine, IsReadOrRefusedNamingTheFault) {
  const ParsedBenchCommandLine parsed = ParseBenchCommandLine(GetParam().arguments);
  EXPECT_EQ(parsed.fault, GetParam().fault);
  if (parsed.fault.empty()) {
    EXPECT_EQ(parsed.line, GetParam().line);
  }
}

constexpr char kNotAPort[] =
    " is not a port: ports are COM names (COM7) or adapters' serial numbers "
    "(serial=FT12AB34), after the one FILE.hex.";

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLine,
    ::testing::Values(
        Read("Nothing", {}, {}),
        Read("FactoryShortcut",
             {"/RUN", "/count", "4", "/log", "day.jsonl", "fw.hex", "COM5", "serial=FT12"},
             {.run = true,
              .count = 4,
              .log_path = "day.jsonl",
              .firmware = "fw.hex",
              .ports = {"COM5", "serial=FT12"}}),
        Read("PortsWithoutFile", {"\\\\.\\COM12", "SERIAL=ab"},
             {.ports = {"\\\\.\\COM12", "serial=ab"}}),
        Read("CountOfOne", {"/count", "1"}, {.count = 1}), Read("Usage", {"/?"}, {.usage = true}),
        Refused("CountOfNone", {"/count", "0"},
                "/count needs a number of pagers from 1 to 1000000, not 0."),
        Refused("CountTooLarge", {"/count", "1000001"},
                "/count needs a number of pagers from 1 to 1000000, not 1000001."),
        Refused("CountAtTheEnd", {"/count"}, "/count needs a number of pagers from 1 to 1000000."),
        Refused("CountTwice", {"/count", "2", "/count", "3"}, "/count is given twice."),
        Refused("LogWithoutFile", {"/log", "/run"}, "/log needs the name of the log file."),
        Refused("UnknownOption", {"/rnu"}, "/rnu is not an option of TarvexBench.exe."),
        Refused("SecondFile", {"a.hex", "b.hex"}, std::string("b.hex") + kNotAPort),
        Refused("FileAfterPort", {"COM5", "a.hex"}, std::string("a.hex") + kNotAPort),
        Refused("EmptySerial", {"fw.hex", "serial="}, std::string("serial=") + kNotAPort),
        Refused("OnePortTwoNames", {"COM5", "\\\\.\\com5"},
                "The port COM5 is given twice (also as \\\\.\\com5)."),
        Refused("OnePortForwardSlashes", {"COM5", "//./COM5"},
                "The port COM5 is given twice (also as //./COM5)."),
        Refused("OnePortObjectManagerName", {"com05", R"(\??\COM5)"},
                R"(The port com05 is given twice (also as \??\COM5).)"),
        Refused("OneSerialTwoCases", {"serial=ft1", "serial=FT1"},
                "The port serial=ft1 is given twice (also as serial=FT1)."),
        Read("SixtyFourPorts", ComPorts(64), {.ports = ComPorts(64)}),
        Refused("SixtyFivePorts", ComPorts(65), "A bench takes at most 64 ports; 65 were given.")),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Settings file -------------------------------------------------------------

struct SettingsCase {
  const char* name;
  const char* text;
  BenchSettings settings;
};

void PrintTo(const SettingsCase& c, std::ostream* out) { *out << c.name; }

class SettingsText : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsText, IsReadKeyByKey) {
  EXPECT_EQ(ParseBenchSettings(GetParam().text), GetParam().settings);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsText,
    ::testing::Values(
        SettingsCase{"Empty", "", BenchSettings{}},
        SettingsCase{"Whole",
                     "\xEF\xBB\xBF[Bench]\r\nfirmware = C:\\Fw\\p=1.hex\r\nPORTS=COM5, "
                     "serial=FT12,,\r\nRate=9600\r\nResends=0\r\nLog=D:\\l.jsonl\r\nLocked=1\r\n"
                     "stationname = LINE3-B2\r\n",
                     BenchSettings{"C:\\Fw\\p=1.hex",
                                   {"COM5", "serial=FT12"},
                                   9600,
                                   0,
                                   "D:\\l.jsonl",
                                   true,
                                   "LINE3-B2"}},
        SettingsCase{"NotOffered", "Rate=1200\nResends=4\nLocked=yes\n", BenchSettings{}},
        SettingsCase{"LfAndNoise", "; a note\nRate=2400\njunk\nResends=5",
                     [] {
                       BenchSettings s;
                       s.rate = 2400;
                       s.resends = 5;
                       return s;
                     }()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsText, RateAndResendsAsTheWindowShowsThem) {
  EXPECT_EQ(SetupText(9600, 3), "9600 bit/s\n3 resends");
  EXPECT_EQ(SetupText(2400, 0), "2400 bit/s\nno resends");
}

TEST(SettingsFile, SavedAsReadAndTheLogDefaultsBesideIt) {
  TempDir dir;
  const std::string folder = dir.path().string();
  EXPECT_EQ(LoadBenchSettings(folder), BenchSettings{}) << "no file: the defaults";
  const BenchSettings chosen{"fw.hex", {"COM5", "serial=FT12"}, 2400, 5, "", false, "B2"};
  ASSERT_TRUE(SaveBenchSettings(folder, chosen));
  EXPECT_EQ(LoadBenchSettings(folder), chosen);
  EXPECT_EQ(ReadBytes(dir.PathOf(kBenchSettingsFileName)).substr(0, 24),
            "[Bench]\r\nFirmware=fw.hex");
  EXPECT_EQ(BenchLogPath(chosen, folder), dir.PathOf("TarvexBench.jsonl"));
  BenchSettings named = chosen;
  named.log = "day.jsonl";
  EXPECT_EQ(BenchLogPath(named, folder), dir.PathOf("day.jsonl"));
  named.log = "C:\\Logs\\day.jsonl";
  EXPECT_EQ(BenchLogPath(named, folder), named.log);
  named.log = "/var/log/day.jsonl";
  EXPECT_EQ(BenchLogPath(named, folder), named.log);
}

// ---- Firmware card -----------------------------------------------------------------

TEST(FirmwareCard, ShowsFiguresRangesAndDigestOrWhyItWasRefused) {
  TempDir dir;
  const std::string good = dir.Write(
      "fw.hex",
      HexFileText({HexRecordText(0x0000, 0, Bytes(16)), HexRecordText(0x0010, 0, Bytes(4)),
                   HexRecordText(0x0100, 0, Bytes(2)), kEndRecordLine}));
  ReadOnlyFile file;
  const FirmwareCard card =
      DescribeFirmware(good, LoadFirmwareFile(file, good, FileSharing::kSharedRead));
  ASSERT_TRUE(card.loaded);
  EXPECT_EQ(card.name, "fw.hex");
  EXPECT_EQ(card.sha256.size(), 64u);
  EXPECT_EQ(
      LinesOf(card),
      (FirmwareLines{"fw.hex", "3 records, 22 data bytes, 00000000-00000013, 00000100-00000101",
                     "SHA-256 " + card.sha256.substr(0, 16) + "\u2026", false}));
  EXPECT_NE(FirmwareDetails(card).find("00000000-00000013 (20 bytes)\n00000100-00000101 (2 bytes)"),
            std::string::npos);
  EXPECT_NE(FirmwareDetails(card).find(card.sha256), std::string::npos);

  std::string bad_text = HexFileText({HexRecordText(0, 0, Bytes(4)), kEndRecordLine});
  bad_text[10] = bad_text[10] == '0' ? '1' : '0';
  const std::string bad = dir.Write("bad.hex", bad_text);
  const FirmwareCard refused =
      DescribeFirmware(bad, LoadFirmwareFile(file, bad, FileSharing::kSharedRead));
  EXPECT_FALSE(refused.loaded);
  EXPECT_EQ(LinesOf(refused),
            (FirmwareLines{"bad.hex", "The HEX file has an error. Line 1: checksum mismatch.", "",
                           true}));
  EXPECT_EQ(LinesOf(FirmwareCard{}).name,
            "No firmware chosen: File, Open..., or drop a HEX file here.");
}

// ---- Port list -------------------------------------------------------------------------

PortInfo Port(int number, const std::string& serial, const std::string& description = "",
              const std::string& maker = "") {
  PortInfo port;
  port.Name = "COM" + std::to_string(number);
  port.Number = number;
  port.Serial = serial;
  port.Description = description;
  port.Manufacturer = maker;
  return port;
}

TEST(PortChoice, ChosenPortsAreTickedByNameOrSerialAndAbsentOnesKept) {
  const std::vector<PortInfo> present = {Port(1, ""), Port(5, "FT5K", "USB Serial Port", "FTDI"),
                                         Port(6, "A1", "FTDI USB UART", "FTDI")};
  const std::vector<PortEntry> entries =
      PortEntries(present, {"serial=ft5k", "\\\\.\\COM6", "COM9", "serial=GONE"});
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0], (PortEntry{"COM1", "", "", true, false, false}));
  EXPECT_EQ(entries[1], (PortEntry{"COM5", "USB Serial Port (FTDI)", "FT5K", true, true, true}));
  EXPECT_EQ(entries[2], (PortEntry{"COM6", "FTDI USB UART", "A1", true, true, false}));
  EXPECT_EQ(entries[3], (PortEntry{"COM9", "", "", false, true, false}));
  EXPECT_EQ(entries[4], (PortEntry{"", "", "GONE", false, true, true}));
  EXPECT_EQ(ChosenPorts(entries), (Texts{"serial=FT5K", "COM6", "COM9", "serial=GONE"}));
  using Cells = std::array<std::string, 4>;
  EXPECT_EQ(PortCells(entries[1]),
            (Cells{"COM5", "USB Serial Port (FTDI)", "FT5K", "serial number"}));
  EXPECT_EQ(PortCells(entries[3]), (Cells{"COM9", "(not present)", "", "COM name"}));
  EXPECT_EQ(PortCells(entries[4]), (Cells{"-", "(not present)", "GONE", "serial number"}));
  // The list shows rows 1 and 2: the ticked ones above and below are told.
  EXPECT_EQ(TickedOutOfView(entries, 1, 2), "2 ticked ports out of view: COM9, serial=GONE");
  EXPECT_EQ(TickedOutOfView(entries, 2, 3), "1 ticked port out of view: serial=FT5K");
  EXPECT_EQ(TickedOutOfView(entries, 0, 5), "");
}

// tarvex-flash.exe reads back exactly the ports it was given, however
// they are spelt.
TEST(TuneParameters, EachArgumentComesBackWhole) {
  EXPECT_EQ(QuotedArgument("COM5"), "COM5");
  EXPECT_EQ(QuotedArgument(""), R"("")");
  EXPECT_EQ(QuotedArgument("serial=AB 12"), R"("serial=AB 12")");
  EXPECT_EQ(QuotedArgument(R"(a"b)"), R"("a\"b")");
  EXPECT_EQ(QuotedArgument(R"(\\.\COM5)"), R"(\\.\COM5)");  // no quote: backslashes as they are
  EXPECT_EQ(QuotedArgument(R"(x y\)"), R"("x y\\")");
  EXPECT_EQ(QuotedArgument(R"(x\"y z)"), R"("x\\\"y z")");
}

}  // namespace
