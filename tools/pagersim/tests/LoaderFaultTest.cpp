// Loader semantics that need many commands or exact counting, without a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "LoaderCore.h"
#include "PtyHost.h"

namespace pagersim {
namespace {

using testing::SendCommand;

class LoaderHarness {
 public:
  explicit LoaderHarness(PagerOptions options = {})
      : core_(std::move(options), [this](EventKind kind, std::string text) {
          events_.push_back({0, kind, std::move(text)});
        }) {}

  std::optional<uint8_t> Reply(std::string bytes) { return Run(std::move(bytes)).reply; }
  CommandOutcome Run(std::string bytes) {
    Command command;
    command.bytes = std::move(bytes);
    return core_.Handle(command);
  }
  void EnterAndErase() {
    ASSERT_EQ(Reply("f"), kAck);
    ASSERT_EQ(Reply("e0"), kAck);
  }

  LoaderCore& core() { return core_; }
  const std::vector<LogEvent>& events() const { return events_; }

 private:
  std::vector<LogEvent> events_;
  LoaderCore core_;
};

// Replies to alternating "s"/"p" for `count` records.
std::vector<uint8_t> RecordReplies(const PagerOptions& options, int count) {
  LoaderHarness loader(options);
  loader.EnterAndErase();
  std::vector<uint8_t> replies;
  for (int i = 0; i < count; ++i) {
    replies.push_back(*loader.Reply(SendCommand(kRecordData, static_cast<uint16_t>(i), {1})));
    replies.push_back(*loader.Reply("p"));
  }
  return replies;
}

int Count(const std::vector<uint8_t>& replies, uint8_t value) {
  return static_cast<int>(std::count(replies.begin(), replies.end(), value));
}

TEST(LoaderFaultTest, RandomNakIsReproducibleForASeed) {
  PagerOptions options;
  options.random_nak_rate = 0.5;
  options.seed = 1234;
  const auto first = RecordReplies(options, 50);
  EXPECT_EQ(first, RecordReplies(options, 50));
  // With p = 0.5 over 100 draws both outcomes must show up.
  EXPECT_GT(Count(first, kNak), 0);
  EXPECT_GT(Count(first, kAck), 0);
  options.seed = 4321;
  EXPECT_NE(first, RecordReplies(options, 50));
}

TEST(LoaderFaultTest, RandomNakRateExtremes) {
  PagerOptions options;
  options.random_nak_rate = 1.0;
  EXPECT_EQ(Count(RecordReplies(options, 10), kAck), 0);
  options.random_nak_rate = 0.0;
  EXPECT_EQ(Count(RecordReplies(options, 10), kNak), 0);
}

TEST(LoaderFaultTest, RandomNakLeavesOtherCommandsAlone) {
  PagerOptions options;
  options.random_nak_rate = 1.0;
  LoaderHarness loader(options);
  EXPECT_EQ(loader.Reply("f"), kAck);
  EXPECT_EQ(loader.Reply("e0"), kAck);
  EXPECT_EQ(loader.Reply("b2400DC").value(), kAck);
  EXPECT_EQ(loader.Reply("q"), kAck);
}

// Replies in idle are lost at the rate asked for; flash mode and the
// --random-nak pattern are left as they are.
TEST(LoaderFaultTest, IdleRepliesAreLostAtTheirRateAndNothingElse) {
  PagerOptions options;
  options.lose_idle_rate = 0.5;
  options.random_nak_rate = 0.5;
  options.seed = 1234;
  LoaderHarness loader(options);
  int lost = 0;
  for (int i = 0; i < 100; ++i) lost += loader.Reply("q") ? 0 : 1;
  EXPECT_GT(lost, 30);
  EXPECT_LT(lost, 70);
  const auto with_losses = RecordReplies(options, 50);
  options.lose_idle_rate = 0.0;
  EXPECT_EQ(with_losses, RecordReplies(options, 50));
  options.lose_idle_rate = 1.0;
  LoaderHarness losing(options);
  EXPECT_EQ(losing.Reply("q"), std::nullopt);
  EXPECT_EQ(losing.Reply("f"), kAck);
  EXPECT_EQ(losing.Reply("e0"), kAck);
}

TEST(LoaderFaultTest, NakSendCountsEveryRecordCommandIncludingRejectedOnes) {
  PagerOptions options;
  options.nak_send = {{3, 1}};
  LoaderHarness loader(options);
  loader.EnterAndErase();
  std::string bad = SendCommand(kRecordData, 0, {1});
  bad.back() = bad.back() == '0' ? '1' : '0';
  EXPECT_EQ(loader.Reply(bad), kNak);                               // s #1, bad checksum
  EXPECT_EQ(loader.Reply(SendCommand(kRecordData, 0, {1})), kAck);  // s #2
  EXPECT_EQ(loader.Reply(SendCommand(kRecordData, 1, {2})), kNak);  // s #3, injected
  EXPECT_EQ(loader.Reply(SendCommand(kRecordData, 1, {2})), kAck);  // s #4
}

TEST(LoaderFaultTest, SeveralNakSendWindowsCombine) {
  PagerOptions options;
  options.nak_send = {{1, 1}, {4, 2}};
  const auto replies = RecordReplies(options, 6);
  // Every other reply is a "p"; the record replies are at even positions.
  const std::vector<uint8_t> expected_sends = {kNak, kAck, kAck, kNak, kNak, kAck};
  for (size_t i = 0; i < expected_sends.size(); ++i) {
    EXPECT_EQ(replies[2 * i], expected_sends[i]) << "s #" << i + 1;
  }
}

TEST(LoaderFaultTest, RecordTypesOtherThanKnownOnesAreRefusedAtProgram) {
  LoaderHarness loader;
  loader.EnterAndErase();
  EXPECT_EQ(loader.Reply(SendCommand(kRecordEndOfFile, 0, {})), kAck);
  EXPECT_EQ(loader.Reply("p"), kNak);
  EXPECT_EQ(loader.Reply(SendCommand(kRecordExtendedLinear, 0, {1, 2, 3})), kAck);
  EXPECT_EQ(loader.Reply("p"), kNak);  // address records carry exactly two bytes
}

TEST(LoaderFaultTest, ReprogrammingBehavesLikeFlashAndIsReported) {
  LoaderHarness loader;
  loader.EnterAndErase();
  EXPECT_EQ(loader.Reply(SendCommand(kRecordData, 0, {0xF0})), kAck);
  EXPECT_EQ(loader.Reply("p"), kAck);
  EXPECT_EQ(loader.Reply(SendCommand(kRecordData, 0, {0x3C})), kAck);
  EXPECT_EQ(loader.Reply("p"), kAck);
  EXPECT_EQ(loader.core().image().At(0), 0x30);  // bits only go from 1 to 0
  EXPECT_EQ(testing::CountEvents(loader.events(), EventKind::kErr, "reprogrammed 1"), 1);
}

TEST(LoaderFaultTest, RateChangeIsReportedForTheLineNotAppliedByTheLoader) {
  LoaderHarness loader;
  ASSERT_EQ(loader.Reply("f"), kAck);
  const CommandOutcome outcome = loader.Run("b2400DC");
  EXPECT_EQ(outcome.new_rate_bps, 2400);
  // The ACK still has to go out at the old rate.
  EXPECT_EQ(loader.core().rate_bps(), kInitialRateBps);
}

TEST(LoaderFaultTest, StrayAppliesToItsCommandOnly) {
  PagerOptions options;
  options.stray = {{1, 0x00}, {3, 0xFF}};
  LoaderHarness loader(options);
  EXPECT_EQ(loader.Reply("f"), 0x00);
  EXPECT_EQ(loader.Reply("e0"), kAck);
  EXPECT_EQ(loader.Reply("p"), 0xFF);  // would have been a NAK
}

TEST(LoaderFaultTest, ErasingDropsAPendingRecord) {
  LoaderHarness loader;
  loader.EnterAndErase();
  ASSERT_EQ(loader.Reply(SendCommand(kRecordData, 0, {1})), kAck);
  ASSERT_EQ(loader.Reply("e0"), kAck);
  EXPECT_EQ(loader.Reply("p"), kNak);
}

}  // namespace
}  // namespace pagersim
