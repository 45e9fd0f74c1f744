// The fault matrix: every command of an update of a one-record file, each
// met by each fault the pager emulator can inject, over a real
// pseudo-terminal. The commands are numbered as the pager counts them:
// "f" 1, the rate command 2, "e0" 3, "s" with the record 4, "p" 5, "q" 6.
//
// Replies come within 1300 ms of the command, a little past it, or well
// past it. The wait reads the line in reads of up to 500 ms and starts a new
// read while less than 1300 ms have passed, so the last read starts near
// 1000 ms and ends near 1500 ms: a reply at 1200 ms or 1400 ms is taken, one
// at 1600 ms is not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/faults/FaultRun.h"

namespace {

using Texts = std::vector<std::string>;
using Boxes = std::vector<Box>;

const std::string kRecord = HexRecordText(0x0100, 0, Bytes(16, 0x30));
const std::vector<std::string> kRecords = {kRecord, kEndRecordLine};
const std::string kSend = "s " + kRecord;
const Texts kAll = {"f", "b4800B8", "e0", kSend, "p", "q"};
constexpr int kCommands = 6;
constexpr int kExitCommand = 6;
// No run of this matrix comes near this; a hang does.
constexpr double kHangBoundSeconds = 30.0;

// The first `count` commands of an undisturbed update.
Texts FirstCommands(int count) { return Texts(kAll.begin(), kAll.begin() + count); }

Texts FirstCommandsThenExit(int count) {
  Texts commands = FirstCommands(count);
  commands.push_back("q");
  return commands;
}

struct FaultCase {
  std::string name;
  RunPlan plan;
  Boxes boxes;
  Texts host_commands;   // what the host writes
  Texts pager_commands;  // what reaches the pager; empty: the same
  // The pager saw every command at the rate it listened at and nothing it
  // did not expect, and went back to 1200 bit/s after "q".
  bool clean_line = false;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) { return out << c.name; }

std::string CommandName(int number) {
  static const char* const kNames[] = {"", "F", "Rate", "Erase", "Send", "Program", "Exit"};
  return std::to_string(number) + kNames[number];
}

FaultCase Case(const std::string& fault, int command, std::vector<std::string> options, Boxes boxes,
               Texts host_commands) {
  FaultCase c;
  c.name = fault + "At" + CommandName(command);
  c.plan.pager_options = std::move(options);
  c.plan.records = kRecords;
  c.boxes = std::move(boxes);
  c.host_commands = std::move(host_commands);
  return c;
}

// A command that gets no reply in time ends the update at once, without the
// exit command; at the exit command itself the update has already finished.
FaultCase NoReplyCase(const std::string& fault, int command, std::vector<std::string> options) {
  if (command == kExitCommand) return Case(fault, command, std::move(options), {kFinished}, kAll);
  return Case(fault, command, std::move(options), {kNoResponse}, FirstCommands(command));
}

std::vector<std::string> Nak(int command) { return {"--nak-cmd", std::to_string(command)}; }

std::vector<FaultCase> NakCases() {
  return {
      Case("Nak", 1, Nak(1), {kEnterFlashFail}, FirstCommandsThenExit(1)),
      Case("Nak", 2, Nak(2), {kBaudFail}, FirstCommandsThenExit(2)),
      Case("Nak", 3, Nak(3), {kEraseFail}, FirstCommandsThenExit(3)),
      // A rejected package is sent again; a rejected program command starts
      // over from the erase.
      Case("Nak", 4, Nak(4), {kSendFail, kFinished},
           {"f", "b4800B8", "e0", kSend, kSend, "p", "q"}),
      Case("Nak", 5, Nak(5), {kProgramRetry, kFinished},
           {"f", "b4800B8", "e0", kSend, "p", "e0", kSend, "p", "q"}),
      // The reply to "q" is not looked at.
      Case("Nak", 6, Nak(6), {kFinished}, kAll),
  };
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A reply that comes twice: the second copy is waiting when the next command
// goes out. That command is rejected, so the update ends as the NAK case of
// that command says only if the rejection, and not the copy, is taken as its
// reply.
std::vector<FaultCase> DoubledReplyCases() {
  const std::vector<FaultCase> naks = NakCases();
  std::vector<FaultCase> cases;
  for (int n = 1; n <= kCommands; ++n) {
    const std::vector<std::string> twice = {"--double", std::to_string(n)};
    FaultCase c = n < kCommands ? naks[n] : Case("", n, {}, {kFinished}, kAll);
    c.name = "DoubledReplyAt" + CommandName(n);
    c.plan.pager_options = n < kCommands ? Joined(twice, Nak(n + 1)) : twice;
    cases.push_back(c);
  }
  return cases;
}

// A pager that sends an ACK of its own after every 30 ms of quiet, to a host
// that stays away 150 ms after each reply: stray ACKs wait before every
// command but the first. Each command in turn is rejected; the rejection
// must still be what the update acts on.
std::vector<FaultCase> UnpromptedByteCases() {
  std::vector<FaultCase> cases = NakCases();
  for (FaultCase& c : cases) {
    c.name = "UnpromptedAcksAnd" + c.name;
    c.plan.pager_options = Joined(c.plan.pager_options, {"--unprompted", "30:06"});
    c.plan.host_pause_after_reply = std::chrono::milliseconds(150);
  }
  return cases;
}

std::vector<FaultCase> StrayCases() {
  // A different byte at each command: a letter, zero, all ones, and the
  // neighbours of ACK and NAK.
  const char* const kStray[kCommands + 1] = {"", "41", "00", "FF", "07", "14", "86"};
  std::vector<FaultCase> cases;
  for (int n = 1; n <= kCommands; ++n) {
    std::vector<std::string> options = {"--stray", std::to_string(n) + ":" + kStray[n]};
    if (n == kExitCommand) {
      cases.push_back(Case("Stray", n, options, {kFinished}, kAll));
    } else {
      cases.push_back(Case("Stray", n, options, {kUnexpectedReply}, FirstCommandsThenExit(n)));
    }
  }
  return cases;
}

std::vector<FaultCase> SilenceCases() {
  std::vector<FaultCase> cases;
  for (int n = 1; n <= kCommands; ++n) {
    cases.push_back(NoReplyCase("Silence", n, {"--silent-from", std::to_string(n)}));
  }
  return cases;
}

std::vector<std::string> DelayFrom(int ms, int command) {
  return {"--delay", std::to_string(ms), "--delay-from", std::to_string(command)};
}

std::vector<FaultCase> LateReplyCases() {
  std::vector<FaultCase> cases;
  for (int n = 1; n <= kCommands; ++n) {
    for (const int ms : {1200, 1400}) {
      FaultCase taken =
          Case("ReplyAt" + std::to_string(ms) + "Ms", n, DelayFrom(ms, n), {kFinished}, kAll);
      taken.clean_line = true;
      cases.push_back(taken);
    }
    cases.push_back(NoReplyCase("ReplyAt1600Ms", n, DelayFrom(1600, n)));
  }
  return cases;
}

// The line hung up under the host, as when an adapter is pulled out: the
// channel counts the port as lost, and the box says so and why.
const Box kPortLost{kNoResponse.text + "\nThe port was lost: Input/output error (error 5).", 16};

std::vector<FaultCase> HangUpCases() {
  std::vector<FaultCase> cases;
  for (int n = 1; n <= kCommands; ++n) {
    // The reply is held back long enough for the host to be waiting when
    // the line goes.
    FaultCase c = NoReplyCase("HangUpWaiting", n, DelayFrom(1000, n));
    if (n != kExitCommand) c.boxes = {kPortLost};
    c.plan.hang_up_after_commands = static_cast<std::size_t>(n);
    c.pager_commands = c.host_commands;
    cases.push_back(c);
  }
  // The pager's own hang-up right after it acknowledged the program command:
  // the update has what it needs and finishes; the purge before its "q"
  // finds the line gone, so "q" is not even written.
  FaultCase after_program =
      Case("HangUpAfterAck", 5, {"--hangup-after", "1"}, {kFinished}, FirstCommands(5));
  cases.push_back(after_program);
  return cases;
}

// What USB adapters add on the line: a stray 0x00 a few milliseconds after
// the ACK of the rate change, at the new rate. It must not be taken for the
// reply to the erase command.
std::vector<FaultCase> AdapterCases() {
  FaultCase nul = Case("NulAfterTheAck", 2, {"--nul-after-rate"}, {kFinished}, kAll);
  nul.clean_line = true;
  return {nul};
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, GivesTheTablesMessagesAndLeavesNothingOpen) {
  const FaultCase& c = GetParam();
  const RunResult run = RunAgainstPager(c.plan);
  ASSERT_TRUE(run.pager_started) << "the pager emulator did not start";

  EXPECT_EQ(run.boxes, c.boxes);
  EXPECT_EQ(run.host_commands, c.host_commands);
  EXPECT_EQ(run.pager_commands, c.pager_commands.empty() ? c.host_commands : c.pager_commands);
  if (run.Showed(kFinished)) {
    EXPECT_EQ(run.image, run.file_image) << "finished, but the pager holds another image";
  }
  if (c.clean_line) {
    EXPECT_EQ(run.pager_errors, Texts{});
    EXPECT_EQ(run.pager_rates, (Texts{"4800", "1200"}));
  }
  EXPECT_TRUE(run.port_closed);
  EXPECT_TRUE(run.hex_file_closed);
  EXPECT_TRUE(run.descriptors_given_back);
  EXPECT_TRUE(run.pager_exited_cleanly);
  EXPECT_LT(run.seconds, kHangBoundSeconds);
}

const auto kCaseName = [](const auto& info) { return info.param.name; };

INSTANTIATE_TEST_SUITE_P(Nak, FaultMatrix, ::testing::ValuesIn(NakCases()), kCaseName);
INSTANTIATE_TEST_SUITE_P(Stray, FaultMatrix, ::testing::ValuesIn(StrayCases()), kCaseName);
INSTANTIATE_TEST_SUITE_P(DoubledReply, FaultMatrix, ::testing::ValuesIn(DoubledReplyCases()),
                         kCaseName);
INSTANTIATE_TEST_SUITE_P(Unprompted, FaultMatrix, ::testing::ValuesIn(UnpromptedByteCases()),
                         kCaseName);
INSTANTIATE_TEST_SUITE_P(Silence, FaultMatrix, ::testing::ValuesIn(SilenceCases()), kCaseName);
INSTANTIATE_TEST_SUITE_P(LateReply, FaultMatrix, ::testing::ValuesIn(LateReplyCases()), kCaseName);
INSTANTIATE_TEST_SUITE_P(HangUp, FaultMatrix, ::testing::ValuesIn(HangUpCases()), kCaseName);
INSTANTIATE_TEST_SUITE_P(Adapter, FaultMatrix, ::testing::ValuesIn(AdapterCases()), kCaseName);

}  // namespace
