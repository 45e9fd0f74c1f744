// The logic of tarvex-flash that needs no port: reading the command line,
// the reports, the screens, the file check and the hash of the
// traceability log.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "cli/FlashPlan.h"
#include "cli/HexSummary.h"
#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "cli/Report.h"
#include "cli/StationReport.h"
#include "cli/StationView.h"
#include "cli/Table.h"
#include "cli/TuneReport.h"
#include "common/DosDevice.h"
#include "common/Sha256.h"
#include "common/VisibleText.h"
#include "engine/Hexproc.h"
#include "station/Advice.h"
#include "station/ExitCode.h"
#include "station/Job.h"
#include "station/JsonText.h"
#include "station/LogRecord.h"
#include "station/ReplyLatency.h"
#include "station/Station.h"
#include "station/TraceLog.h"
#include "tests/support/ComPorts.h"
#include "tests/support/HexText.h"
#include "tests/support/PagerJobs.h"
#include "tests/support/ScriptedPager.h"
#include "tests/support/VirtualClock.h"

namespace {

using Texts = std::vector<std::string>;

Texts LinesOf(const std::string& text) {
  Texts lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct CommandLineCase {
  std::vector<const char*> args;
  ExitCode code;
  bool done;
  std::vector<std::string> ports;
  int baud;
  // For a refusal: what the error line must say after the program's name.
  std::string error = "";
  int resend = 3;
  bool station = false;
  int count = 0;
  bool tune = false;
  std::string station_name = "";
};

// P1, P2, ... Pn, and the arguments that give them, then the file.
std::vector<std::string> PortNames(int n) {
  std::vector<std::string> names;
  for (int i = 1; i <= n; ++i) names.push_back(fmt::format("P{}", i));
  return names;
}
std::vector<const char*> ManyPorts(int n) {
  static std::vector<std::string> names = PortNames(100);
  std::vector<const char*> args;
  for (int i = 0; i < n; ++i) {
    args.push_back("-p");
    args.push_back(names[i].c_str());
  }
  args.push_back("fw.hex");
  return args;
}

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, IsReadIntoAPlanOrRefused) {
  std::vector<const char*> argv = {"tarvex-flash"};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(parsed.done, GetParam().done) << parsed.err;
  EXPECT_EQ(parsed.code, GetParam().code);
  if (parsed.code == ExitCode::kUsage) {
    EXPECT_TRUE(parsed.err.starts_with("tarvex-flash: " + GetParam().error)) << parsed.err;
    EXPECT_EQ(parsed.out, "");
  }
  if (!parsed.done) {
    EXPECT_EQ(parsed.plan.ports, GetParam().ports);
    EXPECT_EQ(parsed.plan.baud, GetParam().baud);
    EXPECT_EQ(parsed.plan.resend, GetParam().resend);
    EXPECT_EQ(parsed.plan.station, GetParam().station);
    EXPECT_EQ(parsed.plan.count, GetParam().count);
    EXPECT_EQ(parsed.plan.tune_adapters, GetParam().tune);
    EXPECT_EQ(parsed.plan.station_name, GetParam().station_name);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    ::testing::Values(
        CommandLineCase{{"-p", "COM7", "fw.hex"}, ExitCode::kFinished, false, {"COM7"}, 4800},
        CommandLineCase{{"-p", "A", "--port", "B", "-b", "9600", "fw.hex"},
                        ExitCode::kFinished,
                        false,
                        {"A", "B"},
                        9600},
        CommandLineCase{{"--check", "fw.hex"}, ExitCode::kFinished, false, {}, 4800},
        // The window's "never": the first rejection ends the update.
        CommandLineCase{
            {"-p", "A", "-r", "0", "fw.hex"}, ExitCode::kFinished, false, {"A"}, 4800, "", 0},
        CommandLineCase{{"-l"}, ExitCode::kFinished, false, {}, 4800},
        CommandLineCase{{"--help"}, ExitCode::kFinished, true, {}, 0},
        CommandLineCase{{"--version"}, ExitCode::kFinished, true, {}, 0},
        CommandLineCase{{"-p", "A", "-b", "1200", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--baud takes 2400, 4800 or 9600, not 1200"},
        CommandLineCase{{"-p", "A", "-r", "-1", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--resend takes a number from 0 to 99, not -1"},
        CommandLineCase{{"-p", "A", "-r", "3x", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--resend takes a number from 0 to 99, not 3x"},
        // An empty log would mean no log at all, and pagers unrecorded.
        CommandLineCase{{"-p", "A", "--log", "", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--log needs a file name"},
        CommandLineCase{{"-p", "A", "--log", " ", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--log needs a file name"},
        CommandLineCase{ManyPorts(64), ExitCode::kFinished, false, PortNames(64), 4800},
        CommandLineCase{ManyPorts(65),
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "a bench takes at most 64 ports; 65 were given"},
        CommandLineCase{{"-p", "A", "-p", "A", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "the port A is given twice"},
        CommandLineCase{
            {"-p", "", "fw.hex"}, ExitCode::kUsage, true, {}, 0, "a port name is empty"},
        CommandLineCase{{"-p", "A", "-p", " \t", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "a port name is empty"},
        CommandLineCase{{"-p", "A", "-b", "2400", "--baud", "9600", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--baud is given more than once"},
        CommandLineCase{{"fw.hex", "-p"}, ExitCode::kUsage, true, {}, 0, "--port needs a value"},
        CommandLineCase{{"-p", "A"}, ExitCode::kUsage, true, {}, 0, "a FILE.hex is required"},
        CommandLineCase{{"fw.hex"}, ExitCode::kUsage, true, {}, 0, "at least one --port"},
        CommandLineCase{{"-q", "-v", "-p", "A", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--quiet and --verbose cannot be given together"},
        CommandLineCase{{"-p", "A", "B", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "one FILE.hex only: fw.hex is a second one"},
        // An unknown option is named, not the file after it, with the one it
        // most likely meant.
        CommandLineCase{{"-P", "COM7", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "unknown option -P; did you mean -p?\n"},
        CommandLineCase{{"--prot=COM7", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "unknown option --prot; did you mean --port?\n"},
        CommandLineCase{{"--list"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "unknown option --list; did you mean --list-ports?\n"},
        CommandLineCase{{"--baudrate", "9600", "-p", "A", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "unknown option --baudrate; did you mean --baud?\n"},
        CommandLineCase{{"-x", "fw.hex"}, ExitCode::kUsage, true, {}, 0, "unknown option -x\n"},
        CommandLineCase{{"--frobnicate", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "unknown option --frobnicate\n"},
        // --list-ports does nothing with a file or a port: refused, not ignored.
        CommandLineCase{{"-l", "/dev/ttyUSB0"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--list-ports takes no file, but /dev/ttyUSB0 was given"},
        CommandLineCase{{"-l", "-p", "COM7"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--list-ports cannot be given with --port"},
        // Tuning takes ports, or none for every adapter, and nothing else.
        CommandLineCase{{"--tune-adapters", "-p", "COM5", "-p", "serial=FT12AB34"},
                        ExitCode::kFinished,
                        false,
                        {"COM5", "serial=FT12AB34"},
                        4800,
                        "",
                        3,
                        false,
                        0,
                        true},
        CommandLineCase{
            {"--tune-adapters"}, ExitCode::kFinished, false, {}, 4800, "", 3, false, 0, true},
        CommandLineCase{{"--tune-adapters", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--tune-adapters takes no file, but fw.hex was given"},
        CommandLineCase{{"--tune-adapters", "-p", "COM5", "-b", "9600"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--tune-adapters cannot be given with --baud"},
        CommandLineCase{
            {"--tune-adapters", "-p", ""}, ExitCode::kUsage, true, {}, 0, "a port name is empty"},
        // A station, and a port named by its adapter (found when the ports are listed).
        CommandLineCase{{"--station", "-p", "A", "-p", "serial=FT12AB34", "--count", "6", "fw.hex"},
                        ExitCode::kFinished,
                        false,
                        {"A", "serial=FT12AB34"},
                        4800,
                        "",
                        3,
                        true,
                        6},
        CommandLineCase{{"--station", "-p", "A", "fw.hex"},
                        ExitCode::kFinished,
                        false,
                        {"A"},
                        4800,
                        "",
                        3,
                        true},
        CommandLineCase{{"-p", "A", "--count", "2", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--count needs --station"},
        // The bench's name in its log lines; nothing else takes it.
        CommandLineCase{
            {"--station", "-p", "A", "--log", "d.jsonl", "--station-name", "LINE3-B2", "fw.hex"},
            ExitCode::kFinished,
            false,
            {"A"},
            4800,
            "",
            3,
            true,
            0,
            false,
            "LINE3-B2"},
        CommandLineCase{{"-p", "A", "--station-name", "LINE3-B2", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--station-name needs --log"},
        CommandLineCase{{"-p", "A", "--log", "d.jsonl", "--station-name", " ", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--station-name needs a name"},
        CommandLineCase{{"--check", "--station-name", "B2", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--check cannot be given with --station-name"},
        CommandLineCase{{"--station", "-p", "A", "--count", "0", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--count takes a number from 1 to 1000000, not 0"},
        CommandLineCase{{"--station", "--check", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--station and --check cannot be combined"},
        CommandLineCase{{"-l", "--json"}, ExitCode::kFinished, false, {}, 4800},
        // An adapter's serial number left out is said so, not looked for.
        CommandLineCase{{"-p", "serial=", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "serial= needs the adapter's serial number, as --list-ports shows it"},
        // --check sends nothing: what only an update uses is refused.
        CommandLineCase{{"--check", "--log", "day.jsonl", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--check cannot be given with --log"},
        CommandLineCase{{"--check", "-r", "5", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--check cannot be given with --resend"},
        CommandLineCase{{"--check", "-p", "COM5", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--check cannot be given with --port"},
        CommandLineCase{
            {"--check", "-b", "9600", "--json", "fw.hex"}, ExitCode::kFinished, false, {}, 9600},
        // A job: made apart from any flashing, taken with its key.
        CommandLineCase{{"--make-job", "j.json", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--make-job needs --quota N"},
        CommandLineCase{{"--make-job", "j.json", "--quota", "3", "-p", "A", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--make-job cannot be given with --port"},
        CommandLineCase{
            {"--make-job", "j.json", "--quota", "3", "--expires", "2026-02-30", "fw.hex"},
            ExitCode::kUsage,
            true,
            {},
            0,
            "--expires takes a day as YYYY-MM-DD"},
        CommandLineCase{{"-p", "A", "--quota", "3", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--quota needs --make-job"},
        CommandLineCase{{"-p", "A", "--job", "j.json", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--job needs --job-key"},
        CommandLineCase{{"-p", "A", "--set-aside-after", "2", "fw.hex"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--set-aside-after needs --station"},
        // A name in a usage error cannot act on the terminal.
        CommandLineCase{{"-l", "x\x1b[2J\ny"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--list-ports takes no file, but x\\x1b[2J\\ny was given\n"}));

std::string HelpText(std::size_t columns = kHelpColumns) {
  const char* argv[] = {"tarvex-flash", "--help"};
  return ParseCommandLine(2, argv, columns).out;
}

// Every spelling of a port, every DOS name that leads to its device, and
// serial= of its adapter are that port: given twice, refused before anything
// opens. The system's table of DOS names as QueryDosDeviceW gives it; COM9 and
// GHOST are in no table now (no adapter), yet each is still one port.
TEST(CommandLine, OnePortUnderTwoNamesIsGivenTwice) {
  const std::map<std::string, std::string> dos_names = {{"COM7", R"(\Device\Serial6)"},
                                                        {"COM8", R"(\Device\Serial7)"},
                                                        {"PAGER", R"(\??\COM7)"},
                                                        {"LOOP", R"(\??\LOOP)"}};
  const auto identity = [&](const std::string& port) {
    return DosPortIdentity(port, [&](const std::string& name) {
      const auto found = dos_names.find(name);
      return found == dos_names.end() ? std::string() : found->second;
    });
  };
  const std::vector<PortInfo> present = {ComPort(7, "FT5KQ2R7A"), ComPort(8, "")};
  const std::pair<std::string, std::string> same[] = {{"COM7", "com07"},
                                                      {"COM7", "COM7:"},
                                                      {"COM7", R"(\\.\COM7)"},
                                                      {"COM7", R"(\\?\COM7)"},
                                                      {"COM7", "//./COM7"},
                                                      {"COM7", R"(\??\COM7)"},
                                                      {"COM7", "PAGER"},
                                                      {"COM7", R"(\\.\pager:)"},
                                                      {"COM7", "serial=ft5kq2r7a"},
                                                      {"PAGER", "serial=FT5KQ2R7A"},
                                                      {"COM9", "com09"},
                                                      {"COM9", R"(\\.\COM9)"},
                                                      {"GHOST", R"(\\.\ghost:)"},
                                                      {"serial=LATE1", "serial=late1"}};
  for (const auto& [first, second] : same) {
    EXPECT_EQ(SamePortTwice({"COM12", first, second}, present, identity),
              "the port " + first + " is given twice (also as " + second + ")");
  }
  const std::pair<std::string, std::string> distinct[] = {{"COM7", "COM8"},
                                                          {"COM7", "COM17"},
                                                          {"COM9", "serial=LATE1"},
                                                          {"COM8", "serial=FT5KQ2R7A"},
                                                          {"LOOP", "COM7"},
                                                          {R"(C:\ports\COM7)", "COM7"},
                                                          {"serial=LATE1", "serial=LATE2"}};
  for (const auto& [first, second] : distinct) {
    EXPECT_EQ(SamePortTwice({first, second}, present, identity), "") << first << " " << second;
  }
  EXPECT_EQ(identity("LOOP"), "LOOP");  // a name defined as itself ends too
}

// The devices Windows opens in place of files, so neither a log nor a
// firmware file is ever read or written on one.
TEST(CommandLine, DeviceNamesAreKnownInEveryFolderAndSpelling) {
  const std::pair<const char*, const char*> names[] = {
      {"CON.hex", "CON"},      {R"(C:\fw\com5.hex)", "COM5"},
      {"nul", "NUL"},          {"COM7:", "COM7"},
      {"con .txt", "CON"},     {"LPT1.log", "LPT1"},
      {"CONOUT$", "CONOUT$"},  {R"(\\.\COM12)", "COM12"},
      {R"(\\?\COM7)", "COM7"}, {"C:nul", "NUL"},
      {"console.hex", ""},     {"COM10", ""},
      {"fw.hex", ""},          {R"(\\?\C:\logs\nul)", ""},
      {"//./COM12", "COM12"},  {R"(\??\COM12)", "COM12"},
      {"//?/C:/logs/nul", ""}};
  for (const auto& [name, device] : names) EXPECT_EQ(DosDeviceOf(name), device) << name;
}

TEST(CommandLineHelp, ListsEveryExitCode) {
  const std::string help = HelpText();
  for (const int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 130}) {
    EXPECT_NE(help.find(fmt::format(" {}  ", code)), std::string::npos) << code;
  }
}

// One line per option, every line within a terminal's 80 columns, FILE.hex
// shown as required, and none of the parser's notation.
TEST(CommandLineHelp, OneLinePerOptionInTheProgramsOwnWords) {
  const std::string help = HelpText();
  EXPECT_TRUE(help.starts_with("Usage: tarvex-flash [options] -p PORT FILE.hex\n")) << help;
  std::istringstream lines(help);
  int option_lines = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(DisplayWidth(line), 80u) << line;
    if (!line.starts_with("  -") && !line.starts_with("      --")) continue;
    ++option_lines;
  }
  EXPECT_EQ(option_lines, 22);
  for (const char* option :
       {"-p, --port PORT  ", "-b, --baud RATE  ",       "-r, --resend N  ",
        "    --check  ",     "-l, --list-ports  ",      "    --tune-adapters  ",
        "    --json  ",      "    --station  ",         "    --count N  ",
        "    --log FILE  ",  "    --station-name NAME", "    --set-aside-after N  ",
        "    --job JOB  ",   "    --job-key KEY  ",     "    --make-job JOB  ",
        "    --quota N  ",   "    --expires DAY  ",     "    --job-name NAME  ",
        "-q, --quiet  ",     "-v, --verbose  ",         "    --version  ",
        "-h, --help  "}) {
    EXPECT_NE(help.find("\n  " + std::string(option)), std::string::npos) << option;
  }
  for (const char* internal : {"INT", "[0 - 99]", "Excludes", "FILE FILE.hex", "[FILE]", "{"}) {
    EXPECT_EQ(help.find(internal), std::string::npos) << internal;
  }
}

// On a narrow terminal every line is wrapped to its width, an option's
// words and an exit code's meaning going on below themselves.
TEST(CommandLineHelp, IsWrappedToTheTerminalWithAHangingIndent) {
  const std::string help = HelpText(40);
  for (const std::string& line : LinesOf(help)) EXPECT_LE(DisplayWidth(line), 40u) << line;
  EXPECT_NE(help.find("  -b, --baud RATE          the rate:\n"
                      "                           2400, 4800 or\n"
                      "                           9600 bit/s\n"
                      "                           (default\n"),
            std::string::npos)
      << help;
  EXPECT_NE(help.find("    2  usage             bad usage\n"
                      "                         (options, or\n"),
            std::string::npos)
      << help;
  EXPECT_NE(help.find("       tarvex-flash --station [--count\n"
                      "                    N] [options] -p PORT\n"),
            std::string::npos)
      << help;
}

TEST(Sha256, StandardVectors) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

std::shared_ptr<const CheckedFirmware> Checked(const std::string& text) {
  std::string reason;
  auto firmware = CheckedFirmware::Check(text, reason);
  EXPECT_NE(firmware, nullptr) << reason;
  return firmware;
}

TEST(HexSummary, CountsRecordsBytesRangesAndLineTime) {
  const std::string text = HexFileText(
      {HexRecordText(0, 4, {0x00, 0x01}), HexRecordText(0x0000, 0, Bytes(16)),
       HexRecordText(0x0010, 0, Bytes(4)), HexRecordText(0x0100, 0, Bytes(2)),
       HexRecordText(0, 2, {0x30, 0x00}), HexRecordText(0x0000, 0, Bytes(1)), kEndRecordLine});
  const auto firmware = Checked(text);
  ASSERT_NE(firmware, nullptr);
  const HexSummary summary = SummarizeHex(*firmware);
  ASSERT_TRUE(summary.sound);
  EXPECT_EQ(summary.records, 6);
  EXPECT_EQ(summary.data_bytes, 23u);
  EXPECT_EQ(summary.ranges, (std::vector<AddressRange>{
                                {0x10000, 0x10013}, {0x10100, 0x10101}, {0x30000, 0x30000}}));
  // "f" and the rate command at 1200; "e0", six records with "p", "q" at 9600.
  const std::uint64_t records_chars = 15 + 43 + 19 + 15 + 15 + 13;
  EXPECT_EQ(summary.bytes_at_start_rate, 10u);
  EXPECT_EQ(summary.bytes_at_chosen_rate, 5u + 6 * 4 + records_chars);
  EXPECT_DOUBLE_EQ(LineSeconds(summary, 9600), 100.0 / 1200 + (29.0 + records_chars) * 10 / 9600);
}

TEST(HexSummary, ABadFileGivesTheEnginesReason) {
  std::string reason;
  EXPECT_EQ(CheckedFirmware::Check(":0400000001020304F3\r\n", reason), nullptr);
  EXPECT_EQ(reason, "Line 1: checksum mismatch.");
  const HexSummary summary = UnsoundHex(reason);
  // Read whole and refused by its check: a file with an error, not one that
  // could not be opened; and what to do about it.
  EXPECT_EQ(FormatHexSummary("fw.hex", summary, 9600),
            "fw.hex: The HEX file has an error.\nLine 1: checksum mismatch.\nThe file is damaged "
            "or is not the firmware: get a fresh copy; tarvex-flash --check tells whether a copy "
            "is sound.\n");
  const auto json = nlohmann::json::parse(JsonHexSummary("bad.hex", summary, 4800));
  EXPECT_EQ(json.at("sound"), false);
  EXPECT_EQ(json.at("message"), "The HEX file has an error.");
  EXPECT_EQ(json.at("error"), "Line 1: checksum mismatch.");
  EXPECT_FALSE(json.contains("records"));
}

TEST(HexSummary, JsonCarriesTheFiguresOfTheText) {
  const std::string text = HexFileText(
      {HexRecordText(0x0100, 0, Bytes(16)), HexRecordText(0x0200, 0, Bytes(2)), kEndRecordLine});
  const auto firmware = Checked(text);
  ASSERT_NE(firmware, nullptr);
  const HexSummary summary = SummarizeHex(*firmware);
  const std::string line = JsonHexSummary("fw.hex", summary, 2400);
  ASSERT_TRUE(line.ends_with("}\n")) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  const auto json = nlohmann::json::parse(line);
  EXPECT_EQ(json.at("event"), "check");
  EXPECT_EQ(json.at("file"), "fw.hex");
  EXPECT_EQ(json.at("sound"), true);
  EXPECT_EQ(json.at("records"), 2);
  EXPECT_EQ(json.at("data_bytes"), 18);
  EXPECT_EQ(json.at("ranges"), nlohmann::json::parse(R"([{"first":256,"last":271,"bytes":16},
                                                          {"first":512,"last":513,"bytes":2}])"));
  EXPECT_EQ(json.at("baud"), 2400);
  EXPECT_NEAR(json.at("line_seconds").get<double>(), LineSeconds(summary, 2400), 0.0005);
}

TEST(ListPorts, AdapterSerialByComNumberAndNothingFoundSaysSo) {
  PortInfo com12;
  com12.Name = "COM12";
  com12.Number = 12;
  com12.Serial = "FT5XK2LB";
  EXPECT_EQ(AdapterSerialOf("\\\\.\\COM12", {com12}), "FT5XK2LB");
  EXPECT_EQ(AdapterSerialOf("COM1", {com12}), "");
  EXPECT_EQ(AdapterSerialFor("serial=later", "", {com12}), "later")
      << "known before it is plugged in";
  EXPECT_EQ(AdapterSerialFor("serial=ft5xk2lb", "COM12", {com12}), "FT5XK2LB");
  EXPECT_EQ(FormatPortList({}, false), "No serial ports found.\n");
  // The adapter's latency timer where the system shows it.
  com12.LatencyTimerMs = 16;
  EXPECT_NE(FormatPortList({com12}, false).find("latency timer 16 ms"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(FormatPortList({com12}, true)).at("latency_timer_ms"), 16);
}

TEST(ListPorts, SerialFormNamesThePortOfThatAdapterOrSaysWhatIsThere) {
  const std::vector<PortInfo> ports = {ComPort(3, ""), ComPort(7, "FT12AB34"),
                                       ComPort(12, "A600ARJH")};
  // Windows shows serial numbers upper-cased; the user may type them as printed.
  EXPECT_EQ(ResolvePort("serial=ft12AB34", ports).name, "COM7");
  EXPECT_EQ(ResolvePort("COM3", ports).name, "COM3");
  EXPECT_EQ(ResolvePort("COM99", ports).name, "COM99");  // opened as given; may fail then
  EXPECT_TRUE(NamesAdapterSerial("serial=X"));
  EXPECT_FALSE(NamesAdapterSerial("/dev/serial/by-id/usb-FTDI"));
  const PortMatch missing = ResolvePort("serial=FT99", ports);
  EXPECT_EQ(missing.name, "");
  EXPECT_EQ(missing.error,
            "no port has an adapter with the serial number FT99; the ports present: COM3 (no "
            "serial number), COM7 (FT12AB34), COM12 (A600ARJH)");
  EXPECT_NE(ResolvePort("serial=", ports).error, "");  // no number: not the ports without one
  const PortMatch twice =
      ResolvePort("serial=FT12AB34", {ComPort(7, "FT12AB34"), ComPort(9, "FT12AB34")});
  EXPECT_EQ(twice.name, "");
  EXPECT_EQ(twice.error, "2 ports have an adapter with the serial number FT12AB34: COM7, COM9");
  EXPECT_EQ(ResolvePort("serial=FT12AB34", {}).error,
            "no port has an adapter with the serial number FT12AB34; no serial ports are present");
}

AdapterTimer Timer(const char* port, const char* serial, int before, int after, bool written) {
  AdapterTimer timer;
  timer.port = port;
  timer.serial = serial;
  timer.before_ms = before;
  timer.after_ms = after;
  timer.written = written;
  return timer;
}

TuningReport Tuned(TuningOutcome outcome, std::vector<AdapterTimer> adapters, const char* port = "",
                   const char* reason = "") {
  return TuningReport{outcome, std::move(adapters), port, reason};
}

struct TuneOutputCase {
  TuningReport report;
  ExitCode code;
  std::string out;
  std::string err;
};

class TuneOutputOf : public ::testing::TestWithParam<TuneOutputCase> {};

// Each adapter set, old and new, and the replug only when one was set; a
// port that is no FTDI adapter, or a refusal, on stderr with its code.
TEST_P(TuneOutputOf, SaysWhatChangedAndWhatToDoNext) {
  const TuneOutput output = RegistryTuningOutput(GetParam().report);
  EXPECT_EQ(output.code, GetParam().code);
  EXPECT_EQ(output.out, GetParam().out);
  EXPECT_EQ(output.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, TuneOutputOf,
    ::testing::Values(
        TuneOutputCase{
            Tuned(TuningOutcome::kDone,
                  {Timer("COM5", "FT5KQ2R7A", 16, 1, true), Timer("COM7", "FT12AB34", 1, 1, false),
                   Timer("COM8", "", -1, 1, true)}),
            ExitCode::kFinished,
            "COM5, adapter FT5KQ2R7A: latency timer set from 16 ms to 1 ms.\n"
            "COM7, adapter FT12AB34: latency timer already 1 ms.\n"
            "COM8: latency timer set from the driver's default (16 ms) to 1 ms.\n"
            "Unplug each adapter set above and plug it back in: its driver takes the new timer "
            "when the adapter starts again.\n",
            ""},
        TuneOutputCase{Tuned(TuningOutcome::kDone, {Timer("COM7", "FT12AB34", 1, 1, false)}),
                       ExitCode::kFinished, "COM7, adapter FT12AB34: latency timer already 1 ms.\n",
                       ""},
        TuneOutputCase{Tuned(TuningOutcome::kDone, {}), ExitCode::kFinished,
                       "No FTDI adapter is plugged in: nothing to set. Adapters of other makers "
                       "have no latency timer to set.\n",
                       ""},
        TuneOutputCase{
            Tuned(TuningOutcome::kNotFtdi, {}, "COM6", "Silicon Labs CP210x USB to UART Bridge"),
            ExitCode::kUsage, "",
            "tarvex-flash: COM6 is not an FTDI adapter (Silicon Labs CP210x USB to UART Bridge): "
            "it has no latency timer. Nothing was changed; tarvex-flash --list-ports shows "
            "the ports and their latency timers.\n"},
        TuneOutputCase{Tuned(TuningOutcome::kMissing, {}, "COM9"), ExitCode::kUsage, "",
                       "tarvex-flash: COM9 is not present. Nothing was changed; tarvex-flash "
                       "--list-ports shows the ports and their latency timers.\n"},
        TuneOutputCase{
            Tuned(TuningOutcome::kRefused, {Timer("COM5", "FT5KQ2R7A", 16, 16, false)}, "COM5",
                  "Access is denied"),
            ExitCode::kInternal, "",
            "tarvex-flash: Windows refused to change the latency timer of COM5 (Access is "
            "denied): run it from an administrator prompt.\n"}));

// On Linux each adapter's timer as read back with its port open, and where
// low latency did not take, the remedy for that port.
TEST(TuneOutputOf, LinuxCheckNamesThePortsWhereLowLatencyDidNotTake) {
  AdapterTimer failed = Timer("/dev/ttyUSB2", "", 16, -1, false);
  failed.error = "The port is in use by another program.";
  const TuneOutput output =
      LowLatencyCheckOutput(Tuned(TuningOutcome::kNotTaken,
                                  {Timer("/dev/ttyUSB0", "FTA", 16, 1, false),
                                   Timer("/dev/ttyUSB1", "FTB", 16, 16, false), failed},
                                  "/dev/ttyUSB1"));
  EXPECT_EQ(output.code, ExitCode::kInternal);
  EXPECT_NE(output.out.find("/dev/ttyUSB0, adapter FTA: latency timer 1 ms while the port is "
                            "open, as asked.\n"),
            std::string::npos)
      << output.out;
  EXPECT_NE(output.out.find("/dev/ttyUSB1, adapter FTB: latency timer 16 ms while the port is "
                            "open, though low latency was asked for; " +
                            LatencyTimerRemedy("/dev/ttyUSB1", 16) + ".\n"),
            std::string::npos)
      << output.out;
  EXPECT_NE(output.out.find("/dev/ttyUSB2: cannot be opened: The port is in use"),
            std::string::npos)
      << output.out;
  EXPECT_EQ(LowLatencyCheckOutput(Tuned(TuningOutcome::kFailed, {failed}, "/dev/ttyUSB2")).code,
            ExitCode::kPortNotOpened);
  EXPECT_EQ(LowLatencyCheckOutput(Tuned(TuningOutcome::kNotFtdi, {}, "/dev/ttyUSB1")).code,
            ExitCode::kUsage);
}

TEST(Progress, TenthsAndEta) {
  EXPECT_TRUE(CrossesTenth(9, 10));
  EXPECT_TRUE(CrossesTenth(0, 25));
  EXPECT_FALSE(CrossesTenth(10, 19));
  PortProgress progress;
  EXPECT_LT(EtaSeconds(progress), 0);
  progress.percent = 25;
  progress.transfer_seconds = 10;
  EXPECT_DOUBLE_EQ(EtaSeconds(progress), 30);
  EXPECT_EQ(StageName(StageOfState(stProgram)), StageName(StageOfState(stSendPackage)));
}

// Before the first record the line tells no rate and no time left (the
// driver takes the first commands faster than the line carries them); every
// column starts where it does on every other line, whatever the stage.
TEST(Progress, LineShowsOnlyWhatIsKnownInFixedColumns) {
  PortProgress start{"COM5", StageName(UpdateStage::kEnterFlash), 0, 0, 164, 0.002, 0.0, 11};
  PortProgress erase{"COM5", StageName(UpdateStage::kErase), 0, 0, 164, 1.1, 0.0, 40};
  PortProgress transfer{"COM5", StageName(UpdateStage::kTransfer), 50, 82, 164, 4.0, 3.5, 3600};
  PortProgress last{"COM5", StageName(UpdateStage::kExitFlash), 100, 164, 164, 8.0, 7.5, 7200};
  // A pager that is done shows its outcome where the stage was.
  PortProgress ended{"COM5", "rewinds-exceeded", 40, 65, 164, 8.0, 7.5, 7200};
  const std::string before = FormatProgressLine(start, 6);
  EXPECT_EQ(before, "COM5    enter-flash        0%        0/164 records") << before;
  EXPECT_EQ(FormatProgressLine(erase, 6), "COM5    erase              0%        0/164 records");
  const std::string during = FormatProgressLine(transfer, 6);
  EXPECT_EQ(during, "COM5    transfer          50%       82/164 records    900 B/s  ETA 0:04");
  EXPECT_EQ(FormatProgressLine(last, 6),
            "COM5    exit-flash       100%      164/164 records    900 B/s  ETA 0:00");
  EXPECT_EQ(during.find(" records"), before.find(" records"));
  EXPECT_EQ(FormatProgressLine(ended, 6).find(" records"), before.find(" records"));
  // Nor does its JSON form tell a rate before the first record.
  EXPECT_TRUE(nlohmann::json::parse(JsonProgress(start)).at("bytes_per_second").is_null());
  EXPECT_EQ(nlohmann::json::parse(JsonProgress(transfer)).at("bytes_per_second"), 900);
}

// Names from outside as people are shown them: what would act on a terminal
// or in a box is written out, the rest stays as it was typed.
struct ShownNameCase {
  const char* name;
  std::string given;
  std::string shown;
};

void PrintTo(const ShownNameCase& c, std::ostream* out) { *out << c.name; }

class ShownName : public ::testing::TestWithParam<ShownNameCase> {};

TEST_P(ShownName, ShowsWhatWouldActAsText) {
  const std::string shown = VisibleText(GetParam().given);
  EXPECT_EQ(shown, GetParam().shown);
  EXPECT_EQ(VisibleText(shown), shown);  // shown once, shown so again
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShownName,
    ::testing::Values(ShownNameCase{"WindowTitle", "fw\x1b]0;pwned\x07.hex",
                                    "fw\\x1b]0;pwned\\x07.hex"},
                      ShownNameCase{"ForgedLine", "a.hex\nCOM5: Firmware updated finished.",
                                    "a.hex\\nCOM5: Firmware updated finished."},
                      ShownNameCase{"TabReturnDelete", "a\tb\rc\x7f", "a\\tb\\rc\\x7f"},
                      ShownNameCase{"EightBitCsi",
                                    "a\xc2\x9b"
                                    "2Jb",
                                    "a\\u009b2Jb"},
                      ShownNameCase{"RightToLeftOverride",
                                    "fw\xe2\x80\xae"
                                    "xeh.exe",
                                    "fw\\u202exeh.exe"},
                      // The isolates, up to the pop of U+2069, turn a line around too.
                      ShownNameCase{"DirectionIsolates",
                                    "fw\xe2\x81\xa6"
                                    "a\xe2\x81\xa9.hex",
                                    "fw\\u2066a\\u2069.hex"},
                      ShownNameCase{"NotUtf8", "fw\xff\xe2\x82.hex", "fw\\xff\\xe2\\x82.hex"},
                      ShownNameCase{"AnyScript", "\xc5\x81\xc3\xb3\x64\xc5\xba \xe6\x97\xa5.hex",
                                    "\xc5\x81\xc3\xb3\x64\xc5\xba \xe6\x97\xa5.hex"},
                      ShownNameCase{"WindowsPath", R"(C:\fw\x1b.hex)", R"(C:\fw\x1b.hex)"}),
    [](const auto& info) { return std::string(info.param.name); });

// What a terminal of 80 or 40 columns shows (one column kept free): no line
// wider, long port names shortened in the middle, columns dropped in their
// order.
struct WidthCase {
  const char* name;
  std::size_t columns;
  Texts lines;
  // The port of the bench row that is flashing.
  std::string busy_port = "/dev/ttyUSB0";
};

void PrintTo(const WidthCase& c, std::ostream* out) { *out << c.name; }

const std::string kLongPort = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ARJH-if00-port0";

Texts ScreensAt(std::size_t columns, const std::string& busy_port) {
  const PortProgress going{"COM5", "transfer", 42, 120, 289, 12.5, 11.0, 9000};
  const PortProgress waiting{kLongPort, "erase", 0, 0, 289, 1, 0, 20};
  const PortResult finished{
      "COM5", "A600ARJH", ExitCode::kFinished, msgFinished.Text, 10.0, 8000, 164, 8.14, 0.6071, ""};
  const PortResult failed{
      kLongPort, "", ExitCode::kRewindsExceeded, msgRewindExceeded.Text, 1.5, 1, 0, -1, -1, ""};
  StationRow busy;
  busy.port = busy_port;
  busy.adapter_serial = "FT12AB34";
  busy.state = PortState::kFlashing;
  busy.percent = 42;
  StationRow idle;
  idle.port = "COM7";
  idle.state = PortState::kRemove;
  idle.number = 12;
  idle.last = ExitCode::kRewindsExceeded;
  idle.last_time = "14:01:50";
  Texts lines = FormatProgressRows({going, waiting}, columns);
  const Texts table = LinesOf(FormatSummary({finished, failed}, columns));
  const Texts rows = FormatStationRows({busy, idle}, columns);
  lines.insert(lines.end(), table.begin(), table.end());
  lines.insert(lines.end(), rows.begin(), rows.end());
  return lines;
}

class Widths : public ::testing::TestWithParam<WidthCase> {};

TEST_P(Widths, EveryScreenFitsTheTerminal) {
  const Texts lines = ScreensAt(GetParam().columns, GetParam().busy_port);
  EXPECT_EQ(lines, GetParam().lines);
  for (const std::string& line : lines) EXPECT_LE(DisplayWidth(line), GetParam().columns) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Terminals, Widths,
    ::testing::Values(
        WidthCase{
            "Eighty",
            79,
            {"COM5                  transfer           42%  120/289 records   720 B/s",
             "\u2026A600ARJH-if00-port0  erase               0%    0/289 records",
             "PORT                  SERIAL    OUTCOME           SECONDS  LINE B/S  REPLY MS",
             "COM5                  A600ARJH  finished             10.0       800       8.1",
             "\u2026A600ARJH-if00-port0  -         rewinds-exceeded      1.5         1         -",
             "  Max. rewind counter exceed but still unable to program code-package.",
             "  The pager could not program its flash: set the pager aside and try another",
             "  cable.",
             "PORT          STATE                                         FINISHED  FAILED",
             "/dev/ttyUSB0  flashing 42%                                         0       0",
             "COM7          remove pager #12 (failed: rewinds-exceeded)          0       0"}},
        WidthCase{
            "Forty",
            39,
            {"COM5             transfer           42%",
             "\u2026A600ARJH-if00\u2026  erase               0%", "PORT                  OUTCOME",
             "COM5                  finished", "\u2026A600ARJH-if00-port0  rewinds-exceeded",
             "  Max. rewind counter exceed but still", "  unable to program code-package.",
             "  The pager could not program its", "  flash: set the pager aside and try",
             "  another cable.", "PORT        STATE", "/dev/\u2026USB0  flashing 42%",
             "COM7        remove pager #12 (failed: \u2026"}},
        // East Asian wide characters take two columns each: a name of them
        // is shortened by the columns it takes, not by its characters.
        WidthCase{
            "WideCharacters",
            39,
            {"COM5             transfer           42%",
             "\u2026A600ARJH-if00\u2026  erase               0%", "PORT                  OUTCOME",
             "COM5                  finished", "\u2026A600ARJH-if00-port0  rewinds-exceeded",
             "  Max. rewind counter exceed but still", "  unable to program code-package.",
             "  The pager could not program its", "  flash: set the pager aside and try",
             "  another cable.", "PORT        STATE",
             "\u65e5\u672c\u2026\u30fc\u30c8   flashing 42%",
             "COM7        remove pager #12 (failed: \u2026"},
            "\u65e5\u672c\u8a9e\u30dd\u30fc\u30c8"}),
    [](const auto& info) { return std::string(info.param.name); });

// A log line's stamp, as a log would give it.
const LineStamp kStamp{"T", "1b4e28ba-2fa1-41d2-883f-0016d3cca427", "LINE3-B2"};

TEST(Report, SummaryAndJsonNameEachPagerAndWhyItFailed) {
  PortResult good{"COM5", "A600ARJH", ExitCode::kFinished, msgFinished.Text, 10.0, 8000, 164, 8.14,
                  0.6071, ""};
  PortResult bad{"COM6", "", ExitCode::kNoResponse, msgNoResponse.Text, 1.5, 1, 0, -1, -1, ""};
  // The replies' lateness and line efficiency, or dashes where no reply
  // came; why a pager failed on a line of its own, and what to do next.
  EXPECT_EQ(FormatSummary({good, bad}),
            "PORT  SERIAL    OUTCOME      SECONDS  LINE B/S  REPLY MS  EFFICIENCY\n"
            "COM5  A600ARJH  finished        10.0       800       8.1        0.61\n"
            "COM6  -         no-response      1.5         1         -           -\n"
            "  No response from the pager, flash now terminated.\n"
            "  The pager did not answer: check that it sits firmly in its cable and has\n"
            "  power, then flash it again.\n");
  const auto good_end = nlohmann::json::parse(JsonEnd(good));
  EXPECT_EQ(good_end.at("reply_ms"), 8.1);
  EXPECT_EQ(good_end.at("line_efficiency"), 0.607);
  const auto end = nlohmann::json::parse(JsonEnd(bad));
  EXPECT_EQ(end.at("exit_code"), 5);
  EXPECT_EQ(end.at("outcome"), "no-response");
  EXPECT_TRUE(end.at("reply_ms").is_null());
  EXPECT_TRUE(end.at("line_efficiency").is_null());
  const auto summary = nlohmann::json::parse(JsonSummary({good, bad}, ExitCode::kNoResponse));
  EXPECT_EQ(summary.at("failed"), nlohmann::json::array({"COM6"}));
  // A message that ends the update badly says what to do next; one after
  // which the update goes on needs nothing.
  EXPECT_EQ(FormatMessageLine("COM6", msgNoResponse.Text, UpdateOutcome::kNoResponse),
            "COM6: No response from the pager, flash now terminated.\n  The pager did not answer: "
            "check that it sits firmly in its cable and has power, then flash it again.");
  EXPECT_EQ(FormatMessageLine("COM6", msgSendFail.Text, UpdateOutcome::kNone),
            "COM6: Fail to send code-package.");
  // A message keeps its lines; a name in it or before it cannot add one.
  EXPECT_EQ(FormatMessageLine("p\nCOM6", "Can NOT Open \"p\\nCOM6\"\nWhy.\x1b[2J"),
            "p\\nCOM6: Can NOT Open \"p\\nCOM6\"\n  Why.\\x1b[2J");
  bad.port = "COM6\x1b[2J";
  bad.adapter_serial = "\x1b]0;x\x07";
  EXPECT_NE(FormatSummary({bad}).find("COM6\\x1b[2J  \\x1b]0;x\\x07"), std::string::npos);
  const auto record = nlohmann::json::parse(JsonText(LogRecord(good, kStamp, "fw.hex", "00")));
  EXPECT_EQ(record.at("adapter_serial"), "A600ARJH");
  EXPECT_EQ(record.at("sha256"), "00");
  EXPECT_EQ(record.at("time"), kStamp.utc_time);
  EXPECT_EQ(record.at("record_id"), kStamp.record_id);
  EXPECT_EQ(record.at("station"), kStamp.station);
}

// What scripts read from --json and --log: each event's fields, exactly.
// A field renamed or dropped breaks every script that reads it, so each
// line is checked against the table the manual page gives.
struct JsonSchemaCase {
  std::string name;
  std::string line;
  std::set<std::string> fields;
};

class JsonSchema : public ::testing::TestWithParam<JsonSchemaCase> {};

TEST_P(JsonSchema, EachEventCarriesExactlyItsFields) {
  const auto object = nlohmann::json::parse(GetParam().line);
  std::set<std::string> fields;
  for (const auto& [key, value] : object.items()) fields.insert(key);
  EXPECT_EQ(fields, GetParam().fields);
}

const PortResult kSchemaResult{
    "COM5", "A600ARJH", ExitCode::kFinished, "Firmware updated finished.", 10.0, 8000, 164, 0.4,
    0.98,   ""};

StationEvent EventOf(StationEventKind kind, const PortResult& result = kSchemaResult) {
  StationEvent event;
  event.kind = kind;
  event.port = "COM5";
  event.number = kind == StationEventKind::kPortLost || kind == StationEventKind::kPortBack ? 0 : 3;
  event.local_time = "14:02:11";
  event.utc_time = "2026-12-07T13:02:11Z";
  event.result = result;
  if (kind == StationEventKind::kPortLost) {
    event.message = "Can NOT Open \"COM5\"\nThe port does not exist.";
  }
  return event;
}

StationRow RowOf(const std::string& port, PortState state, int finished, int failed) {
  StationRow row;
  row.port = port;
  row.state = state;
  row.percent = 42;
  row.finished = finished;
  row.failed = failed;
  return row;
}

const std::set<std::string> kLogFields = {
    "time",    "record_id", "station",         "port",          "adapter_serial",
    "file",    "sha256",    "outcome",         "exit_code",     "message",
    "seconds", "reply_ms",  "line_efficiency", "turnaround_ms", "may_be_in_loader"};

const LogJob kSchemaJob{"line3", "ab12", [] { return 2; }};

// A port and a file whose names are not UTF-8, as Linux allows.
PortResult NotUtf8Port() {
  PortResult result = kSchemaResult;
  result.port = "/dev/pager\xfe";
  return result;
}
constexpr char kNotUtf8File[] = "fw\xff.hex";

std::set<std::string> With(std::set<std::string> fields, const std::set<std::string>& more) {
  fields.insert(more.begin(), more.end());
  return fields;
}

INSTANTIATE_TEST_SUITE_P(
    Events, JsonSchema,
    ::testing::Values(
        JsonSchemaCase{"start",
                       JsonStart("COM5", "fw.hex", 9600, 3),
                       {"event", "port", "file", "baud", "resend"}},
        JsonSchemaCase{
            "progress",
            JsonProgress(PortProgress{"COM5", "transfer", 42, 120, 289, 12.5, 11.0, 9000}),
            {"event", "port", "stage", "percent", "records", "records_total", "seconds",
             "bytes_per_second"}},
        JsonSchemaCase{"message",
                       JsonMessage("COM5", "Fail to send code-package.", UpdateOutcome::kNone),
                       {"event", "port", "text", "outcome"}},
        JsonSchemaCase{
            "note", JsonNote("tarvex-flash: cannot append to the log x."), {"event", "text"}},
        JsonSchemaCase{"end",
                       JsonEnd(kSchemaResult),
                       {"event", "port", "adapter_serial", "outcome", "exit_code", "message",
                        "seconds", "records", "bytes_per_second", "reply_ms", "line_efficiency", "turnaround_ms",
 "may_be_in_loader"}},
        JsonSchemaCase{"summary",
                       JsonSummary({kSchemaResult}, ExitCode::kFinished),
                       {"event", "exit_code", "outcome", "pagers", "failed"}},
        JsonSchemaCase{"summary_under_job",
                       JsonSummary({kSchemaResult}, ExitCode::kFinished, &kSchemaJob),
                       {"event", "exit_code", "outcome", "pagers", "failed", "job", "job_sha256",
                        "quota_left"}},
        JsonSchemaCase{"log", JsonText(LogRecord(kSchemaResult, kStamp, "fw.hex", "00")), kLogFields},
        // A name that is not UTF-8 brings its bytes along.
        JsonSchemaCase{"log_names_not_utf8",
                       JsonText(LogRecord(NotUtf8Port(), LineStamp{"T", "", "b\xfe"}, kNotUtf8File, "00")),
                       With(kLogFields, {"port_bytes", "file_bytes", "station_bytes"})},
        JsonSchemaCase{"start_names_not_utf8",
                       JsonStart(NotUtf8Port().port, kNotUtf8File, 9600, 3),
                       {"event", "port", "port_bytes", "file", "file_bytes", "baud", "resend"}},
        JsonSchemaCase{"check_file_not_utf8",
                       JsonHexSummary(kNotUtf8File, UnsoundHex("x"), 4800),
                       {"event", "file", "file_bytes", "sound", "message", "error"}},
        JsonSchemaCase{"station_connected",
                       JsonStationEvent(EventOf(StationEventKind::kConnected)),
                       {"event", "port", "number", "time"}},
        JsonSchemaCase{"station_finished",
                       JsonStationEvent(EventOf(StationEventKind::kFinished)),
                       {"event", "port", "number", "time", "adapter_serial", "outcome", "exit_code",
                        "message", "seconds", "reply_ms", "line_efficiency", "turnaround_ms",
 "may_be_in_loader"}},
        JsonSchemaCase{"station_finished_port_not_utf8",
                       [] {
                         StationEvent event = EventOf(StationEventKind::kFinished, NotUtf8Port());
                         event.port = NotUtf8Port().port;
                         return JsonStationEvent(event);
                       }(),
                       {"event", "port", "port_bytes", "number", "time", "adapter_serial",
                        "outcome", "exit_code", "message", "seconds", "reply_ms",
                        "line_efficiency", "turnaround_ms", "may_be_in_loader"}},
        JsonSchemaCase{"station_port_lost",
                       JsonStationEvent(EventOf(StationEventKind::kPortLost)),
                       {"event", "port", "number", "time", "message"}},
        JsonSchemaCase{"station_summary",
                       JsonStationSummary({RowOf("COM5", PortState::kStopped, 3, 1)},
                                          ExitCode::kRewindsExceeded),
                       {"event", "exit_code", "outcome", "finished", "failed", "ports"}},
        JsonSchemaCase{"station_summary_under_job",
                       JsonStationSummary({RowOf("COM5", PortState::kStopped, 3, 1)},
                                          ExitCode::kFinished, &kSchemaJob),
                       {"event", "exit_code", "outcome", "finished", "failed", "ports", "job",
                        "job_sha256", "quota_left"}},
        JsonSchemaCase{
            "station_log", JsonText(StationLogRecord(kSchemaResult, kStamp, "fw.hex", "00", 3, "S")),
            [] {
              std::set<std::string> fields = kLogFields;
              fields.insert({"number", "station_start"});
              return fields;
            }()}),
    [](const auto& info) { return info.param.name; });

// Two files whose names differ only in a byte that is not UTF-8 leave two
// names in the log, and the bytes of each.
TEST(JsonSchema, ANameThatIsNotUtf8IsKeptWhole) {
  const auto first =
      nlohmann::json::parse(JsonText(LogRecord(kSchemaResult, kStamp, "fw\xfe.hex", "0")));
  const auto second =
      nlohmann::json::parse(JsonText(LogRecord(kSchemaResult, kStamp, kNotUtf8File, "0")));
  EXPECT_EQ(first.at("file"), "fw\\xfe.hex");
  EXPECT_EQ(second.at("file"), "fw\\xff.hex");
  EXPECT_EQ(second.at("file_bytes"), "6677ff2e686578");
  // A name that is UTF-8 is as it was, with nothing beside it.
  const auto plain =
      nlohmann::json::parse(JsonText(LogRecord(kSchemaResult, kStamp, "\xc5\x81.hex", "0")));
  EXPECT_EQ(plain.at("file"), "\xc5\x81.hex");
  EXPECT_FALSE(plain.contains("file_bytes"));
}

TEST(JsonSchema, MessagesNameTheirOutcomeNotTheirIcon) {
  const auto retry = nlohmann::json::parse(JsonMessage("COM5", "x", UpdateOutcome::kNone));
  EXPECT_EQ(retry.at("outcome"), "retry");
  const auto silent = nlohmann::json::parse(JsonMessage("COM5", "x", UpdateOutcome::kNoResponse));
  EXPECT_EQ(silent.at("outcome"), "no-response");
}

// The plain line of each station event, as a pipe or a day's capture shows it.
struct StationLineCase {
  StationEventKind kind;
  ExitCode code;
  const char* line;
  const char* port = "COM5";
};

class StationLine : public ::testing::TestWithParam<StationLineCase> {};

TEST_P(StationLine, SaysWhenWhereWhichPagerAndWhat) {
  PortResult result = kSchemaResult;
  result.code = GetParam().code;
  if (result.code != ExitCode::kFinished) result.message = "Line one\nline two";
  StationEvent event = EventOf(GetParam().kind, result);
  event.port = GetParam().port;
  // A port back that was named by its adapter's serial number.
  if (event.kind == StationEventKind::kPortBack && result.code != ExitCode::kFinished) {
    event.message = "serial=FT12AB34";
  }
  EXPECT_EQ(FormatStationEvent(event), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Events, StationLine,
    ::testing::Values(
        StationLineCase{StationEventKind::kConnected, ExitCode::kFinished,
                        "14:02:11 COM5 #3 connected"},
        StationLineCase{StationEventKind::kFinished, ExitCode::kFinished,
                        "14:02:11 COM5 #3 finished: Firmware updated finished."},
        StationLineCase{StationEventKind::kFailed, ExitCode::kRewindsExceeded,
                        "14:02:11 COM5 #3 failed, rewinds-exceeded: Line one line two"},
        StationLineCase{StationEventKind::kRemoved, ExitCode::kFinished,
                        "14:02:11 COM5 #3 removed"},
        StationLineCase{StationEventKind::kPortLost, ExitCode::kFinished,
                        "14:02:11 COM5 cannot be opened: Can NOT Open \"COM5\" The port does "
                        "not exist."},
        StationLineCase{StationEventKind::kPortBack, ExitCode::kFinished,
                        "14:02:11 COM5 can be opened again"},
        StationLineCase{StationEventKind::kPortBack, ExitCode::kNotLogged,
                        "14:02:11 serial=FT12AB34 found as COM5"},
        // A name cannot forge a line of its own, nor act on the terminal.
        StationLineCase{StationEventKind::kFinished, ExitCode::kFinished,
                        "14:02:11 x\\n14:02:12 COM6 #4\\x1b[2J #3 finished: Firmware updated "
                        "finished.",
                        "x\n14:02:12 COM6 #4\x1b[2J"}));

TEST(StationReport, RowsAndSummaryLineUpPerPort) {
  StationRow busy = RowOf("/dev/ttyUSB0", PortState::kFlashing, 3, 0);
  busy.adapter_serial = "FT12AB34";
  StationRow idle = RowOf("COM7", PortState::kRemove, 2, 1);
  idle.number = 12;
  idle.last = ExitCode::kRewindsExceeded;
  idle.last_time = "14:01:50";
  EXPECT_EQ(
      FormatStationRows({busy, idle}),
      (Texts{
          "PORT          ADAPTER SERIAL  STATE                                         FINISHED  "
          "FAILED  LAST",
          "/dev/ttyUSB0  FT12AB34        flashing 42%                                         3  "
          "     0  -",
          "COM7          -               remove pager #12 (failed: rewinds-exceeded)          2  "
          "     1  rewinds-exceeded 14:01:50"}));
  idle.last = ExitCode::kFinished;
  EXPECT_EQ(FormatPortState(idle), "remove pager #12 (finished)");
  EXPECT_EQ(FormatPortState(RowOf("COM7", PortState::kAdapterMissing, 0, 0)), "adapter missing");
  EXPECT_EQ(FormatStationSummary({busy, idle}),
            "PORT          ADAPTER SERIAL  FINISHED  FAILED\n"
            "/dev/ttyUSB0  FT12AB34               3       0\n"
            "COM7          -                      2       1\n"
            "all                                  5       1\n");
  const auto summary = nlohmann::json::parse(JsonStationSummary({busy, idle}, ExitCode::kFinished));
  EXPECT_EQ(summary.at("finished"), 5);
  EXPECT_EQ(summary.at("ports").at(1).at("failed"), 1);
  // Under a job, what the job has left once the run ends.
  const LogJob job{"line3", "ab12", [] { return 4; }};
  const auto under_job =
      nlohmann::json::parse(JsonStationSummary({busy}, ExitCode::kFinished, &job));
  EXPECT_EQ(under_job.at("job"), "line3");
  EXPECT_EQ(under_job.at("quota_left"), 4);
}

// The character that starts at display column `column` of `line`.
char AtColumn(const std::string& line, std::size_t column) {
  for (std::size_t at = 0; at < line.size(); ++at) {
    const bool starts = (static_cast<unsigned char>(line[at]) & 0xC0) != 0x80;
    if (starts && DisplayWidth(line.substr(0, at)) == column) return line[at];
  }
  return '\0';
}

// A bench's rows as a run goes on: the header line stays, and so does where
// each column starts, whatever the rows come to say (a pager failing, an
// adapter found with its serial number, a long state), at every width.
TEST(StationReport, RowsStandStillAsTheRunGoesOn) {
  StationRow one = RowOf("pager1", PortState::kConnect, 0, 0);
  StationRow two = RowOf("serial=FT12AB34", PortState::kConnect, 0, 0);
  const std::size_t port_width = StationPortWidth({one, two});
  std::vector<std::vector<StationRow>> frames = {{one, two}};
  one.state = two.state = PortState::kFlashing;
  frames.push_back({one, two});
  two.state = PortState::kRemove;
  two.port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_FT12AB34-if00-port0";
  two.adapter_serial = "FT12AB34";
  two.number = 12;
  two.failed = 1;
  two.last = ExitCode::kRewindsExceeded;
  two.last_time = "14:01:50";
  frames.push_back({one, two});
  one.state = PortState::kRemove;
  one.finished = 10;
  one.last = ExitCode::kFinished;
  frames.push_back({one, two});
  for (const std::size_t columns : {79u, 119u, 159u}) {
    const std::string header = FormatStationRows(frames[0], columns, port_width).at(0);
    const std::size_t finished_end = header.find("FINISHED") + 7;
    for (const auto& frame : frames) {
      const Texts lines = FormatStationRows(frame, columns, port_width);
      EXPECT_EQ(lines.at(0), header) << columns;
      for (std::size_t row = 1; row < lines.size(); ++row) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(AtColumn(lines[row], finished_end))))
            << lines[row];
      }
    }
  }
}

// What a view wrote to its two streams.
struct ViewOutput {
  std::string out;
  std::string err;
};

std::string ReadBack(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

ViewOutput Show(ProgressMode mode, bool bell, const std::vector<StationEvent>& events,
                VirtualClock& clock, const LogJob* job = nullptr) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    StationView view(mode, bell, {RowOf("COM5", PortState::kConnect, 0, 0)}, clock, out, err);
    if (job != nullptr) view.ShowJob([job] { return JobLeftText(job->name, job->quota_left()); });
    for (const StationEvent& event : events) view.OnEvent(event);
    view.Finish({RowOf("COM5", PortState::kStopped, 1, 1)}, ExitCode::kRewindsExceeded, job);
  }
  return {ReadBack(out), ReadBack(err)};
}

// The second bell of a failure rings from the view's own thread: the port's
// thread that told of the failure goes on at once to watch its pager.
TEST(StationView, TheSecondBellNeverHoldsThePortsThread) {
  struct ThreadNotingClock final : ITickSource {
    std::uint32_t TickCount() override { return 0; }
    void Sleep(std::uint32_t) override {
      std::lock_guard lock(mutex);
      sleepers.push_back(std::this_thread::get_id());
    }
    std::mutex mutex;
    std::vector<std::thread::id> sleepers;
  } clock;
  PortResult failed = kSchemaResult;
  failed.code = ExitCode::kRewindsExceeded;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    StationView view(ProgressMode::kRedraw, true, {RowOf("COM5", PortState::kConnect, 0, 0)}, clock,
                     out, err);
    view.OnEvent(EventOf(StationEventKind::kFailed, failed));
    view.Finish({RowOf("COM5", PortState::kStopped, 0, 1)}, ExitCode::kRewindsExceeded);
  }
  (void)ReadBack(out);
  const std::string rung = ReadBack(err);
  EXPECT_EQ(std::count(rung.begin(), rung.end(), '\a'), 2);
  ASSERT_EQ(clock.sleepers.size(), 1u);
  EXPECT_NE(clock.sleepers[0], std::this_thread::get_id());
}

// What a job has left ends the summary, read or parsed.
TEST(StationView, UnderAJobTheSummarySaysWhatTheJobHasLeft) {
  VirtualClock clock;
  const LogJob job{"line3", "ab12", [] { return 2; }};
  const std::string text = Show(ProgressMode::kPlain, false, {}, clock, &job).out;
  EXPECT_TRUE(text.ends_with("job line3: 2 left\n")) << text;
  const Texts events = LinesOf(Show(ProgressMode::kJson, false, {}, clock, &job).out);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(nlohmann::json::parse(events.back()).at("quota_left"), 2);
}

TEST(StationView, ABellForAPagerDoneTwoForOneThatFailedNoneWhenStopped) {
  VirtualClock clock;
  PortResult failed = kSchemaResult;
  failed.code = ExitCode::kRewindsExceeded;
  PortResult stopped = kSchemaResult;
  stopped.code = ExitCode::kInterrupted;
  PortResult late = kSchemaResult;
  late.latency_hint = "COM5: replies come 8 ms late";
  const std::vector<StationEvent> events = {
      EventOf(StationEventKind::kConnected), EventOf(StationEventKind::kFinished, late),
      EventOf(StationEventKind::kFailed, failed), EventOf(StationEventKind::kFailed, stopped)};
  const ViewOutput rung = Show(ProgressMode::kRedraw, true, events, clock);
  EXPECT_EQ(std::count(rung.err.begin(), rung.err.end(), '\a'), 3);
  // Apart enough for a terminal to ring twice.
  EXPECT_EQ(clock.sleeps, std::vector<std::uint32_t>{kBellGapMs});
  // On a terminal the failures stand above the rows, which end up as the summary says.
  EXPECT_NE(rung.err.find("#3 failed, rewinds-exceeded"), std::string::npos);
  EXPECT_EQ(rung.err.find("#3 connected"), std::string::npos);
  // So does what late replies cost, whatever the mode.
  EXPECT_NE(rung.err.find(late.latency_hint + "\n"), std::string::npos);
  EXPECT_NE(rung.out.find("all      "), std::string::npos) << rung.out;
  EXPECT_EQ(Show(ProgressMode::kRedraw, false, events, clock).err.find('\a'), std::string::npos);
  // Piped: a line per event, below a failure its next step, no bell, no
  // cursor movement.
  const ViewOutput piped = Show(ProgressMode::kPlain, false, events, clock);
  EXPECT_EQ(std::count(piped.err.begin(), piped.err.end(), '\n'), 7);
  EXPECT_NE(piped.err.find("failed, rewinds-exceeded: Firmware updated finished.\n  The pager "
                           "could not program its flash"),
            std::string::npos)
      << piped.err;
  EXPECT_EQ(piped.err.find('\x1b'), std::string::npos);
  // JSON: a line per event and the summary, all on stdout.
  const ViewOutput json = Show(ProgressMode::kJson, false, events, clock);
  EXPECT_EQ(json.err, late.latency_hint + "\n");
  const Texts lines = [&] {
    Texts split;
    std::size_t from = 0;
    for (std::size_t at; (at = json.out.find('\n', from)) != std::string::npos; from = at + 1) {
      split.push_back(json.out.substr(from, at - from));
    }
    return split;
  }();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(nlohmann::json::parse(lines[2]).at("exit_code"), 8);
  EXPECT_EQ(nlohmann::json::parse(lines[4]).at("event"), "summary");
}

}  // namespace
