// The emulator driven in-process through its pty slave, as the flasher would drive it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "PagerSim.h"
#include "PtyHost.h"

namespace pagersim {
namespace {

using testing::CountEvents;
using testing::Eventually;
using testing::kNoReplyWaitMs;
using testing::PtyHost;
using testing::SendCommand;

constexpr int kShortCommandTimeoutMs = 200;  // keeps timeout tests fast
constexpr int kSettleMs = 2000;              // generous bound for background effects

const std::vector<uint8_t> kFourBytes = {0xDE, 0xAD, 0xBE, 0xEF};

class PagerSimTest : public ::testing::Test {
 protected:
  void StartSim(PagerOptions options = {}) {
    sim_ = std::make_unique<PagerSim>(std::move(options));
    std::string err;
    ASSERT_TRUE(sim_->Start(&err)) << err;
    ASSERT_TRUE(host_.Open(sim_->SlavePath(), kInitialRateBps));
  }

  // f + e0, both expected to be accepted.
  void EnterFlashAndErase() {
    ASSERT_EQ(host_.Command("f"), kAck);
    ASSERT_EQ(host_.Command("e0"), kAck);
  }

  void SendAndProgram(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
    ASSERT_EQ(host_.Command(SendCommand(type, offset, data)), kAck);
    ASSERT_EQ(host_.Command("p"), kAck);
  }

  std::vector<LogEvent> Log() const { return sim_->Log(); }

  std::unique_ptr<PagerSim> sim_;
  PtyHost host_;
};

TEST_F(PagerSimTest, FullSessionProgramsImageHonouringAddressRecords) {
  StartSim();
  ASSERT_EQ(host_.Command("f"), kAck);
  ASSERT_EQ(host_.Command("b4800B8"), kAck);
  // Like the flasher: close, reopen at the new rate, carry on at once.
  host_.Close();
  ASSERT_TRUE(host_.Open(sim_->SlavePath(), 4800));
  ASSERT_EQ(host_.Command("e0"), kAck);
  SendAndProgram(kRecordData, 0x0100, kFourBytes);
  SendAndProgram(kRecordExtendedLinear, 0, {0x00, 0x01});
  SendAndProgram(kRecordData, 0x0010, {0x11, 0x22});
  SendAndProgram(kRecordExtendedSegment, 0, {0x20, 0x00});  // base 0x20000
  SendAndProgram(kRecordData, 0x0005, {0x33});
  SendAndProgram(kRecordStartLinear, 0, {0x00, 0x00, 0x01, 0x00});
  SendAndProgram(kRecordStartSegment, 0, {0x00, 0x00, 0x01, 0x00});
  ASSERT_EQ(host_.Command("q"), kAck);

  const std::map<uint32_t, uint8_t> expected = {{0x100, 0xDE},  {0x101, 0xAD},   {0x102, 0xBE},
                                                {0x103, 0xEF},  {0x10010, 0x11}, {0x10011, 0x22},
                                                {0x20005, 0x33}};
  EXPECT_EQ(sim_->image().bytes(), expected);
  EXPECT_EQ(sim_->CurrentRate(), 1200);  // back at the start rate after "q"
  const auto log = Log();
  EXPECT_EQ(CountEvents(log, EventKind::kErr), 0);
  EXPECT_EQ(CountEvents(log, EventKind::kRate, "4800"), 1);
  EXPECT_EQ(CountEvents(log, EventKind::kRx), sim_->CommandCount());
  EXPECT_EQ(CountEvents(log, EventKind::kTx, "ACK"), sim_->CommandCount());
}

TEST_F(PagerSimTest, HostAwayFromTheLineCausesNoErrorsAndLosesNoReply) {
  constexpr auto kHostAway = std::chrono::milliseconds(150);
  sim_ = std::make_unique<PagerSim>(PagerOptions{});
  std::string err;
  ASSERT_TRUE(sim_->Start(&err)) << err;
  std::this_thread::sleep_for(kHostAway);  // slave not opened by the host yet
  ASSERT_TRUE(host_.Open(sim_->SlavePath(), kInitialRateBps));
  ASSERT_EQ(host_.Command("f"), kAck);
  // Closes straight after sending, as a host might before a reopen; the reply must
  // still be there when it comes back.
  ASSERT_TRUE(host_.Send("b2400DC"));
  host_.Close();
  std::this_thread::sleep_for(kHostAway);
  ASSERT_TRUE(host_.Open(sim_->SlavePath(), 2400));
  EXPECT_EQ(host_.ReadByte(testing::kHostReplyTimeoutMs), kAck);
  EXPECT_EQ(host_.Command("e0"), kAck);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr), 0);
}

TEST_F(PagerSimTest, RecordArrivingInSeveralChunksIsOneCommand) {
  StartSim();
  EnterFlashAndErase();
  const std::string command = SendCommand(kRecordData, 0, kFourBytes);
  ASSERT_TRUE(host_.Send(command.substr(0, 1)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(host_.Send(command.substr(1, 6)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(host_.Send(command.substr(7)));
  EXPECT_EQ(host_.ReadByte(testing::kHostReplyTimeoutMs), kAck);
  EXPECT_TRUE(host_.NothingArrives(100));
  EXPECT_EQ(host_.Command("p"), kAck);
  EXPECT_EQ(sim_->image().At(2), 0xBE);
  EXPECT_EQ(CountEvents(Log(), EventKind::kRx, "s :"), 1);
}

TEST_F(PagerSimTest, BadChecksumIsNakedAndLeavesNothingToProgram) {
  StartSim();
  EnterFlashAndErase();
  std::string command = SendCommand(kRecordData, 0, kFourBytes);
  command.back() = command.back() == '0' ? '1' : '0';
  EXPECT_EQ(host_.Command(command), kNak);
  EXPECT_EQ(host_.Command("p"), kNak);
  EXPECT_TRUE(sim_->image().empty());
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "bad checksum"), 1);
}

TEST_F(PagerSimTest, RecordBeforeEraseIsNakedInEveryFlashSession) {
  StartSim();
  ASSERT_EQ(host_.Command("f"), kAck);
  EXPECT_EQ(host_.Command(SendCommand(kRecordData, 0, kFourBytes)), kNak);
  ASSERT_EQ(host_.Command("e0"), kAck);
  EXPECT_EQ(host_.Command(SendCommand(kRecordData, 0, kFourBytes)), kAck);
  ASSERT_EQ(host_.Command("q"), kAck);
  // The erase belonged to the previous session.
  ASSERT_EQ(host_.Command("f"), kAck);
  EXPECT_EQ(host_.Command(SendCommand(kRecordData, 0, kFourBytes)), kNak);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "s before e0"), 2);
}

TEST_F(PagerSimTest, EachAcceptedRecordCanBeProgrammedOnce) {
  StartSim();
  EnterFlashAndErase();
  EXPECT_EQ(host_.Command("p"), kNak);
  SendAndProgram(kRecordData, 0, kFourBytes);
  EXPECT_EQ(host_.Command("p"), kNak);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "p without record"), 2);
}

TEST_F(PagerSimTest, IdleLoaderNaksEverythingButF) {
  StartSim();
  EXPECT_EQ(host_.Command("x"), kNak);
  EXPECT_EQ(host_.Command("e"), kNak);  // no framing in idle: "e" alone is answered
  EXPECT_EQ(host_.Command("f"), kAck);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "unexpected byte 0x78 in idle"), 1);
}

TEST_F(PagerSimTest, UnknownCommandsInFlashModeAreNaked) {
  StartSim();
  ASSERT_EQ(host_.Command("f"), kAck);
  EXPECT_EQ(host_.Command("b1200XX"), kNak);
  EXPECT_EQ(host_.Command("e1"), kNak);
  EXPECT_EQ(host_.Command("Z"), kNak);
  EXPECT_EQ(sim_->CurrentRate(), kInitialRateBps);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr), 3);
}

TEST_F(PagerSimTest, PartialCommandIsDroppedAfterSilence) {
  PagerOptions options;
  options.command_timeout_ms = kShortCommandTimeoutMs;
  StartSim(options);
  EnterFlashAndErase();
  ASSERT_TRUE(host_.Send("s:04"));
  EXPECT_TRUE(host_.NothingArrives(kShortCommandTimeoutMs + 200));
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "timeout s:04"), 1);
  // Back to waiting for a command: "p" is a command again, not more record text.
  EXPECT_EQ(host_.Command("p"), kNak);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "p without record"), 1);
}

TEST_F(PagerSimTest, UnframeableRecordGetsExactlyOneNak) {
  StartSim();
  EnterFlashAndErase();
  // A lower-case length digit: the loader cannot size the record.
  std::string command = SendCommand(kRecordData, 0, std::vector<uint8_t>(26, 0x55));
  ASSERT_EQ(command.substr(2, 2), "1A");
  command[3] = 'a';
  EXPECT_EQ(host_.Command(command), kNak);
  EXPECT_TRUE(host_.NothingArrives(200));
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "bad record length digit"), 1);
  EXPECT_EQ(host_.Command("q"), kAck);
}

TEST_F(PagerSimTest, LowerCaseDataDigitsAreAccepted) {
  StartSim();
  EnterFlashAndErase();
  std::string command = SendCommand(kRecordData, 0x00AB, kFourBytes);
  for (size_t i = 4; i < command.size(); ++i) command[i] = static_cast<char>(tolower(command[i]));
  EXPECT_EQ(host_.Command(command), kAck);
  EXPECT_EQ(host_.Command("p"), kAck);
  EXPECT_EQ(sim_->image().At(0xAB), 0xDE);
}

TEST_F(PagerSimTest, RateChangeFollowedByHostIsNotAMismatch) {
  StartSim();
  ASSERT_EQ(host_.Command("f"), kAck);
  ASSERT_EQ(host_.Command("b96006A"), kAck);
  ASSERT_TRUE(host_.SetRate(9600));
  EXPECT_EQ(host_.Command("e0"), kAck);
  EXPECT_EQ(sim_->CurrentRate(), 9600);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "rate mismatch"), 0);
}

TEST_F(PagerSimTest, HostStayingAtOldRateIsReportedAsMismatch) {
  StartSim();
  ASSERT_EQ(host_.Command("f"), kAck);
  ASSERT_EQ(host_.Command("b4800B8"), kAck);
  EXPECT_EQ(host_.Command("e0"), kAck);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "rate mismatch: expected 4800 got 1200"), 1);
}

TEST_F(PagerSimTest, NakSendRejectsTheRecordAndItsResends) {
  PagerOptions options;
  options.nak_send = {{2, 2}};
  StartSim(options);
  EnterFlashAndErase();
  SendAndProgram(kRecordData, 0, {0x01});
  const std::string second = SendCommand(kRecordData, 1, {0x02});
  EXPECT_EQ(host_.Command(second), kNak);
  EXPECT_EQ(host_.Command(second), kNak);
  EXPECT_EQ(host_.Command(second), kAck);
  EXPECT_EQ(host_.Command("p"), kAck);
  EXPECT_EQ(sim_->image().At(1), 0x02);
  EXPECT_EQ(CountEvents(Log(), EventKind::kFault, "nak-send"), 2);
}

TEST_F(PagerSimTest, NakProgramRejectsFirstProgramsButKeepsRecord) {
  PagerOptions options;
  options.nak_program = 2;
  StartSim(options);
  EnterFlashAndErase();
  ASSERT_EQ(host_.Command(SendCommand(kRecordData, 0, kFourBytes)), kAck);
  EXPECT_EQ(host_.Command("p"), kNak);
  EXPECT_EQ(host_.Command("p"), kNak);
  EXPECT_TRUE(sim_->image().empty());
  EXPECT_EQ(host_.Command("p"), kAck);
  EXPECT_EQ(sim_->image().size(), kFourBytes.size());
}

TEST_F(PagerSimTest, SilentFromStopsAnsweringAndCarryingOut) {
  PagerOptions options;
  options.silent_from = 3;
  StartSim(options);
  EnterFlashAndErase();
  EXPECT_EQ(host_.Command(SendCommand(kRecordData, 0, kFourBytes), kNoReplyWaitMs), std::nullopt);
  EXPECT_EQ(host_.Command("p", kNoReplyWaitMs), std::nullopt);
  EXPECT_TRUE(sim_->image().empty());
  EXPECT_EQ(CountEvents(Log(), EventKind::kFault, "silent"), 2);
}

TEST_F(PagerSimTest, SilentNeverAnswers) {
  PagerOptions options;
  options.silent = true;
  StartSim(options);
  EXPECT_EQ(host_.Command("f", kNoReplyWaitMs), std::nullopt);
  EXPECT_EQ(CountEvents(Log(), EventKind::kTx), 0);
}

TEST_F(PagerSimTest, StrayReplyStillCarriesOutTheCommand) {
  PagerOptions options;
  options.stray = {{2, 0x41}};
  StartSim(options);
  ASSERT_EQ(host_.Command("f"), kAck);
  EXPECT_EQ(host_.Command("e0"), 0x41);
  // The erase happened: records are accepted and land in the image.
  EXPECT_EQ(host_.Command(SendCommand(kRecordData, 0, kFourBytes)), kAck);
  EXPECT_EQ(host_.Command("p"), kAck);
  EXPECT_EQ(sim_->image().size(), kFourBytes.size());
  EXPECT_EQ(CountEvents(Log(), EventKind::kTx, "0x41"), 1);
}

TEST_F(PagerSimTest, NakCmdRejectsWithoutCarryingOut) {
  PagerOptions options;
  options.nak_cmd = {2};
  StartSim(options);
  ASSERT_EQ(host_.Command("f"), kAck);
  EXPECT_EQ(host_.Command("e0"), kNak);
  // Not erased, so a record is refused.
  EXPECT_EQ(host_.Command(SendCommand(kRecordData, 0, kFourBytes)), kNak);
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr, "s before e0"), 1);
}

TEST_F(PagerSimTest, DelayHoldsBackRepliesFromTheGivenCommand) {
  constexpr int kDelayMs = 300;
  PagerOptions options;
  options.delay_ms = kDelayMs;
  options.delay_from = 2;
  StartSim(options);
  ASSERT_EQ(host_.Command("f"), kAck);
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(host_.Command("e0"), kAck);
  const auto waited = std::chrono::steady_clock::now() - sent;
  EXPECT_GE(waited, std::chrono::milliseconds(kDelayMs));
  EXPECT_EQ(CountEvents(Log(), EventKind::kFault, "delay 300"), 1);
}

TEST_F(PagerSimTest, HangupClosesLineAfterProgrammedRecords) {
  PagerOptions options;
  options.hangup_after = 2;
  StartSim(options);
  EnterFlashAndErase();
  SendAndProgram(kRecordData, 0, {0x01});
  SendAndProgram(kRecordData, 1, {0x02});  // its ACK still reaches the host
  ASSERT_TRUE(Eventually([&] { return sim_->Finished(); }, kSettleMs));
  const bool sent = host_.Send(SendCommand(kRecordData, 2, {0x03}));
  EXPECT_FALSE(sent && host_.ReadByte(kNoReplyWaitMs).has_value());
  EXPECT_EQ(host_.last_errno(), EIO);
  EXPECT_EQ(sim_->image().size(), 2u);
  EXPECT_EQ(CountEvents(Log(), EventKind::kFault, "hangup"), 1);
}

TEST_F(PagerSimTest, ExitAfterQFinishesAfterTheNthQuit) {
  PagerOptions options;
  options.exit_after_q = 2;
  StartSim(options);
  ASSERT_EQ(host_.Command("f"), kAck);
  ASSERT_EQ(host_.Command("q"), kAck);
  EXPECT_FALSE(sim_->Finished());
  ASSERT_EQ(host_.Command("f"), kAck);
  ASSERT_EQ(host_.Command("q"), kAck);
  EXPECT_TRUE(Eventually([&] { return sim_->Finished(); }, kSettleMs));
}

TEST_F(PagerSimTest, PacingMakesARecordTakeItsLineTime) {
  PagerOptions options;
  options.pace = true;
  StartSim(options);
  ASSERT_EQ(host_.Command("f"), kAck);
  ASSERT_EQ(host_.Command("e0"), kAck);
  const std::string command = SendCommand(kRecordData, 0, std::vector<uint8_t>(16, 0));
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(host_.Command(command), kAck);
  // At 1200 bit/s a byte is 10/1200 s; the record plus its reply cannot be faster.
  const auto line_time = std::chrono::microseconds((command.size() + 1) * 10 * 1000000 / 1200);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, line_time);
}

TEST_F(PagerSimTest, UnpromptedByteComesAfterQuietAndNeverInsideACommand) {
  PagerOptions options;
  options.unprompted_ms = 100;
  options.unprompted_byte = 0x41;
  StartSim(options);
  EXPECT_EQ(host_.ReadByte(kSettleMs), 0x41);
  ASSERT_EQ(host_.Command("f"), kAck);
  // Half a command, then silence longer than the period: no byte while it is open.
  ASSERT_TRUE(host_.Send("e"));
  EXPECT_TRUE(host_.NothingArrives(250));
  EXPECT_EQ(host_.Command("0"), kAck);
  EXPECT_EQ(host_.ReadByte(kSettleMs), 0x41);
  EXPECT_GE(CountEvents(Log(), EventKind::kFault, "unprompted 0x41"), 2);
}

TEST_F(PagerSimTest, BenchOfPagersComeAndGoEachAFreshLoaderWithItsOwnImage) {
  const std::string dir = ::testing::TempDir() + "pagersim-bench-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  PagerOptions options;
  options.sessions = 2;
  options.attach_after_ms = 200;
  options.linger_ms = 200;
  options.gap_ms = 100;
  options.nak_program = 1;  // every pager refuses its first "p"
  options.image_hex_path = dir + "/pager-%d.hex";
  StartSim(options);
  const auto attached = [&](int pager) {
    return Eventually([&] { return sim_->AttachedPager() == pager; }, kSettleMs);
  };
  // Nobody on the line yet: the byte is lost, not kept for the pager to come.
  EXPECT_EQ(host_.Command("f", kNoReplyWaitMs), std::nullopt);
  for (const uint8_t data : {0x11, 0x22}) {
    ASSERT_TRUE(attached(data == 0x11 ? 1 : 2));
    EnterFlashAndErase();
    ASSERT_EQ(host_.Command(SendCommand(kRecordData, 0, {data})), kAck);
    EXPECT_EQ(host_.Command("p"), kNak);
    EXPECT_EQ(host_.Command("p"), kAck);
    ASSERT_EQ(host_.Command("q"), kAck);
    // Lingering on the cable, the loader still answers.
    EXPECT_EQ(host_.Command("q"), kNak);
    ASSERT_TRUE(attached(0));
    EXPECT_EQ(host_.Command("f", kNoReplyWaitMs), std::nullopt);
  }
  // Its last pager gone, the bench is over once the host lets go of the line.
  EXPECT_FALSE(Eventually([&] { return sim_->Finished(); }, 300));
  host_.Close();
  EXPECT_TRUE(Eventually([&] { return sim_->Finished(); }, kSettleMs));
  std::string err;
  ASSERT_TRUE(sim_->WriteOutputs(&err)) << err;
  for (const auto& [pager, data] : {std::pair{1, 0x11}, std::pair{2, 0x22}}) {
    FlashImage expected;
    expected.Program(0, {static_cast<uint8_t>(data)});
    std::ifstream in(dir + "/pager-" + std::to_string(pager) + ".hex", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected.ToIntelHex());
    EXPECT_EQ(CountEvents(Log(), EventKind::kInfo, "pager " + std::to_string(pager)), 2);
  }
  EXPECT_EQ(CountEvents(Log(), EventKind::kInfo, "erase"), 2);
  std::filesystem::remove_all(dir);
}

// A reply that is ready right after one delivered on a tick of the adapter's
// timer waits for the next tick.
TEST_F(PagerSimTest, LatencyDeliversRepliesOnTheTimersTicks) {
  constexpr auto kTick = std::chrono::milliseconds(200);
  PagerOptions options;
  options.latency_ms = 200;
  StartSim(options);
  ASSERT_EQ(host_.Command("f"), kAck);
  const auto first = std::chrono::steady_clock::now();
  ASSERT_EQ(host_.Command("f"), kAck);
  const auto second = std::chrono::steady_clock::now();
  EXPECT_GE(second - first, kTick - std::chrono::milliseconds(10));
  EXPECT_EQ(CountEvents(Log(), EventKind::kErr), 0);
}

TEST_F(PagerSimTest, NulFollowsTheAckOfARateChange) {
  PagerOptions options;
  options.nul_after_rate = true;
  StartSim(options);
  ASSERT_EQ(host_.Command("f"), kAck);
  ASSERT_EQ(host_.Command("b96006A"), kAck);
  EXPECT_EQ(host_.ReadByte(kSettleMs), 0x00);
  EXPECT_EQ(CountEvents(Log(), EventKind::kFault, "nul-after-rate"), 1);
}

TEST(LinePacerTest, ByteTimesKeepTheirFractionsWithoutAddingUp) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start{};
  LinePacer<Clock> pacer(start);
  // Three bytes at 9600 bit/s take 3 * 1041.666... us: exactly 3125 us.
  pacer.Next(start, 9600);
  pacer.Next(start, 9600);
  EXPECT_EQ(pacer.Next(start, 9600) - start, std::chrono::microseconds(3125));
  for (int i = 3; i < 9600; ++i) pacer.Next(start, 9600);
  EXPECT_EQ(pacer.FreeAt() - start, std::chrono::seconds(10));
  // After a pause the next byte starts when it could, not behind the last one.
  const auto later = start + std::chrono::seconds(20);
  EXPECT_EQ(pacer.Next(later, 1200) - later, std::chrono::nanoseconds(8333333));
}

TEST_F(PagerSimTest, StopInterruptsALongDelay) {
  PagerOptions options;
  options.delay_ms = 60000;
  StartSim(options);
  ASSERT_TRUE(host_.Send("f"));
  ASSERT_TRUE(Eventually([&] { return sim_->CommandCount() == 1; }, kSettleMs));
  const auto stop_began = std::chrono::steady_clock::now();
  sim_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stop_began, std::chrono::seconds(10));
  EXPECT_EQ(CountEvents(Log(), EventKind::kTx), 0);
}

TEST_F(PagerSimTest, SecondStartIsRefused) {
  StartSim();
  std::string err;
  EXPECT_FALSE(sim_->Start(&err));
  EXPECT_FALSE(err.empty());
}

TEST(PagerSimDeviceTest, MissingDeviceFailsToStartWithReason) {
  PagerOptions options;
  options.device_path = "/nonexistent/ttyS99";
  PagerSim sim(options);
  std::string err;
  EXPECT_FALSE(sim.Start(&err));
  EXPECT_NE(err.find("/nonexistent/ttyS99"), std::string::npos);
}

TEST(PagerSimDeviceTest, ServesOnAnExistingDevice) {
  // The slave of a pty we own stands in for a serial port; the test talks on its master.
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  PagerOptions options;
  options.device_path = ptsname(master);
  PagerSim sim(options);
  std::string err;
  ASSERT_TRUE(sim.Start(&err)) << err;
  ASSERT_EQ(write(master, "f", 1), 1);
  pollfd in = {master, POLLIN, 0};
  ASSERT_EQ(poll(&in, 1, testing::kHostReplyTimeoutMs), 1);
  uint8_t reply = 0;
  ASSERT_EQ(read(master, &reply, 1), 1);
  EXPECT_EQ(reply, kAck);
  sim.Stop();
  close(master);
}

}  // namespace
}  // namespace pagersim
