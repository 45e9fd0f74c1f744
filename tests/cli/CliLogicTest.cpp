// The logic of tarvex-flash that needs no port: reading the command line,
// mapping the engine's messages to exit codes, the reports, the file check
// and the hash of the traceability log.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/ExitCode.h"
#include "cli/FlashPlan.h"
#include "cli/HexSummary.h"
#include "cli/PortListing.h"
#include "cli/Report.h"
#include "cli/Sha256.h"
#include "engine/Hexproc.h"
#include "tests/support/HexText.h"

namespace {

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
        OutcomeCase{UpdateOutcome::kNone, ExitCode::kInternal, "error"}));

TEST(GangExitCode, FirstFailureInPortOrderUnlessInterrupted) {
  const std::vector<ExitCode> codes = {ExitCode::kFinished, ExitCode::kRewindsExceeded,
                                       ExitCode::kNoResponse};
  EXPECT_EQ(GangExitCode(codes, false), ExitCode::kRewindsExceeded);
  EXPECT_EQ(GangExitCode(codes, true), ExitCode::kInterrupted);
  EXPECT_EQ(GangExitCode({ExitCode::kFinished, ExitCode::kFinished}, false), ExitCode::kFinished);
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
        CommandLineCase{{"-l", "--json"}, ExitCode::kFinished, false, {}, 4800}));

std::string HelpText() {
  const char* argv[] = {"tarvex-flash", "--help"};
  return ParseCommandLine(2, argv).out;
}

TEST(CommandLine, OnePortUnderTwoNamesIsGivenTwice) {
  EXPECT_EQ(SamePortTwice({"COM5", "\\\\.\\COM5"}, {"COM5", "COM5"}),
            "the port COM5 is given twice (also as \\\\.\\COM5)");
  EXPECT_EQ(SamePortTwice({"a", "b", "c"}, {"1", "2", "2"}),
            "the port b is given twice (also as c)");
  EXPECT_EQ(SamePortTwice({"a", "b"}, {"1", "2"}), "");
}

TEST(CommandLineHelp, ListsEveryExitCode) {
  const std::string help = HelpText();
  for (const int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 130}) {
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
  EXPECT_EQ(option_lines, 11);
  for (const char* option :
       {"-p, --port PORT  ", "-b, --baud RATE  ", "-r, --resend N  ", "    --check  ",
        "-l, --list-ports  ", "    --json  ", "    --log FILE  ", "-q, --quiet  ",
        "-v, --verbose  ", "    --version  ", "-h, --help  "}) {
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
  Sha256 million;
  for (int i = 0; i < 1000; ++i) million.Update(std::string(1000, 'a'));
  EXPECT_EQ(million.HexDigest(),
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
  EXPECT_EQ(FormatPortList({}, false), "No serial ports found.\n");
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

TEST(Report, SummaryAndJsonNameEachPagerAndWhyItFailed) {
  PortResult good{"COM5", "A600ARJH", ExitCode::kFinished, msgFinished.Text, 10.0, 8000, 164};
  PortResult bad{"COM6", "", ExitCode::kNoResponse, msgNoResponse.Text, 1.5, 1, 0};
  const std::string table = FormatSummary({good, bad});
  EXPECT_NE(table.find("COM5  A600ARJH        finished"), std::string::npos) << table;
  EXPECT_NE(table.find("800\n"), std::string::npos) << table;  // nothing to say why
  EXPECT_NE(table.find("no-response"), std::string::npos);
  EXPECT_NE(table.find(msgNoResponse.Text), std::string::npos);
  const auto end = nlohmann::json::parse(JsonEnd(bad));
  EXPECT_EQ(end.at("exit_code"), 5);
  EXPECT_EQ(end.at("outcome"), "no-response");
  const auto summary = nlohmann::json::parse(JsonSummary({good, bad}, ExitCode::kNoResponse));
  EXPECT_EQ(summary.at("failed"), nlohmann::json::array({"COM6"}));
  const auto record = nlohmann::json::parse(JsonLogRecord(good, "T", "fw.hex", "00"));
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
    "COM5", "A600ARJH", ExitCode::kFinished, "Firmware updated finished.", 10.0, 8000, 164};

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
                        "seconds", "records", "bytes_per_second"}},
        JsonSchemaCase{"summary",
                       JsonSummary({kSchemaResult}, ExitCode::kFinished),
                       {"event", "exit_code", "outcome", "pagers", "failed"}},
        JsonSchemaCase{"log",
                       JsonLogRecord(kSchemaResult, "T", "fw.hex", "00"),
                       {"time", "port", "adapter_serial", "file", "sha256", "outcome", "exit_code",
                        "message", "seconds"}}),
    [](const auto& info) { return info.param.name; });

TEST(JsonSchema, MessagesNameTheirOutcomeNotTheirIcon) {
  const auto retry = nlohmann::json::parse(JsonMessage("COM5", "x", UpdateOutcome::kNone));
  EXPECT_EQ(retry.at("outcome"), "retry");
  const auto silent = nlohmann::json::parse(JsonMessage("COM5", "x", UpdateOutcome::kNoResponse));
  EXPECT_EQ(silent.at("outcome"), "no-response");
}

}  // namespace
