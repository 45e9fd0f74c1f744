// The logic of tarvex-flash that needs no port: reading the command line,
// mapping the engine's messages to exit codes, the reports, the file check,
// the hash of the traceability log, and a station's port loop against
// pagers on a virtual line, on virtual time.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>

#include "cli/FlashPlan.h"
#include "cli/HexSummary.h"
#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "cli/Report.h"
#include "cli/StationReport.h"
#include "cli/StationView.h"
#include "cli/Table.h"
#include "common/DosDevice.h"
#include "common/Sha256.h"
#include "common/VisibleText.h"
#include "engine/Hexproc.h"
#include "station/Advice.h"
#include "station/ExitCode.h"
#include "station/JsonText.h"
#include "station/LogRecord.h"
#include "station/ReplyLatency.h"
#include "station/Station.h"
#include "station/TraceLog.h"
#include "tests/support/HexText.h"
#include "tests/support/PagerJobs.h"
#include "tests/support/ScriptedPager.h"
#include "tests/support/VirtualClock.h"

namespace {

using Texts = std::vector<std::string>;

struct OutcomeCase {
  UpdateOutcome outcome;
  ExitCode code;
  const char* name;
};

class OutcomeExitCode : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(OutcomeExitCode, EachEndingHasItsCodeAndName) {
  EXPECT_EQ(ExitCodeOf(GetParam().outcome), GetParam().code);
  EXPECT_EQ(OutcomeName(GetParam().code), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, OutcomeExitCode,
    ::testing::Values(
        OutcomeCase{UpdateOutcome::kFinished, ExitCode::kFinished, "finished"},
        OutcomeCase{UpdateOutcome::kCannotOpenFile, ExitCode::kBadHexFile, "bad-hex-file"},
        OutcomeCase{UpdateOutcome::kCannotOpenPort, ExitCode::kPortNotOpened, "port-not-opened"},
        OutcomeCase{UpdateOutcome::kNoResponse, ExitCode::kNoResponse, "no-response"},
        OutcomeCase{UpdateOutcome::kRefused, ExitCode::kRefused, "refused"},
        OutcomeCase{UpdateOutcome::kResendsExceeded, ExitCode::kResendsExceeded,
                    "resends-exceeded"},
        OutcomeCase{UpdateOutcome::kRewindsExceeded, ExitCode::kRewindsExceeded,
                    "rewinds-exceeded"},
        OutcomeCase{UpdateOutcome::kUnexpectedReply, ExitCode::kUnexpectedReply,
                    "unexpected-reply"},
        OutcomeCase{UpdateOutcome::kInterrupted, ExitCode::kInterrupted, "interrupted"},
        OutcomeCase{UpdateOutcome::kPortLost, ExitCode::kPortLost, "port-lost"},
        OutcomeCase{UpdateOutcome::kNone, ExitCode::kInternal, "error"}));

TEST(GangExitCode, FirstFailureInPortOrderUnlessInterrupted) {
  const std::vector<ExitCode> codes = {ExitCode::kFinished, ExitCode::kRewindsExceeded,
                                       ExitCode::kNoResponse};
  EXPECT_EQ(GangExitCode(codes, false), ExitCode::kRewindsExceeded);
  EXPECT_EQ(GangExitCode(codes, true), ExitCode::kInterrupted);
  EXPECT_EQ(GangExitCode({ExitCode::kFinished, ExitCode::kFinished}, false), ExitCode::kFinished);
  // A log line that failed is told only for a pager that finished; a
  // failure says why it failed.
  EXPECT_EQ(PagerExitCode(ExitCode::kFinished, false), ExitCode::kNotLogged);
  EXPECT_EQ(PagerExitCode(ExitCode::kRefused, false), ExitCode::kRefused);
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
};

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
        // A name in a usage error cannot act on the terminal.
        CommandLineCase{{"-l", "x\x1b[2J\ny"},
                        ExitCode::kUsage,
                        true,
                        {},
                        0,
                        "--list-ports takes no file, but x\\x1b[2J\\ny was given\n"}));

std::string HelpText() {
  const char* argv[] = {"tarvex-flash", "--help"};
  return ParseCommandLine(2, argv).out;
}

TEST(CommandLine, OnePortUnderTwoNamesIsGivenTwice) {
  EXPECT_EQ(SamePortTwice({"COM5", "\\\\.\\COM5"}, {"COM5", "COM5"}),
            "the port COM5 is given twice (also as \\\\.\\COM5)");
  // Windows: every spelling of a port, and every DOS name that leads to its
  // device, is that port; the system's table of DOS names as QueryDosDeviceW
  // gives it.
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
  for (const char* spelling :
       {"com07", "COM7:", R"(\\.\COM7)", R"(\\?\COM7)", "PAGER", R"(\\.\PAGER:)"}) {
    EXPECT_EQ(identity(spelling), identity("COM7")) << spelling;
    EXPECT_EQ(SamePortTwice({"COM7", spelling}, {identity("COM7"), identity(spelling)}),
              "the port COM7 is given twice (also as " + std::string(spelling) + ")");
  }
  EXPECT_NE(identity("COM8"), identity("COM7"));
  EXPECT_NE(identity("COM17"), identity("COM7"));
  EXPECT_EQ(identity("LOOP"), "LOOP");  // a name defined as itself ends too
  EXPECT_EQ(identity(R"(C:\ports\COM7)"), R"(C:\ports\COM7)");
  EXPECT_EQ(SamePortTwice({"a", "b", "c"}, {"1", "2", "2"}),
            "the port b is given twice (also as c)");
  EXPECT_EQ(SamePortTwice({"a", "b"}, {"1", "2"}), "");
}

// The devices Windows opens in place of files, so neither a log nor a
// firmware file is ever read or written on one.
TEST(CommandLine, DeviceNamesAreKnownInEveryFolderAndSpelling) {
  const std::pair<const char*, const char*> names[] = {
      {"CON.hex", "CON"},     {R"(C:\fw\com5.hex)", "COM5"}, {"nul", "NUL"},
      {"COM7:", "COM7"},      {"con .txt", "CON"},           {"LPT1.log", "LPT1"},
      {"CONOUT$", "CONOUT$"}, {R"(\\.\COM12)", "COM12"},     {R"(\\?\COM7)", "COM7"},
      {"C:nul", "NUL"},       {"console.hex", ""},           {"COM10", ""},
      {"fw.hex", ""},         {R"(\\?\C:\logs\nul)", ""}};
  for (const auto& [name, device] : names) EXPECT_EQ(DosDeviceOf(name), device) << name;
}

TEST(CommandLineHelp, ListsEveryExitCode) {
  const std::string help = HelpText();
  for (const int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 130}) {
    EXPECT_NE(help.find(fmt::format(" {}  ", code)), std::string::npos) << code;
  }
}

// One line per option, each within a terminal's 80 columns, FILE.hex shown
// as required, and none of the parser's notation.
TEST(CommandLineHelp, OneLinePerOptionInTheProgramsOwnWords) {
  const std::string help = HelpText();
  EXPECT_TRUE(help.starts_with("Usage: tarvex-flash [options] -p PORT FILE.hex\n")) << help;
  std::istringstream lines(help);
  int option_lines = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  -") && !line.starts_with("      --")) continue;
    EXPECT_LE(line.size(), 80u) << line;
    ++option_lines;
  }
  EXPECT_EQ(option_lines, 13);
  for (const char* option :
       {"-p, --port PORT  ", "-b, --baud RATE  ", "-r, --resend N  ", "    --check  ",
        "-l, --list-ports  ", "    --json  ", "    --station  ", "    --count N  ",
        "    --log FILE  ", "-q, --quiet  ", "-v, --verbose  ", "    --version  ",
        "-h, --help  "}) {
    EXPECT_NE(help.find("\n  " + std::string(option)), std::string::npos) << option;
  }
  for (const char* internal : {"INT", "[0 - 99]", "Excludes", "FILE FILE.hex", "[FILE]", "{"}) {
    EXPECT_EQ(help.find(internal), std::string::npos) << internal;
  }
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
  EXPECT_EQ(FormatHexSummary("fw.hex", summary, 9600),
            "fw.hex: Unable to open the HEX file.\nLine 1: checksum mismatch.\n");
  const auto json = nlohmann::json::parse(JsonHexSummary("bad.hex", summary, 4800));
  EXPECT_EQ(json.at("sound"), false);
  EXPECT_EQ(json.at("message"), msgOpenHexFail.Text);
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

// Reply times as an adapter's latency timer makes them. Its timer runs
// freely, so at 9600 bit/s every record's reply comes a little late and every
// program command's almost a whole period late.
struct LatencyCase {
  const char* name;
  int records;          // "s" with a full record, then "p", each answered
  std::uint32_t s_ms;   // after which a record's reply comes
  std::uint32_t p_ms;   // after which a "p"'s reply comes
  std::uint32_t e0_ms;  // after which the erase's reply comes
  double typical_ms;    // how late replies typically come
  double efficiency;    // line time over time taken
  bool hint;
};

void PrintTo(const LatencyCase& c, std::ostream* out) { *out << c.name; }

class ReplyTimes : public ::testing::TestWithParam<LatencyCase> {};

TEST_P(ReplyTimes, GiveTheTypicalLatenessAndTheLineEfficiency) {
  const LatencyCase& c = GetParam();
  ReplyLatency latency;
  latency.Add(2, 9600, c.e0_ms);
  for (int i = 0; i < c.records; ++i) {
    latency.Add(44, 9600, c.s_ms);
    latency.Add(1, 9600, c.p_ms);
  }
  EXPECT_NEAR(latency.TypicalLateMs(), c.typical_ms, 0.05);
  EXPECT_NEAR(latency.LineEfficiency(), c.efficiency, 0.005);
  EXPECT_EQ(LatencyHint("COM7", latency, 16).empty(), !c.hint);
}

// Line times at 9600 bit/s: "s" and a record with its reply 46.875 ms, "p"
// 2.083 ms, "e0" 3.125 ms.
INSTANTIATE_TEST_SUITE_P(
    Adapters, ReplyTimes,
    // Phase-locked to a 16 ms timer: the plain median would say 12.9.
    ::testing::Values(LatencyCase{"Timer16Ms", 20, 48, 16, 16, 7.78, 0.758, true},
                      LatencyCase{"Timer16MsSlowErase", 20, 48, 16, 900, 7.83, 0.451, true},
                      LatencyCase{"TooFewToTell", 3, 60, 16, 16, 13.44, 0.615, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyTimes, HintNamesTheTimerTheRemedyAndTheGain) {
  ReplyLatency latency;
  for (int i = 0; i < 20; ++i) {
    latency.Add(44, 9600, 48);
    latency.Add(1, 9600, 16);
  }
  // 1280 ms taken; behind a 1 ms timer, the line time and 40 replies half a
  // millisecond late.
  const double line = 20 * LineMs(45, 9600) + 20 * LineMs(2, 9600);
  EXPECT_NEAR(latency.GainAtOneMsTimer(), 1280.0 / (line + 40 * 0.5), 1e-9);
  EXPECT_EQ(LatencyHint("COM7", latency, 16),
            "COM7: replies come 8 ms late (" + LatencyTimerFinding(16) + "); " +
                LatencyTimerRemedy("COM7", 16) + ", to flash about 1.3x faster.");
  // A timer already at 1 ms is not the cause, and no gain is promised.
  const std::string at_one_ms = LatencyHint("COM7", latency, 1);
  EXPECT_NE(at_one_ms.find("adapter latency timer 1 ms: the delay is not"), std::string::npos);
  EXPECT_EQ(at_one_ms.find("faster"), std::string::npos);
}

PortInfo ComPort(int number, const std::string& serial) {
  PortInfo port;
  port.Name = "COM" + std::to_string(number);
  port.Number = number;
  port.Serial = serial;
  return port;
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
};

void PrintTo(const WidthCase& c, std::ostream* out) { *out << c.name; }

const std::string kLongPort = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ARJH-if00-port0";

Texts LinesOf(const std::string& text) {
  Texts lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Texts ScreensAt(std::size_t columns) {
  const PortProgress going{"COM5", "transfer", 42, 120, 289, 12.5, 11.0, 9000};
  const PortProgress waiting{kLongPort, "erase", 0, 0, 289, 1, 0, 20};
  const PortResult finished{
      "COM5", "A600ARJH", ExitCode::kFinished, msgFinished.Text, 10.0, 8000, 164, 8.14, 0.6071, ""};
  const PortResult failed{
      kLongPort, "", ExitCode::kRewindsExceeded, msgRewindExceeded.Text, 1.5, 1, 0, -1, -1, ""};
  StationRow busy;
  busy.port = "/dev/ttyUSB0";
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
  const Texts lines = ScreensAt(GetParam().columns);
  EXPECT_EQ(lines, GetParam().lines);
  for (const std::string& line : lines) EXPECT_LE(DisplayWidth(line), GetParam().columns) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Terminals, Widths,
    ::testing::Values(
        WidthCase{
            "Eighty",
            79,
            {"COM5                  transfer           42%  120/289 records  720 B/s",
             "/dev/seria\u2026f00-port0  erase               0%    0/289 records",
             "PORT                  SERIAL    OUTCOME           SECONDS  LINE B/S  REPLY MS",
             "COM5                  A600ARJH  finished             10.0       800       8.1",
             "/dev/seria\u2026f00-port0  -         rewinds-exceeded      1.5         1         -",
             "  Max. rewind counter exceed but still unable to program code-package.",
             "PORT          STATE                                        FINISHED  FAILED",
             "/dev/ttyUSB0  flashing 42%                                        0       0",
             "COM7          remove pager #12 (failed: rewinds-exceeded)         0       0"}},
        WidthCase{"Forty",
                  39,
                  {"COM5             transfer           42%",
                   "/dev/se\u20260-port0  erase               0%", "PORT                  OUTCOME",
                   "COM5                  finished", "/dev/seria\u2026f00-port0  rewinds-exceeded",
                   "  Max. rewind counter exceed but still", "  unable to program code-package.",
                   "PORT        STATE", "/dev/\u2026USB0  flashing 42%",
                   "COM7        remove pager #12 (failed: \u2026"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Report, SummaryAndJsonNameEachPagerAndWhyItFailed) {
  PortResult good{"COM5", "A600ARJH", ExitCode::kFinished, msgFinished.Text, 10.0, 8000, 164, 8.14,
                  0.6071, ""};
  PortResult bad{"COM6", "", ExitCode::kNoResponse, msgNoResponse.Text, 1.5, 1, 0, -1, -1, ""};
  // The replies' lateness and line efficiency, or dashes where no reply
  // came; why a pager failed on a line of its own.
  EXPECT_EQ(FormatSummary({good, bad}),
            "PORT  SERIAL    OUTCOME      SECONDS  LINE B/S  REPLY MS  EFFICIENCY\n"
            "COM5  A600ARJH  finished        10.0       800       8.1        0.61\n"
            "COM6  -         no-response      1.5         1         -           -\n"
            "  No response from the pager, flash now terminated.\n");
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
  // A message keeps its lines; a name in it or before it cannot add one.
  EXPECT_EQ(FormatMessageLine("p\nCOM6", "Can NOT Open \"p\\nCOM6\"\nWhy.\x1b[2J"),
            "p\\nCOM6: Can NOT Open \"p\\nCOM6\"\n  Why.\\x1b[2J");
  bad.port = "COM6\x1b[2J";
  bad.adapter_serial = "\x1b]0;x\x07";
  EXPECT_NE(FormatSummary({bad}).find("COM6\\x1b[2J  \\x1b]0;x\\x07"), std::string::npos);
  const auto record = nlohmann::json::parse(JsonText(LogRecord(good, "T", "fw.hex", "00")));
  EXPECT_EQ(record.at("adapter_serial"), "A600ARJH");
  EXPECT_EQ(record.at("sha256"), "00");
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

const std::set<std::string> kLogFields = {"time",    "port",     "adapter_serial", "file",
                                          "sha256",  "outcome",  "exit_code",      "message",
                                          "seconds", "reply_ms", "line_efficiency"};

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
                        "seconds", "records", "bytes_per_second", "reply_ms", "line_efficiency"}},
        JsonSchemaCase{"summary",
                       JsonSummary({kSchemaResult}, ExitCode::kFinished),
                       {"event", "exit_code", "outcome", "pagers", "failed"}},
        JsonSchemaCase{"log", JsonText(LogRecord(kSchemaResult, "T", "fw.hex", "00")), kLogFields},
        // A name that is not UTF-8 brings its bytes along.
        JsonSchemaCase{"log_names_not_utf8",
                       JsonText(LogRecord(NotUtf8Port(), "T", kNotUtf8File, "00")),
                       With(kLogFields, {"port_bytes", "file_bytes"})},
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
                        "message", "seconds", "reply_ms", "line_efficiency"}},
        JsonSchemaCase{"station_finished_port_not_utf8",
                       [] {
                         StationEvent event = EventOf(StationEventKind::kFinished, NotUtf8Port());
                         event.port = NotUtf8Port().port;
                         return JsonStationEvent(event);
                       }(),
                       {"event", "port", "port_bytes", "number", "time", "adapter_serial",
                        "outcome", "exit_code", "message", "seconds", "reply_ms",
                        "line_efficiency"}},
        JsonSchemaCase{"station_port_lost",
                       JsonStationEvent(EventOf(StationEventKind::kPortLost)),
                       {"event", "port", "number", "time", "message"}},
        JsonSchemaCase{"station_summary",
                       JsonStationSummary({RowOf("COM5", PortState::kStopped, 3, 1)},
                                          ExitCode::kRewindsExceeded),
                       {"event", "exit_code", "outcome", "finished", "failed", "ports"}},
        JsonSchemaCase{
            "station_log", JsonText(StationLogRecord(kSchemaResult, "T", "fw.hex", "00", 3, "S")),
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
      nlohmann::json::parse(JsonText(LogRecord(kSchemaResult, "T", "fw\xfe.hex", "0")));
  const auto second =
      nlohmann::json::parse(JsonText(LogRecord(kSchemaResult, "T", kNotUtf8File, "0")));
  EXPECT_EQ(first.at("file"), "fw\\xfe.hex");
  EXPECT_EQ(second.at("file"), "fw\\xff.hex");
  EXPECT_EQ(second.at("file_bytes"), "6677ff2e686578");
  // A name that is UTF-8 is as it was, with nothing beside it.
  const auto plain =
      nlohmann::json::parse(JsonText(LogRecord(kSchemaResult, "T", "\xc5\x81.hex", "0")));
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
      (Texts{"PORT          ADAPTER SERIAL  STATE                                        FINISHED  "
             "FAILED  LAST",
             "/dev/ttyUSB0  FT12AB34        flashing 42%                                        3  "
             "     0  -",
             "COM7          -               remove pager #12 (failed: rewinds-exceeded)         2  "
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
                VirtualClock& clock) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    StationView view(mode, bell, {RowOf("COM5", PortState::kConnect, 0, 0)}, clock, out, err);
    for (const StationEvent& event : events) view.OnEvent(event);
    view.Finish({RowOf("COM5", PortState::kStopped, 1, 1)}, ExitCode::kRewindsExceeded);
  }
  return {ReadBack(out), ReadBack(err)};
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
  // Piped: a line per event, no bell, no cursor movement.
  const ViewOutput piped = Show(ProgressMode::kPlain, false, events, clock);
  EXPECT_EQ(std::count(piped.err.begin(), piped.err.end(), '\n'), 5);
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

// Pagers on a virtual line, one after another, each a loader as far as the
// bench needs: connected `gap_ms` after the one before it left (the first
// after the start), it answers until `linger_ms` after the "q" that took it
// out of flash mode; in idle it refuses all but "f". It hears only what is
// sent at the rate it listens at.
struct BenchPager {
  std::uint32_t gap_ms = 0;
  bool refuses_flash = false;
  bool refuses_program = false;
  // The "q" probes it hears in idle whose replies are lost on the line,
  // counted from 1.
  std::set<int> lost_quits;
  // Filled in as it goes.
  std::uint32_t attach_ms = 0;
  std::int32_t rate = 1200;
  bool flash_mode = false;
  int idle_quits = 0;
  std::optional<std::uint32_t> leave_ms;
  std::vector<std::string> commands;
};

BenchPager After(std::uint32_t gap_ms) {
  BenchPager pager;
  pager.gap_ms = gap_ms;
  return pager;
}

class VirtualBench {
 public:
  VirtualBench(ScriptedPager& line, std::vector<BenchPager> pagers, std::uint32_t linger_ms,
               std::uint32_t start_ms)
      : pagers_(std::move(pagers)), linger_ms_(linger_ms) {
    line.respond = [this](const SentCommand& command, int) { return Answer(command); };
    Attach(0, start_ms);
  }

  // Commands a pager received.
  int Count(std::size_t pager, const std::string& command) const {
    const auto& seen = pagers_[pager].commands;
    return static_cast<int>(std::count(seen.begin(), seen.end(), command));
  }
  const BenchPager& Pager(std::size_t index) const { return pagers_[index]; }
  std::function<void(const SentCommand&)> on_command;

 private:
  void Attach(std::size_t index, std::uint32_t free_since) {
    if (index >= pagers_.size()) return;
    pagers_[index].attach_ms = free_since + pagers_[index].gap_ms;
  }

  BenchPager* OnLine(std::uint32_t now) {
    while (current_ < pagers_.size() && pagers_[current_].leave_ms &&
           now >= *pagers_[current_].leave_ms) {
      const std::uint32_t left = *pagers_[current_].leave_ms;
      Attach(++current_, left);
    }
    if (current_ == pagers_.size() || now < pagers_[current_].attach_ms) return nullptr;
    return &pagers_[current_];
  }

  PagerReply Answer(const SentCommand& command) {
    if (on_command) on_command(command);
    BenchPager* pager = OnLine(command.at_ms);
    if (pager == nullptr || static_cast<std::int32_t>(command.rate) != pager->rate) {
      return PagerReply::Silence();
    }
    pager->commands.push_back(command.bytes);
    // Taken off `linger_ms` after its update's "q".
    if (command.bytes == "q" && Count(current_, "f") > 0 && !pager->leave_ms) {
      pager->leave_ms = command.at_ms + linger_ms_;
    }
    if (command.bytes == "f" && !pager->refuses_flash) {
      pager->flash_mode = true;
      return PagerReply::Ack();
    }
    if (!pager->flash_mode) {
      const bool lost = command.bytes == "q" && pager->lost_quits.count(++pager->idle_quits) > 0;
      return lost ? PagerReply::Silence() : PagerReply::Nak();
    }
    if (command.bytes == "q") {
      pager->flash_mode = false;
      pager->rate = 1200;
    }
    if (command.bytes.front() == 'b') pager->rate = 9600;
    if (command.bytes == "p" && pager->refuses_program) return PagerReply::Nak();
    return PagerReply::Ack();
  }

  std::vector<BenchPager> pagers_;
  std::uint32_t linger_ms_;
  std::size_t current_ = 0;
};

// One pager's update as every face runs it: what the result says of how it
// ended and how fast its line went.
struct RunnerCase {
  const char* name;
  // The pager is stopped once it has been sent this command (empty: never).
  std::string stop_at;
  std::uint32_t reply_ms;
  const char* message;
  double efficiency;
};

void PrintTo(const RunnerCase& c, std::ostream* out) { *out << c.name; }

class Runner : public ::testing::TestWithParam<RunnerCase> {};

TEST_P(Runner, TellsHowThePagerEndedAndHowFastItsLineWent) {
  const RunnerCase& c = GetParam();
  VirtualClock clock{1000};
  ScriptedPager line{clock};
  std::atomic<bool> stop{false};
  line.respond = [&](const SentCommand& command, int) {
    if (command.bytes == c.stop_at) stop.store(true);
    return PagerReply::Ack(c.reply_ms);
  };
  const PagerJob job = TwoRecordJob(line);
  struct Silent final : IPagerListener {
    void OnStart(const PagerJob&) override {}
    void OnProgress(std::size_t, const PortProgress&) override {}
    void OnMessage(std::size_t, const std::string&, UpdateOutcome) override {}
    void OnEnd(std::size_t, const PortResult&) override {}
    void OnNote(const std::string&) override {}
  } listener;
  const PortResult result = RunPager(job, listener, stop, clock);
  EXPECT_EQ(result.message, c.message);
  EXPECT_DOUBLE_EQ(result.line_efficiency, c.efficiency);
}

INSTANTIATE_TEST_SUITE_P(
    Pagers, Runner,
    ::testing::Values(
        // Replies faster than the line carries them: no real line does that.
        RunnerCase{"FasterThanTheLine", "", 1, "Firmware updated finished.", 1.0},
        RunnerCase{"StoppedBeforeTheErase", "b96006A", 0,
                   "Interrupted. The pager's firmware was not touched.", 0.0},
        RunnerCase{"StoppedAfterTheErase", "e0", 0,
                   "Interrupted. The pager's flash was erased: flash it again.", 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

class RecordingStation final : public IStationListener {
 public:
  void OnRow(std::size_t, const StationRow& row) override {
    if (states.empty() || states.back() != FormatPortState(row))
      states.push_back(FormatPortState(row));
  }
  void OnEvent(const StationEvent& event) override {
    std::string text =
        std::string(StationEventName(event.kind)) + " #" + std::to_string(event.number);
    if (event.kind == StationEventKind::kFinished || event.kind == StationEventKind::kFailed) {
      text += " " + std::string(OutcomeName(event.result.code));
    }
    events.push_back(text);
    messages.push_back(event.message);
    if (on_event) on_event(event);
  }
  void OnNote(const std::string& text) override { notes.push_back(text); }

  std::vector<std::string> states;
  std::vector<std::string> events;
  std::vector<std::string> messages;
  std::vector<std::string> notes;
  std::function<void(const StationEvent&)> on_event;
};

// One bench port on COM7 at 9600 bit/s, on virtual time from 1000 ms.
class StationLoop : public ::testing::Test {
 protected:
  StationLoop() {
    setup.job = TwoRecordJob(line, 4);
    setup.given = "COM7";
  }

  void Prepare(int count, std::vector<BenchPager> pagers, std::uint32_t linger_ms) {
    bench = std::make_unique<VirtualBench>(line, std::move(pagers), linger_ms, clock.Now());
    bench->on_command = [this](const SentCommand& command) {
      if (command.at_ms > kGiveUpMs) interrupt.store(true);
    };
    tally = std::make_unique<StationTally>(count);
  }

  // Runs the loop until it stops by itself, or gives up an hour into
  // virtual time.
  StationRow Go() {
    return RunStationPort(setup,
                          StationShared{*tally, listener, interrupt, log.get(), "T", clock, false});
  }

  StationRow Run(int count, std::vector<BenchPager> pagers, std::uint32_t linger_ms) {
    Prepare(count, std::move(pagers), linger_ms);
    return Go();
  }

  // When each command `bytes` went out.
  std::vector<std::uint32_t> TimesOf(const std::string& bytes) const {
    std::vector<std::uint32_t> times;
    for (const SentCommand& command : line.commands) {
      if (command.bytes == bytes) times.push_back(command.at_ms);
    }
    return times;
  }

  static constexpr std::uint32_t kGiveUpMs = 3600000;
  VirtualClock clock{1000};
  ScriptedPager line{clock};
  StationPortSetup setup;
  RecordingStation listener;
  std::atomic<bool> interrupt{false};
  std::unique_ptr<TraceLog> log;
  std::unique_ptr<StationTally> tally;
  std::unique_ptr<VirtualBench> bench;
};

// Bench runs on one port: the pagers as they come, what the bench tells,
// and how often each is flashed ("e0").
struct BenchCase {
  const char* name;
  int count;
  std::vector<BenchPager> pagers;
  std::uint32_t linger_ms;
  Texts events;
  std::vector<int> erases;
  ExitCode code;
};

void PrintTo(const BenchCase& c, std::ostream* out) { *out << c.name; }

class BenchRuns : public StationLoop, public ::testing::WithParamInterface<BenchCase> {};

TEST_P(BenchRuns, FlashEachPagerOnceAndWaitForItToGo) {
  const BenchCase& c = GetParam();
  const StationRow row = Run(c.count, c.pagers, c.linger_ms);
  EXPECT_EQ(listener.events, c.events);
  for (std::size_t i = 0; i < c.erases.size(); ++i) {
    EXPECT_EQ(bench->Count(i, "e0"), c.erases[i]) << "pager " << i;
  }
  EXPECT_EQ(tally->Code(false), c.code);
  EXPECT_EQ(row.finished + row.failed, static_cast<int>(c.erases.size()));
  EXPECT_EQ(listener.states.back(), "stopped");
  EXPECT_EQ(line.open_devices, 0);
}

BenchPager Refusing(std::uint32_t gap_ms, bool flash, bool program) {
  BenchPager pager = After(gap_ms);
  pager.refuses_flash = flash;
  pager.refuses_program = program;
  return pager;
}

BenchPager Losing(std::uint32_t gap_ms, std::set<int> lost_quits) {
  BenchPager pager = After(gap_ms);
  pager.lost_quits = std::move(lost_quits);
  return pager;
}

const Texts kTwoFinished = {"connected #1", "finished #1 finished", "removed #1", "connected #2",
                            "finished #2 finished"};

INSTANTIATE_TEST_SUITE_P(Pagers, BenchRuns,
                         ::testing::Values(
                             // Swapped with the cable empty for 0.4 s, the shortest a bench takes.
                             BenchCase{"SwappedIn400Ms",
                                       2,
                                       {After(2501), After(400)},
                                       2000,
                                       kTwoFinished,
                                       {1, 1},
                                       ExitCode::kFinished},
                             // Lingering with a probe reply lost now and then, never two in a row.
                             BenchCase{"LingeringLosesRepliesNotInARow",
                                       2,
                                       {Losing(0, {2, 4, 6}), After(3000)},
                                       3000,
                                       kTwoFinished,
                                       {1, 1},
                                       ExitCode::kFinished},
                             BenchCase{"RefusesProgram",
                                       1,
                                       {Refusing(0, false, true), After(1000)},
                                       0,
                                       {"connected #1", "failed #1 rewinds-exceeded", "removed #1",
                                        "connected #2", "finished #2 finished"},
                                       {4, 1},
                                       ExitCode::kRewindsExceeded},
                             // A loader that will not enter flash mode is a failed pager, waited
                             // out like any other.
                             BenchCase{"RefusesF",
                                       1,
                                       {Refusing(0, true, false), After(1000)},
                                       500,
                                       {"connected #1", "failed #1 refused", "removed #1",
                                        "connected #2", "finished #2 finished"},
                                       {0, 1},
                                       ExitCode::kRefused}),
                         [](const auto& info) { return std::string(info.param.name); });

// A pager is seen within a probe's spacing and its reply of being
// connected, and gone within three rounds of being taken off.
TEST_F(StationLoop, APagerIsSeenAtOnceAndItsRemovalWithinThreeRounds) {
  Run(2, {After(2537), After(400)}, 2000);
  const std::vector<std::uint32_t> flashes = TimesOf("f");
  ASSERT_EQ(flashes.size(), 2u);
  const std::uint32_t first_attach = bench->Pager(0).attach_ms;
  EXPECT_LE(flashes[0] - first_attach, kPresenceProbeSpacingMs);
  EXPECT_LE(flashes[1] - bench->Pager(1).attach_ms, kPresenceProbeSpacingMs);
  // No "f" while nobody is there: only "q" probes, kPresenceProbeSpacingMs apart.
  const std::vector<std::uint32_t> probes = TimesOf("q");
  ASSERT_GE(probes.size(), 3u);
  EXPECT_EQ(probes[0], 1000u);
  EXPECT_EQ(probes[1] - probes[0], kPresenceProbeSpacingMs);
}

// The exit command at 9600 bit/s goes unanswered, so the pager may still be
// in flash mode there: it is asked to leave at that rate too.
TEST_F(StationLoop, ThePagerIsAskedToLeaveAtTheRateItWasLastToldToo) {
  Prepare(0, {After(0)}, 1000);
  bool exit_lost = false;
  line.respond = [&, bench_answer = line.respond](const SentCommand& command, int index) {
    if (command.bytes == "q" && command.rate == 9600 && !std::exchange(exit_lost, true)) {
      return PagerReply::Silence();
    }
    return bench_answer(command, index);
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) interrupt.store(true);
  };
  Go();
  std::vector<std::uint32_t> rates;
  for (const SentCommand& command : line.commands) {
    if (command.bytes == "q" && command.at_ms > TimesOf("e0").at(0)) rates.push_back(command.rate);
  }
  // The update's own exit, then a round at 9600 and 1200, then 1200 alone.
  ASSERT_GE(rates.size(), 4u);
  EXPECT_EQ(rates[0], 9600u);
  EXPECT_EQ(rates[1], 9600u);
  EXPECT_EQ(rates.back(), 1200u);
  EXPECT_EQ(bench->Count(0, "e0"), 1);
}

// Stopped while that pager still waits on the cable: it is asked once more.
TEST_F(StationLoop, AStopAsksAPagerStillInFlashModeToLeaveIt) {
  Prepare(0, {After(0)}, 1000);
  line.respond = [bench_answer = line.respond](const SentCommand& command, int index) {
    if (command.bytes == "q" && command.rate == 9600) return PagerReply::Silence();
    return bench_answer(command, index);
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kFinished) interrupt.store(true);
  };
  Go();
  const auto exits =
      std::count_if(line.commands.begin(), line.commands.end(),
                    [](const SentCommand& c) { return c.bytes == "q" && c.rate == 9600; });
  EXPECT_EQ(exits, 2);  // the update's own, and the one at the stop
  EXPECT_EQ(line.commands.back().bytes, "q");
}

TEST_F(StationLoop, APulledAdapterIsToldOnceTriedAgainAndTheLoopGoesOn) {
  // Pulled at the start and again while the flashed pager is still on it.
  std::vector<std::uint32_t> refused;
  line.unplugged = [&] {
    const std::uint32_t now = clock.Now();
    const bool out = now < 8000 || (now >= 14000 && now < 20000);
    if (out && (refused.empty() || refused.back() != now)) refused.push_back(now);
    return out;
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) interrupt.store(true);
  };
  Run(0, {After(1000)}, 8000);
  EXPECT_EQ(listener.events,
            (std::vector<std::string>{"port-lost #0", "port-back #0", "connected #1",
                                      "finished #1 finished", "port-lost #0", "port-back #0",
                                      "removed #1"}));
  EXPECT_EQ(listener.messages[0], "Can NOT Open \"COM7\"\nThe port does not exist.");
  ASSERT_GE(refused.size(), 2u);
  EXPECT_EQ(refused[1] - refused[0], kReopenSpacingMs);
  EXPECT_EQ(bench->Count(0, "e0"), 1);
  EXPECT_EQ(listener.states.back(), "stopped");
}

// An adapter named by its serial number, plugged in after the start and
// again under another name after a loss, is opened by the name it has now.
TEST_F(StationLoop, AnAdapterNamedBySerialIsOpenedUnderTheNameItHasNow) {
  setup.given = "serial=FT12AB34";
  setup.job.port.clear();
  setup.job.adapter_serial = "FT12AB34";
  // Plugged in as COM8 three seconds after the start; after the first
  // pager, pulled out and plugged in again as COM9.
  std::string present;
  const std::uint32_t plugged_at = clock.Now() + 3000;
  setup.list_ports = [&] {
    if (present.empty() && clock.Now() >= plugged_at) present = "COM8";
    std::vector<PortInfo> ports;
    if (!present.empty()) ports.push_back(ComPort(ComNumberOf(present), "FT12AB34"));
    return ports;
  };
  line.unplugged = [&] {
    if (clock.Now() > kGiveUpMs) interrupt.store(true);
    return present.empty() || line.opened_names.back() != present;
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) present = "COM9";
  };
  const StationRow row = Run(2, {After(4000), After(1000)}, 500);
  EXPECT_EQ(listener.states.front(), "adapter missing");
  // Told as missing once at the start, and once when it went.
  EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "port-lost #0"), 2);
  EXPECT_EQ(row.finished, 2);
  EXPECT_NE(std::find(line.opened_names.begin(), line.opened_names.end(), "COM8"),
            line.opened_names.end());
  EXPECT_EQ(line.opened_names.back(), "COM9");
}

// Another port finishes the last pager wanted just as this one's pager is
// seen: it is not taken on.
TEST_F(StationLoop, APagerSeenOnceEnoughHaveFinishedIsLeftAlone) {
  Prepare(1, {After(0)}, 0);
  bench->on_command = [&](const SentCommand& command) {
    if (command.bytes == "q") tally->Record(ExitCode::kFinished);
  };
  Go();
  EXPECT_EQ(listener.events, Texts{});
  EXPECT_EQ(line.CommandTexts(), (Texts{"q"}));
  EXPECT_EQ(tally->Code(false), ExitCode::kFinished);
}

// A log that cannot take a pager's line: that pager still counts toward the
// count, and the run ends saying it was not logged.
TEST_F(StationLoop, APagerWhoseLogLineFailedStillCounts) {
  TempDir dir;
  log = std::make_unique<TraceLog>(dir.PathOf("missing/log.jsonl"), "fw.hex", "00");
  const StationRow row = Run(1, {After(0), After(1000)}, 0);
  EXPECT_EQ(row.finished, 1);
  EXPECT_EQ(bench->Count(1, "e0"), 0);
  EXPECT_EQ(tally->Code(false), ExitCode::kNotLogged);
  // Why, in the system's words.
  ASSERT_EQ(listener.notes.size(), 1u);
  EXPECT_TRUE(listener.notes[0].starts_with("cannot append to the log " +
                                            dir.PathOf("missing/log.jsonl") + ": "));
  EXPECT_TRUE(listener.notes[0].ends_with(" (its folder does not exist).")) << listener.notes[0];
}

}  // namespace
