#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "engine/Hexproc.h"
#include "engine/UpdateSession.h"
#include "link/Dcommthread.h"
#include "link/PortError.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"
#include "tests/support/RecordingObserver.h"
#include "tests/support/ScriptedPager.h"
#include "tests/support/VirtualClock.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kRecA = HexRecordText(0x0000, 0, Bytes(16));
const std::string kRecB = HexRecordText(0x0010, 0, Bytes(16, 0x80));
const std::string kShort = HexRecordText(0x0020, 0, Bytes(3, 0xA0));

using Outcome = UpdateOutcome;

class FlowTest : public ::testing::Test {
 protected:
  FlowTest() {
    comm.DeviceFactory = pager.Factory();
    flow.SetObserver(&observer);
  }

  std::string TwoRecordFile() {
    return dir.Write("fw.hex", HexFileText({kRecA, kRecB, kEndRecordLine}));
  }

  int Run(const std::string& path) { return flow.Run(path); }

  // Answers the command whose text starts with `prefix` by `reply`, the
  // first `times` times it is seen; everything else is acknowledged.
  void Reject(const std::string& prefix, PagerReply reply, int times = 1000) {
    auto seen = std::make_shared<int>(0);
    pager.respond = [=](const SentCommand& command, int) {
      if (command.bytes.rfind(prefix, 0) == 0 && (*seen)++ < times) return reply;
      return PagerReply::Ack();
    };
  }

  TempDir dir;
  UpdateContext Context() { return {comm, settings, gui, clock}; }

  VirtualClock clock{1000};
  RecordingGui gui;
  ScriptedPager pager{clock};
  TDComm comm{gui, clock};
  FixedUpdateSettings settings{4800, 3};
  RecordingObserver observer;
  UpdateFlow flow{Context()};
};

TEST_F(FlowTest, NormalUpdateSendsEveryCommandInOrder) {
  EXPECT_EQ(Run(TwoRecordFile()), stFinish);
  EXPECT_EQ(pager.CommandTexts(),
            (Texts{"f", "b4800B8", "e0", "s" + kRecA, "p", "s" + kRecB, "p", "q"}));
  ASSERT_EQ(gui.boxes.size(), 1u);
  EXPECT_EQ(gui.boxes[0].text, "Firmware updated finished.");
  EXPECT_EQ(gui.boxes[0].caption, "Tarvex Flasher");
  EXPECT_EQ(gui.boxes[0].style, 64u);
  // Port opened at 1200 and purged, then reopened at the chosen rate; the
  // input queue alone is purged again before each of the eight commands.
  EXPECT_EQ(pager.commands[0].rate, 1200u);
  EXPECT_EQ(pager.commands[1].rate, 1200u);
  EXPECT_EQ(pager.commands[2].rate, 4800u);
  EXPECT_EQ(std::count(pager.calls.begin(), pager.calls.end(), "purge 15"), 1);
  EXPECT_EQ(std::count(pager.calls.begin(), pager.calls.end(), "purge 10"), 8);
  EXPECT_EQ(pager.opens, 2);
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_FALSE(comm.IsOpened());
  EXPECT_FALSE(flow.HexFile.IsOpen());
  // Every command follows the last reply at once, but "q" waits 100 ms.
  const auto& c = pager.commands;
  EXPECT_EQ(c[6].at_ms - c[5].at_ms, 0u);
  EXPECT_EQ(c[7].at_ms - c[6].at_ms, 100u);
  // The observer hears the same: every command at its rate, each answered.
  EXPECT_EQ(observer.commands, pager.CommandTexts());
  EXPECT_EQ(observer.command_rates,
            (std::vector<std::int32_t>{1200, 1200, 4800, 4800, 4800, 4800, 4800, 4800}));
  ASSERT_EQ(observer.replies.size(), 8u);
  for (const ReplySeen& reply : observer.replies) EXPECT_EQ(reply.reply, rpAck);
  EXPECT_EQ(observer.records, (std::vector<std::pair<int, bool>>{{1, false}, {2, false}}));
  EXPECT_EQ(observer.states, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 6, 7, 6, 7, 8, 9}));
  EXPECT_EQ(observer.MessageOutcomes(), std::vector<Outcome>{Outcome::kFinished});
  EXPECT_EQ(observer.ends, std::vector<Outcome>{Outcome::kFinished});
}

TEST_F(FlowTest, ProgressIsCompleteWhenTheFinishedBoxShows) {
  std::vector<int> seen;
  gui.on_pump = [&] { seen.push_back(flow.GetProgress()); };
  int at_box = -1;
  gui.on_box = [&](const ShownBox&) { at_box = flow.GetProgress(); };
  Run(TwoRecordFile());
  EXPECT_EQ(at_box, 100);
  ASSERT_FALSE(seen.empty());
  EXPECT_LT(seen.front(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(flow.GetProgress(), 0);  // the file is closed again
}

class RateCommands : public FlowTest,
                     public ::testing::WithParamInterface<std::pair<int, const char*>> {};

TEST_P(RateCommands, AsksThePagerForTheChosenRate) {
  settings.Rate = GetParam().first;
  Run(TwoRecordFile());
  EXPECT_EQ(pager.CommandTexts().at(1), GetParam().second);
  EXPECT_EQ(pager.commands.at(2).rate, static_cast<std::uint32_t>(GetParam().first));
  EXPECT_EQ(gui.Texts(), Texts{"Firmware updated finished."});
}

INSTANTIATE_TEST_SUITE_P(Rates, RateCommands,
                         ::testing::Values(std::pair{2400, "b2400DC"}, std::pair{4800, "b4800B8"},
                                           std::pair{9600, "b96006A"}));

TEST_F(FlowTest, UnsetRateSendsNoCommandAndWaitsInVain) {
  settings.Rate = 0;
  Run(TwoRecordFile());
  EXPECT_EQ(pager.wire, "f");
  EXPECT_EQ(gui.Texts(), Texts{"No response from the pager, flash now terminated."});
}

TEST_F(FlowTest, SilentPagerIsGivenUpAfterThreeReads) {
  pager.respond = [](const SentCommand&, int) { return PagerReply::Silence(); };
  Run(TwoRecordFile());
  EXPECT_EQ(pager.wire, "f");
  const std::uint32_t sent = pager.commands[0].at_ms;
  EXPECT_EQ(pager.read_times, (std::vector<std::uint32_t>{sent, sent + 500, sent + 1000}));
  EXPECT_EQ(clock.Now() - sent, 1500u);
  EXPECT_EQ(gui.Texts(), Texts{"No response from the pager, flash now terminated."});
  EXPECT_FALSE(comm.IsOpened());
  EXPECT_FALSE(flow.HexFile.IsOpen());
}

TEST_F(FlowTest, ReplyWithinTheLimitIsTakenLaterOneIsNot) {
  Reject("f", PagerReply::Ack(700));
  Run(TwoRecordFile());
  EXPECT_EQ(gui.Texts(), Texts{"Firmware updated finished."});
  // How long the reply took, from the command's first byte.
  EXPECT_EQ(observer.replies.at(0).elapsed_ms, 700u);
  EXPECT_EQ(observer.replies.at(1).elapsed_ms, 0u);

  ScriptedPager late(clock);
  comm.DeviceFactory = late.Factory();
  late.respond = [](const SentCommand&, int) { return PagerReply::Ack(1600); };
  gui.boxes.clear();
  UpdateFlow second{Context()};
  second.Run(TwoRecordFile());
  EXPECT_EQ(late.wire, "f");
  EXPECT_EQ(gui.Texts(), Texts{"No response from the pager, flash now terminated."});
}

TEST_F(FlowTest, ClosedChannelIsPolledEvery96MsUntilTheLimit) {
  std::vector<std::uint32_t> pumps;
  gui.on_pump = [&] { pumps.push_back(clock.Now()); };
  std::uint8_t byte = 0;
  const std::uint32_t start = clock.Now();
  EXPECT_FALSE(flow.WaitReply(1300, byte));
  ASSERT_EQ(pumps.size(), 14u);
  for (std::size_t i = 0; i < pumps.size(); ++i) EXPECT_EQ(pumps[i] - start, 96 * (i + 1));
  // The wait sleeps in short steps instead of spinning on the tick count.
  EXPECT_GT(clock.sleeps.size(), 14u);
  for (std::uint32_t step : clock.sleeps) EXPECT_LE(step, kPollSleepStepMs);
}

// Between records the window's events are pumped by time, not once a record:
// a window pumped only now and then looks hung, one pumped at every record
// costs the line time.
TEST_F(FlowTest, EventsArePumpedBetweenRecordsEveryFewTensOfMilliseconds) {
  std::vector<std::string> records;
  for (std::uint16_t i = 0; i < 20; ++i) records.push_back(HexRecordText(16 * i, 0, Bytes(16)));
  records.push_back(kEndRecordLine);
  pager.respond = [](const SentCommand&, int) { return PagerReply::Ack(10); };
  std::vector<std::uint32_t> pumps;
  // Each while a record just written is on the line, where it costs nothing.
  std::string last_sent;
  gui.on_pump = [&] {
    pumps.push_back(clock.Now());
    last_sent += pager.CommandTexts().back().substr(0, 1);
  };
  Run(dir.Write("fw.hex", HexFileText(records)));
  EXPECT_EQ(last_sent, std::string(pumps.size(), 's'));
  ASSERT_GE(pumps.size(), 5u);
  for (std::size_t i = 1; i < pumps.size(); ++i) {
    EXPECT_GE(pumps[i] - pumps[i - 1], kRecordPumpSpacingMs);
    EXPECT_LE(pumps[i] - pumps[i - 1], kRecordPumpSpacingMs + 20);  // a record's "s" and "p"
  }
}

// A record that goes out just as the spacing has passed since the last pump
// gets its pump: records kRecordPumpSpacingMs apart are each pumped.
TEST_F(FlowTest, ARecordJustAtTheSpacingGetsItsPump) {
  std::vector<std::string> records;
  for (std::uint16_t i = 0; i < 12; ++i) records.push_back(HexRecordText(16 * i, 0, Bytes(16)));
  records.push_back(kEndRecordLine);
  pager.respond = [](const SentCommand&, int) { return PagerReply::Ack(kRecordPumpSpacingMs / 2); };
  std::vector<std::uint32_t> pumps;
  gui.on_pump = [&] { pumps.push_back(clock.Now()); };
  Run(dir.Write("fw.hex", HexFileText(records)));
  ASSERT_EQ(pumps.size(), 12u);
  for (std::size_t i = 1; i < pumps.size(); ++i) {
    EXPECT_EQ(pumps[i] - pumps[i - 1], kRecordPumpSpacingMs);
  }
}

TEST_F(FlowTest, WaitSurvivesTheTickCounterWrapping) {
  VirtualClock near_wrap(0xFFFFFF00u);
  TDComm closed(gui, near_wrap);
  UpdateFlow wrapped({closed, settings, gui, near_wrap});
  std::uint8_t byte = 0;
  const std::uint32_t start = near_wrap.Now();
  EXPECT_FALSE(wrapped.WaitReply(1300, byte));
  EXPECT_EQ(near_wrap.Now() - start, 1344u);
}

struct Fault {
  const char* name;
  const char* command;  // prefix of the command that meets the fault
  PagerReply reply;
  const char* message;
  bool exit_sent;
  Outcome outcome;
};

class Faults : public FlowTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(Faults, EndWithTheirMessageAndTheExitCommandWhenDue) {
  settings.Resends = 0;
  Reject(GetParam().command, GetParam().reply, 1);
  Run(TwoRecordFile());
  EXPECT_EQ(gui.Texts(), Texts{GetParam().message});
  const auto texts = pager.CommandTexts();
  EXPECT_EQ(texts.back() == "q", GetParam().exit_sent);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "q"), GetParam().exit_sent ? 1 : 0);
  EXPECT_FALSE(comm.IsOpened());
  EXPECT_FALSE(flow.HexFile.IsOpen());
  EXPECT_EQ(observer.MessageOutcomes(), std::vector<Outcome>{GetParam().outcome});
  EXPECT_EQ(observer.ends, std::vector<Outcome>{GetParam().outcome});
  EXPECT_EQ(observer.replies.back().reply, GetParam().exit_sent ? rpAck : rpNone);
}

const char kNoResponse[] = "No response from the pager, flash now terminated.";
const char kUnexpected[] = "Received an unideftified command, flash now terminated.";

INSTANTIATE_TEST_SUITE_P(
    EachCommand, Faults,
    ::testing::Values(
        Fault{"NakEnter", "f", PagerReply::Nak(), "Fail to enter flash mode.", true,
              Outcome::kRefused},
        Fault{"StrayEnter", "f", PagerReply::Stray('A'), kUnexpected, true,
              Outcome::kUnexpectedReply},
        Fault{"SilentEnter", "f", PagerReply::Silence(), kNoResponse, false, Outcome::kNoResponse},
        Fault{"NakRate", "b", PagerReply::Nak(), "Unable to change transfering baud-rate.", true,
              Outcome::kRefused},
        Fault{"StrayRate", "b", PagerReply::Stray(0x00), kUnexpected, true,
              Outcome::kUnexpectedReply},
        Fault{"SilentRate", "b", PagerReply::Silence(), kNoResponse, false, Outcome::kNoResponse},
        Fault{"NakErase", "e0", PagerReply::Nak(), "Fail to erase Flash ROM.", true,
              Outcome::kRefused},
        Fault{"StrayErase", "e0", PagerReply::Stray(0xFF), kUnexpected, true,
              Outcome::kUnexpectedReply},
        Fault{"SilentErase", "e0", PagerReply::Silence(), kNoResponse, false, Outcome::kNoResponse},
        Fault{"NakSend", "s", PagerReply::Nak(),
              "Pager can not receive package correctly after retry, flash now terminated.", true,
              Outcome::kResendsExceeded},
        Fault{"StraySend", "s", PagerReply::Stray(0x07), kUnexpected, true,
              Outcome::kUnexpectedReply},
        Fault{"SilentSend", "s", PagerReply::Silence(), kNoResponse, false, Outcome::kNoResponse},
        Fault{"StrayProgram", "p", PagerReply::Stray(0x16), kUnexpected, true,
              Outcome::kUnexpectedReply},
        Fault{"SilentProgram", "p", PagerReply::Silence(), kNoResponse, false,
              Outcome::kNoResponse}),
    [](const auto& info) { return std::string(info.param.name); });

// What the drivers of real USB adapters do, each behind the channel: the
// update ends as the window tells it, with the commands it should send.
struct DriverCase {
  const char* name;
  std::function<void(ScriptedPager&)> driver;
  Texts boxes;
  Texts commands;
  Outcome outcome;
};

void PrintTo(const DriverCase& c, std::ostream* out) { *out << c.name; }

class AdapterDrivers : public FlowTest, public ::testing::WithParamInterface<DriverCase> {};

TEST_P(AdapterDrivers, EndAsTheWindowTellsIt) {
  GetParam().driver(pager);
  Run(TwoRecordFile());
  EXPECT_EQ(gui.Texts(), GetParam().boxes);
  EXPECT_EQ(pager.CommandTexts(), GetParam().commands);
  EXPECT_EQ(observer.ends, std::vector<Outcome>{GetParam().outcome});
  EXPECT_FALSE(comm.IsOpened());
  EXPECT_FALSE(flow.HexFile.IsOpen());
}

const char kFinishedText[] = "Firmware updated finished.";
const Texts kWholeUpdate = {"f", "b4800B8", "e0", "s" + kRecA, "p", "s" + kRecB, "p", "q"};
const Texts kUpToTheFirstRecord = {"f", "b4800B8", "e0", "s" + kRecA};
std::string LostBox() {
  return std::string(kNoResponse) + "\n" + kPortLostText + SystemErrorReason(kPulledOutError);
}

void LeaveANulBehindTheRateChange(ScriptedPager& pager) {
  pager.respond = [](const SentCommand& command, int) {
    return command.bytes[0] == 'b' ? PagerReply::AckThen(0x00, 3) : PagerReply::Ack();
  };
}

void RefuseTheReopenForAMoment(ScriptedPager& pager) {
  pager.refuse_open_from = 2;
  pager.refused_opens = 20;
  pager.refusal_error = kBusyAfterCloseError;
}

// The adapter is pulled out the moment the first record has arrived.
void PullOutAtTheFirstRecord(ScriptedPager& pager) {
  pager.respond = [&pager](const SentCommand& command, int) {
    if (command.bytes[0] != 's') return PagerReply::Ack();
    pager.hung_up = true;
    return PagerReply::Silence();
  };
}

// As Wine does: reads of the gone line look like time limits running out.
void PullOutWithReadsTimingOut(ScriptedPager& pager) {
  PullOutAtTheFirstRecord(pager);
  pager.hung_up_reads_time_out = true;
}

void HangCloses(ScriptedPager& pager) { pager.hang_closes = true; }

void HangClosesAndPullOut(ScriptedPager& pager) {
  PullOutAtTheFirstRecord(pager);
  pager.hang_closes = true;
}

const Texts kFinishedBox = {kFinishedText};
const Texts kLostBox = {LostBox()};
const Texts kFinishedAndCloseBoxes = {kFinishedText, kCloseAbandonedText};
const Texts kLostAndCloseBox = {LostBox() + "\n" + kCloseAbandonedText};

INSTANTIATE_TEST_SUITE_P(
    RealDrivers, AdapterDrivers,
    ::testing::Values(DriverCase{"NulLeftBehindTheRateChange", LeaveANulBehindTheRateChange,
                                 kFinishedBox, kWholeUpdate, Outcome::kFinished},
                      DriverCase{"ReopenRefusedForAMoment", RefuseTheReopenForAMoment, kFinishedBox,
                                 kWholeUpdate, Outcome::kFinished},
                      DriverCase{"PulledOutAwaitingAReply", PullOutAtTheFirstRecord, kLostBox,
                                 kUpToTheFirstRecord, Outcome::kPortLost},
                      DriverCase{"PulledOutWithReadsTimingOut", PullOutWithReadsTimingOut, kLostBox,
                                 kUpToTheFirstRecord, Outcome::kPortLost},
                      DriverCase{"ClosesHanging", HangCloses, kFinishedAndCloseBoxes, kWholeUpdate,
                                 Outcome::kFinished},
                      DriverCase{"CloseHangingAfterThePull", HangClosesAndPullOut, kLostAndCloseBox,
                                 kUpToTheFirstRecord, Outcome::kPortLost}),
    [](const auto& info) { return std::string(info.param.name); });

// A driver that ignores the read time limit: a reply after 700 ms is taken
// when it comes, and a silent pager is given up after the same 1.5 s as on
// a driver that keeps the limit.
TEST_F(FlowTest, WaitKeepsItsTimesWhereTheDriverIgnoresTheReadLimit) {
  pager.reads_ignore_time_limit = true;
  Reject("f", PagerReply::Ack(700));
  Run(TwoRecordFile());
  EXPECT_EQ(gui.Texts(), Texts{kFinishedText});
  EXPECT_EQ(observer.replies.at(0).elapsed_ms, 700u);

  ScriptedPager silent(clock);
  silent.reads_ignore_time_limit = true;
  silent.respond = [](const SentCommand&, int) { return PagerReply::Silence(); };
  comm.DeviceFactory = silent.Factory();
  gui.boxes.clear();
  UpdateFlow second{Context()};
  second.Run(TwoRecordFile());
  EXPECT_EQ(gui.Texts(), Texts{kNoResponse});
  EXPECT_EQ(clock.Now() - silent.commands.at(0).at_ms, 1500u);
}

// Pulled out while the reply to a record is awaited: the update ends at
// once, the device already closed when the box shows, and the next update
// on the same channel, with the adapter back, goes through.
TEST_F(FlowTest, PulledOutAdapterEndsTheUpdateAtOnceAndLeavesThePortFree) {
  PullOutAtTheFirstRecord(pager);
  int devices_at_box = -1;
  gui.on_box = [&](const ShownBox&) { devices_at_box = pager.open_devices; };
  Run(TwoRecordFile());
  EXPECT_LT(clock.Now() - pager.commands.back().at_ms, 200u);
  EXPECT_EQ(devices_at_box, 0);
  ASSERT_EQ(observer.messages.size(), 1u);
  EXPECT_EQ(observer.messages[0].Device, "COM1");
  EXPECT_EQ(observer.messages[0].SystemError, kPulledOutError);

  pager.hung_up = false;
  pager.respond = nullptr;
  gui.boxes.clear();
  UpdateFlow second{Context()};
  second.Run(TwoRecordFile());
  EXPECT_EQ(gui.Texts(), Texts{kFinishedText});
}

TEST_F(FlowTest, RateCommandRejectedLeavesThePortAtItsOldRate) {
  Reject("b", PagerReply::Nak());
  Run(TwoRecordFile());
  EXPECT_EQ(pager.commands.back().bytes, "q");
  EXPECT_EQ(pager.commands.back().rate, 1200u);
  EXPECT_EQ(pager.opens, 1);
}

struct Resends {
  int resend_times;
  int naks;
  int send_fail_boxes;
  bool finished;
};

class ResendCounts : public FlowTest, public ::testing::WithParamInterface<Resends> {};

TEST_P(ResendCounts, SendTheRejectedRecordAgainUpToTheCount) {
  settings.Resends = GetParam().resend_times;
  Reject("s" + kRecB, PagerReply::Nak(), GetParam().naks);
  Run(TwoRecordFile());
  const Texts boxes = gui.Texts();
  EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "Fail to send code-package."),
            GetParam().send_fail_boxes);
  EXPECT_EQ(boxes.back(),
            GetParam().finished
                ? "Firmware updated finished."
                : "Pager can not receive package correctly after retry, flash now terminated.");
  const auto texts = pager.CommandTexts();
  const int sendings = GetParam().finished ? GetParam().naks + 1
                                           : std::min(GetParam().naks, GetParam().resend_times + 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "s" + kRecB), sendings);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "s" + kRecA), 1);
  EXPECT_EQ(texts.back(), "q");
}

INSTANTIATE_TEST_SUITE_P(Counts, ResendCounts,
                         ::testing::Values(Resends{0, 1, 0, false}, Resends{3, 3, 3, true},
                                           Resends{3, 4, 3, false}, Resends{5, 5, 5, true},
                                           Resends{5, 6, 5, false}, Resends{4, 4, 4, true}));

TEST_F(FlowTest, ResendCountChangedDuringTheUpdateTakesEffectAtOnce) {
  settings.Resends = 5;
  Reject("s" + kRecA, PagerReply::Nak());
  gui.on_box = [this](const ShownBox&) { settings.Resends = 1; };
  Run(TwoRecordFile());
  EXPECT_EQ(gui.Texts(),
            (Texts{"Fail to send code-package.",
                   "Pager can not receive package correctly after retry, flash now terminated."}));
}

TEST_F(FlowTest, RejectedShortRecordIsSentAgainWhole) {
  const std::string path = dir.Write("short.hex", HexFileText({kRecA, kShort, kEndRecordLine}));
  Reject("s" + kShort, PagerReply::Nak(), 2);
  Run(path);
  EXPECT_EQ(pager.CommandTexts(), (Texts{"f", "b4800B8", "e0", "s" + kRecA, "p", "s" + kShort,
                                         "s" + kShort, "s" + kShort, "p", "q"}));
  EXPECT_EQ(gui.Texts(), (Texts{"Fail to send code-package.", "Fail to send code-package.",
                                "Firmware updated finished."}));
  // A resent record is the same record again, told as such.
  EXPECT_EQ(observer.records,
            (std::vector<std::pair<int, bool>>{{1, false}, {2, false}, {2, true}, {2, true}}));
  EXPECT_EQ(observer.MessageOutcomes(),
            (std::vector<Outcome>{Outcome::kNone, Outcome::kNone, Outcome::kFinished}));
}

TEST_F(FlowTest, FourRejectedProgramCommandsEndTheUpdate) {
  Reject("p", PagerReply::Nak());
  Run(TwoRecordFile());
  const Texts once = {"e0", "s" + kRecA, "p"};
  Texts expected = {"f", "b4800B8"};
  for (int i = 0; i < 4; ++i) expected.insert(expected.end(), once.begin(), once.end());
  expected.push_back("q");
  EXPECT_EQ(pager.CommandTexts(), expected);
  const char* retry = "Error on programming code, now try resend and reprogram.";
  EXPECT_EQ(gui.Texts(),
            (Texts{retry, retry, retry,
                   "Max. rewind counter exceed but still unable to program code-package."}));
  EXPECT_EQ(gui.boxes[0].style, 48u);
  EXPECT_EQ(flow.RewindCount, 3);
}

TEST_F(FlowTest, RejectedProgramRestartsFromTheEraseAndCanStillFinish) {
  auto programs = std::make_shared<int>(0);
  pager.respond = [=](const SentCommand& command, int) {
    // Reject the second record's program command, once.
    if (command.bytes == "p" && ++*programs == 2) return PagerReply::Nak();
    return PagerReply::Ack();
  };
  Run(TwoRecordFile());
  EXPECT_EQ(pager.CommandTexts(), (Texts{"f", "b4800B8", "e0", "s" + kRecA, "p", "s" + kRecB, "p",
                                         "e0", "s" + kRecA, "p", "s" + kRecB, "p", "q"}));
  EXPECT_EQ(gui.Texts(), (Texts{"Error on programming code, now try resend and reprogram.",
                                "Firmware updated finished."}));
  // The erase of the rewind starts the count of records over.
  EXPECT_EQ(observer.records,
            (std::vector<std::pair<int, bool>>{{1, false}, {2, false}, {1, false}, {2, false}}));
}

TEST_F(FlowTest, FailedReopenAtTheNewRateEndsWithoutExit) {
  pager.fail_open_number = 2;
  Run(TwoRecordFile());
  EXPECT_EQ(pager.CommandTexts(), (Texts{"f", "b4800B8"}));
  EXPECT_EQ(gui.Texts(), (Texts{"Can NOT Open \"COM1\"\nThe port does not exist.", kNoResponse}));
  EXPECT_FALSE(comm.IsOpened());
  // The port that could not be opened is what ended it.
  EXPECT_EQ(observer.MessageOutcomes(),
            (std::vector<Outcome>{Outcome::kCannotOpenPort, Outcome::kNoResponse}));
  EXPECT_EQ(observer.ends, std::vector<Outcome>{Outcome::kCannotOpenPort});
}

TEST_F(FlowTest, PortThatCannotOpenEndsBeforeTheFileIsTouched) {
  pager.fail_open_number = 1;
  comm.Port = 2;
  EXPECT_EQ(Run(TwoRecordFile()), stOpenFile);
  EXPECT_EQ(gui.Texts(), Texts{"Can NOT Open \"COM3\"\nThe port does not exist."});
  EXPECT_TRUE(pager.wire.empty());
  EXPECT_TRUE(flow.FileName.empty());
  ASSERT_EQ(observer.messages.size(), 1u);
  EXPECT_EQ(observer.messages[0].Text, gui.boxes[0].text);
  EXPECT_EQ(observer.messages[0].Device, "COM3");
  EXPECT_EQ(observer.messages[0].SystemError, kMissingPortError);
  EXPECT_EQ(observer.ends, std::vector<Outcome>{Outcome::kCannotOpenPort});
}

TEST_F(FlowTest, MissingFileIsReportedAfterOpeningThePortAndNothingIsSent) {
  Run(dir.PathOf("absent.hex"));
  ASSERT_EQ(gui.boxes.size(), 1u);
  EXPECT_EQ(gui.boxes[0].text.substr(0, 29), "Unable to open the HEX file.\n");
  EXPECT_EQ(gui.boxes[0].style, 16u);
  EXPECT_EQ(pager.purges, 1);
  EXPECT_TRUE(pager.wire.empty());
  EXPECT_FALSE(comm.IsOpened());
}

TEST_F(FlowTest, DirectoryIsNoHexFile) {
  Run(dir.path().string());
  ASSERT_EQ(gui.boxes.size(), 1u);
  EXPECT_EQ(gui.boxes[0].text.substr(0, 28), "Unable to open the HEX file.");
  EXPECT_TRUE(pager.wire.empty());
}

class BadFiles : public FlowTest,
                 public ::testing::WithParamInterface<std::pair<std::string, std::string>> {};

TEST_P(BadFiles, AreRefusedBeforeAnyByteIsSent) {
  Run(dir.Write("bad.hex", GetParam().first));
  EXPECT_EQ(gui.Texts(), Texts{"Unable to open the HEX file.\n" + GetParam().second});
  EXPECT_TRUE(pager.wire.empty());
  EXPECT_FALSE(flow.HexFile.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadFiles,
    ::testing::Values(std::pair{std::string(), std::string("Line 1: the file is empty.")},
                      std::pair{HexFileText({kRecA, kRecB}),
                                std::string("Line 3: the file has no end record.")},
                      std::pair{HexFileText({kRecA, kRecB.substr(0, 41) + "00", kEndRecordLine}),
                                std::string("Line 2: checksum mismatch.")},
                      std::pair{kRecA + "\r" + kEndRecordLine,
                                std::string("Line 1: line does not end in CR LF or LF.")},
                      std::pair{HexFileText({HexRecordText(0, 0, Bytes(20)), kEndRecordLine}),
                                std::string("Line 1: record longer than 19 data bytes.")},
                      std::pair{HexFileText({":0a00000000", kEndRecordLine}),
                                std::string("Line 1: bad record length digits.")}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(FlowTest, RecordsGoOutColonToChecksum) {
  const std::string path = dir.Write("frame.hex", HexFileText({kRecA, kShort}) + kEndRecordLine);
  Run(path);
  ASSERT_GE(pager.commands.size(), 6u);
  EXPECT_EQ(pager.commands[3].bytes.size(), 1u + 43u);
  EXPECT_EQ(pager.commands[3].bytes[0], 0x73);
  EXPECT_EQ(pager.commands[5].bytes.size(), 1u + 17u);
  EXPECT_EQ(gui.Texts(), Texts{"Firmware updated finished."});  // end record without CR LF
}

TEST_F(FlowTest, LowerCaseDigitsGoOutUnchanged) {
  std::string lower = kRecB;
  for (std::size_t i = 3; i < lower.size(); ++i)
    lower[i] = static_cast<char>(std::tolower(lower[i]));
  Run(dir.Write("lower.hex", HexFileText({lower, kEndRecordLine})));
  EXPECT_EQ(pager.CommandTexts().at(3), "s" + lower);
  EXPECT_EQ(gui.Texts(), Texts{"Firmware updated finished."});
}

struct ProgressCase {
  std::int64_t pos;
  std::uint32_t size;
  int percent;
};

class Progress : public FlowTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(Progress, IsTheConsumedShareRoundedHalfUp) {
  ASSERT_TRUE(flow.OpenHexFile(TwoRecordFile()));
  flow.FileSize = GetParam().size;
  ASSERT_TRUE(flow.Image.Seek(GetParam().pos));
  EXPECT_EQ(flow.GetProgress(), GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(Shares, Progress,
                         ::testing::Values(ProgressCase{0, 1000, 0}, ProgressCase{500, 1000, 50},
                                           ProgressCase{1000, 1000, 100},
                                           ProgressCase{995, 1000, 100},
                                           ProgressCase{125, 1000, 12}, ProgressCase{0, 0, 0}),
                         [](const auto& info) {
                           return "At" + std::to_string(info.param.pos) + "Of" +
                                  std::to_string(info.param.size);
                         });

TEST_F(FlowTest, ProgressIsZeroWithoutAnOpenFile) {
  EXPECT_EQ(flow.GetProgress(), 0);
  EXPECT_FALSE(flow.OpenHexFile(dir.PathOf("none.hex")));
  EXPECT_EQ(flow.GetProgress(), 0);
  EXPECT_EQ(flow.FileName, dir.PathOf("none.hex"));
}

TEST(Messages, TableHoldsTheTwelveTextsAndEqualityNeedsBothFields) {
  EXPECT_EQ(MessageTable[0].Message.Text, "No Message.");
  EXPECT_EQ(msgResendExceeded.Text,
            "Pager can not receive package correctly after retry, flash now terminated.");
  EXPECT_EQ(msgProgramRetry.Style, 48u);
  EXPECT_EQ(msgFinished.Style, 64u);
  EXPECT_TRUE(msgNone == (MsgType{"No Message.", 0}));
  EXPECT_FALSE(msgNone == (MsgType{"No Message.", 16}));
  EXPECT_FALSE(msgNone == (MsgType{"No message.", 0}));
  // A reason on a second line keeps the message's outcome; the messages
  // after which the update goes on end nothing.
  EXPECT_EQ(OutcomeOfMessage(MsgType{msgOpenHexFail.Text + "\nLine 2: checksum mismatch.", 16}),
            Outcome::kCannotOpenFile);
  EXPECT_EQ(OutcomeOfMessage(msgSendFail), Outcome::kNone);
  EXPECT_EQ(OutcomeOfMessage(msgProgramRetry), Outcome::kNone);
  EXPECT_EQ(OutcomeOfMessage(MsgType{msgFinished.Text, 16}), Outcome::kNone);
}

// Several updates at once share one checked image, each session on its own
// channel and settings: two alive at once, one run on another thread than
// the one that made it, ended in the other order than they were made.
TEST_F(FlowTest, SessionsKeepTheirOwnChannelAndRateOnAnyThreadInAnyOrder) {
  std::string reason;
  const auto firmware = CheckedFirmware::Check(HexFileText({kRecA, kRecB, kEndRecordLine}), reason);
  ASSERT_NE(firmware, nullptr) << reason;
  const std::atomic<bool> stop{false};
  ScriptedPager other(clock);
  RecordingObserver seen_first;
  RecordingObserver seen_second;
  auto first = std::make_unique<UpdateSession>("/dev/pager7", 9600, 0, clock);
  auto second = std::make_unique<UpdateSession>("/dev/pager8", 2400, 0, clock);
  first->SetDeviceFactory(pager.Factory());
  second->SetDeviceFactory(other.Factory());
  Outcome first_outcome = Outcome::kNone;
  std::thread([&] { first_outcome = first->Run(firmware, "fw.hex", seen_first, &stop); }).join();
  first.reset();
  EXPECT_EQ(second->Run(firmware, "fw.hex", seen_second, &stop), Outcome::kFinished);
  second.reset();
  EXPECT_EQ(first_outcome, Outcome::kFinished);
  EXPECT_EQ(pager.opened_names.front(), "/dev/pager7");
  EXPECT_EQ(pager.CommandTexts(),
            (Texts{"f", "b96006A", "e0", "s" + kRecA, "p", "s" + kRecB, "p", "q"}));
  EXPECT_EQ(other.opened_names.front(), "/dev/pager8");
  EXPECT_EQ(other.CommandTexts().at(1), "b2400DC");
  EXPECT_TRUE(gui.boxes.empty());  // told to the observers, not shown
  EXPECT_EQ(seen_first.MessageOutcomes(), std::vector<Outcome>{Outcome::kFinished});
  EXPECT_EQ(seen_second.MessageOutcomes(), std::vector<Outcome>{Outcome::kFinished});
  EXPECT_EQ(firmware.use_count(), 1);
}

// A stop asked for while the reply to a command is awaited: the reply is
// waited out, and a pager that took "f" leaves flash mode at the rate it
// listens at. Stops are asked for from the pager's side, the moment the
// command has arrived.
struct StopCase {
  const char* name;
  // 1-based: the command whose reply is awaited; 0 before the run; -1 as
  // the file is ready, between the port's opening and "f".
  int command;
  PagerReply reply;
  Texts commands;
  std::uint32_t exit_rate;  // 0: no "q"
  Outcome outcome;
};

class Stops : public FlowTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(Stops, LeaveThePagerOutOfFlashMode) {
  const StopCase& c = GetParam();
  if (c.command == 0) flow.RequestStop();
  observer.on_state = [&](std::int32_t state) {
    if (c.command == -1 && state == stFileReady) flow.RequestStop();
  };
  pager.respond = [&](const SentCommand&, int index) {
    if (index + 1 != c.command) return PagerReply::Ack();
    flow.RequestStop();
    return c.reply;
  };
  Run(TwoRecordFile());
  EXPECT_EQ(pager.CommandTexts(), c.commands);
  if (c.exit_rate != 0) {
    EXPECT_EQ(pager.commands.back().rate, c.exit_rate);
  }
  EXPECT_EQ(observer.ends, std::vector<Outcome>{c.outcome});
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_FALSE(flow.HexFile.IsOpen());
  EXPECT_EQ(pager.opens, c.command == 0 ? 0 : pager.closes);
}

INSTANTIATE_TEST_SUITE_P(
    EachMoment, Stops,
    ::testing::Values(
        StopCase{"BeforeTheRun", 0, PagerReply::Ack(), {}, 0, Outcome::kInterrupted},
        StopCase{"BeforeF", -1, PagerReply::Ack(), {}, 0, Outcome::kInterrupted},
        StopCase{
            "WhileFIsAnswered", 1, PagerReply::Ack(800), {"f", "q"}, 1200, Outcome::kInterrupted},
        StopCase{"WhileFIsUnanswered", 1, PagerReply::Silence(), {"f"}, 0, Outcome::kNoResponse},
        StopCase{"WhileTheRateIsAnswered",
                 2,
                 PagerReply::Ack(800),
                 {"f", "b4800B8", "q"},
                 4800,
                 Outcome::kInterrupted},
        StopCase{"WhileTheRateIsRefused",
                 2,
                 PagerReply::Nak(),
                 {"f", "b4800B8", "q"},
                 1200,
                 Outcome::kRefused},
        StopCase{"WhileTheEraseIsAnswered",
                 3,
                 PagerReply::Ack(),
                 {"f", "b4800B8", "e0", "q"},
                 4800,
                 Outcome::kInterrupted},
        StopCase{"WhileARecordIsAnswered",
                 4,
                 PagerReply::Ack(),
                 {"f", "b4800B8", "e0", "s" + kRecA, "q"},
                 4800,
                 Outcome::kInterrupted},
        StopCase{"WhileTheExitIsAnswered",
                 8,
                 PagerReply::Ack(),
                 {"f", "b4800B8", "e0", "s" + kRecA, "p", "s" + kRecB, "p", "q"},
                 4800,
                 Outcome::kFinished}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
