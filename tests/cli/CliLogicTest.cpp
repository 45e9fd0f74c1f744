// The logic of tarvex-flash that needs no port: reading the command line,
// mapping the engine's messages to exit codes, the reports, the file check
// and the hash of the traceability log.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <set>

#include "cli/ExitCode.h"
#include "cli/FlashPlan.h"
#include "cli/HexSummary.h"
#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "cli/ReplyLatency.h"
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
        OutcomeCase{UpdateOutcome::kPortLost, ExitCode::kPortLost, "port-lost"},
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
  int resend = 3;
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, IsReadIntoAPlanOrRefused) {
  std::vector<const char*> argv = {"tarvex-flash"};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(parsed.done, GetParam().done) << parsed.err;
  EXPECT_EQ(parsed.code, GetParam().code);
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
            {"-p", "A", "-r", "0", "fw.hex"}, ExitCode::kFinished, false, {"A"}, 4800, 0},
        CommandLineCase{{"-l"}, ExitCode::kFinished, false, {}, 4800},
        CommandLineCase{{"--help"}, ExitCode::kFinished, true, {}, 0},
        CommandLineCase{{"--version"}, ExitCode::kFinished, true, {}, 0},
        CommandLineCase{{"-p", "A", "-b", "1200", "fw.hex"}, ExitCode::kUsage, true, {}, 0},
        CommandLineCase{{"-p", "A", "-r", "-1", "fw.hex"}, ExitCode::kUsage, true, {}, 0},
        CommandLineCase{{"-p", "A", "-p", "A", "fw.hex"}, ExitCode::kUsage, true, {}, 0},
        CommandLineCase{{"-p", "A"}, ExitCode::kUsage, true, {}, 0},
        CommandLineCase{{"fw.hex"}, ExitCode::kUsage, true, {}, 0},
        CommandLineCase{{"-q", "-v", "-p", "A", "fw.hex"}, ExitCode::kUsage, true, {}, 0},
        CommandLineCase{{"-p", "A", "B", "fw.hex"}, ExitCode::kUsage, true, {}, 0}));

TEST(CommandLineHelp, ListsEveryExitCode) {
  const char* argv[] = {"tarvex-flash", "--help"};
  const std::string help = ParseCommandLine(2, argv).out;
  for (const int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 130}) {
    EXPECT_NE(help.find(fmt::format(" {}  ", code)), std::string::npos) << code;
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
  EXPECT_EQ(FormatHexSummary("fw.hex", UnsoundHex(reason), 9600),
            "fw.hex: Unable to open the HEX file.\nLine 1: checksum mismatch.\n");
}

TEST(ListPorts, AdapterSerialByComNumberAndNothingFoundSaysSo) {
  PortInfo com12;
  com12.Name = "COM12";
  com12.Number = 12;
  com12.Serial = "FT5XK2LB";
  EXPECT_EQ(AdapterSerialOf("\\\\.\\COM12", {com12}), "FT5XK2LB");
  EXPECT_EQ(AdapterSerialOf("COM1", {com12}), "");
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

TEST(Report, SummaryAndJsonNameEachPagerAndWhyItFailed) {
  PortResult good{"COM5", "A600ARJH", ExitCode::kFinished, msgFinished.Text, 10.0, 8000, 164, 8.14,
                  0.6071, ""};
  PortResult bad{"COM6", "", ExitCode::kNoResponse, msgNoResponse.Text, 1.5, 1, 0, -1, -1, ""};
  const std::string table = FormatSummary({good, bad});
  EXPECT_NE(table.find("COM5  A600ARJH        finished"), std::string::npos) << table;
  // Nothing to say why; then the replies' lateness and line efficiency, or
  // dashes where no reply came.
  EXPECT_NE(table.find("800       8.1        0.61\n"), std::string::npos) << table;
  EXPECT_NE(table.find("1         -           -  No response"), std::string::npos) << table;
  EXPECT_NE(table.find("no-response"), std::string::npos);
  EXPECT_NE(table.find(msgNoResponse.Text), std::string::npos);
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
    "COM5", "A600ARJH", ExitCode::kFinished, "Firmware updated finished.", 10.0, 8000, 164, 0.4,
    0.98,   ""};

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
