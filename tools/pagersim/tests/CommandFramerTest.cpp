#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandFramer.h"

namespace pagersim {
namespace {

constexpr int kTimeoutMs = 2000;
constexpr int kQuietMs = 50;

// Feeds `bytes` one per millisecond from `start_ms`; returns every event produced.
std::vector<FramerEvent> FeedAll(CommandFramer& framer, const std::string& bytes, bool flash,
                                 int64_t start_ms = 0) {
  std::vector<FramerEvent> events;
  int64_t now = start_ms;
  for (char c : bytes) {
    if (auto e = framer.Expire(now)) events.push_back(*e);
    if (auto e = framer.Feed(static_cast<uint8_t>(c), flash, now)) events.push_back(*e);
    ++now;
  }
  return events;
}

TEST(CommandFramerTest, SplitsFlashModeStreamIntoCommands) {
  CommandFramer framer(kTimeoutMs, kQuietMs);
  const std::string record = ":0400000001020304F2";
  const auto events = FeedAll(framer, "fb4800B8e0s" + record + "pq", true);
  ASSERT_EQ(events.size(), 6u);
  const std::vector<std::string> expected = {"f", "b4800B8", "e0", "s" + record, "p", "q"};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(events[i].type, FramerEvent::Type::kCommand);
    EXPECT_EQ(events[i].bytes, expected[i]);
  }
  EXPECT_TRUE(framer.AtCommandStart());
}

TEST(CommandFramerTest, RecordLengthComesFromItsLengthDigits) {
  CommandFramer framer(kTimeoutMs, kQuietMs);
  // Zero data bytes: 11 characters after "s".
  auto events = FeedAll(framer, "s:00000001FF", true);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].bytes.size(), 12u);
  // 0x1F data bytes: not complete one character short.
  const std::string big = "s:1F000000" + std::string(2 * 0x1F, '0') + "E1";
  events = FeedAll(framer, big.substr(0, big.size() - 1), true);
  EXPECT_TRUE(events.empty());
  events = FeedAll(framer, big.substr(big.size() - 1), true);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].bytes, big);
}

TEST(CommandFramerTest, IdleModeAnswersEveryByteOnItsOwn) {
  CommandFramer framer(kTimeoutMs, kQuietMs);
  const auto events = FeedAll(framer, "se0", false);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].bytes, "s");
  EXPECT_EQ(events[1].bytes, "e");
}

TEST(CommandFramerTest, PartialCommandTimesOutOnlyAfterTheSilence) {
  CommandFramer framer(kTimeoutMs, kQuietMs);
  EXPECT_TRUE(FeedAll(framer, "b48", true, 100).empty());
  const int64_t last_byte_ms = 102;
  EXPECT_EQ(framer.DeadlineMs(), last_byte_ms + kTimeoutMs);
  EXPECT_FALSE(framer.Expire(last_byte_ms + kTimeoutMs - 1));
  const auto event = framer.Expire(last_byte_ms + kTimeoutMs);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, FramerEvent::Type::kTimeout);
  EXPECT_EQ(event->bytes, "b48");
  EXPECT_TRUE(framer.AtCommandStart());
  EXPECT_FALSE(framer.DeadlineMs());
}

TEST(CommandFramerTest, UnframeableRecordIsSwallowedUntilQuietThenReported) {
  CommandFramer framer(kTimeoutMs, kQuietMs);
  EXPECT_TRUE(FeedAll(framer, "s:0a000000", true).empty());
  // More of the record keeps arriving: still nothing.
  EXPECT_TRUE(FeedAll(framer, "0102030405", true, 10).empty());
  EXPECT_FALSE(framer.Expire(19 + kQuietMs - 1));
  const auto event = framer.Expire(19 + kQuietMs);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, FramerEvent::Type::kMalformed);
  EXPECT_EQ(event->bytes, "s:0a0000000102030405");
  EXPECT_NE(event->reason.find("length digit 'a'"), std::string::npos);
}

TEST(CommandFramerTest, RecordWithoutColonIsMalformed) {
  CommandFramer framer(kTimeoutMs, kQuietMs);
  EXPECT_TRUE(FeedAll(framer, "sX", true).empty());
  const auto event = framer.Expire(1 + kQuietMs);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, FramerEvent::Type::kMalformed);
  EXPECT_NE(event->reason.find("':'"), std::string::npos);
}

TEST(CommandFramerTest, StaleBytesAreNotJoinedToANewCommand) {
  CommandFramer framer(kTimeoutMs, kQuietMs);
  EXPECT_TRUE(FeedAll(framer, "e", true, 0).empty());
  const auto events = FeedAll(framer, "f", true, kTimeoutMs + 10);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].type, FramerEvent::Type::kTimeout);
  EXPECT_EQ(events[1].bytes, "f");
}

}  // namespace
}  // namespace pagersim
