#include <gtest/gtest.h>

#include "PagerLog.h"

namespace pagersim {
namespace {

TEST(PagerLogTest, FormatsPaddedTimestampKindAndText) {
  EXPECT_EQ(FormatLogEvent({123, EventKind::kRx, "f"}), "000123 RX f");
  EXPECT_EQ(FormatLogEvent({1234567, EventKind::kRate, "4800"}), "1234567 RATE 4800");
  EXPECT_EQ(FormatLogEvent({5, EventKind::kInfo, ""}), "000005 INFO");
}

TEST(PagerLogTest, ParsesWhatItFormats) {
  const std::vector<LogEvent> events = {{0, EventKind::kRx, "s :0400000001020304F2"},
                                        {1, EventKind::kTx, "NAK"},
                                        {2, EventKind::kFault, "stray 0x41"},
                                        {3, EventKind::kErr, "s before e0"},
                                        {4, EventKind::kRate, "9600"},
                                        {5, EventKind::kInfo, "stop"}};
  for (const auto& event : events) {
    LogEvent parsed;
    ASSERT_TRUE(ParseLogLine(FormatLogEvent(event), &parsed)) << FormatLogEvent(event);
    EXPECT_EQ(parsed, event);
  }
}

TEST(PagerLogTest, RejectsLinesThatAreNotEvents) {
  LogEvent parsed;
  EXPECT_FALSE(ParseLogLine("", &parsed));
  EXPECT_FALSE(ParseLogLine("RX f", &parsed));
  EXPECT_FALSE(ParseLogLine("00012x RX f", &parsed));
  EXPECT_FALSE(ParseLogLine("000123 XX f", &parsed));
}

TEST(PagerLogTest, EscapesBytesThatWouldBreakTokens) {
  EXPECT_EQ(EscapeBytes("b4800B8"), "b4800B8");
  EXPECT_EQ(EscapeBytes(std::string("\x06 \\\x00\xFF", 5)), "\\x06\\x20\\x5C\\x00\\xFF");
}

TEST(PagerLogTest, FormatLogEndsEveryEventWithNewline) {
  EXPECT_EQ(FormatLog({{1, EventKind::kRx, "f"}, {2, EventKind::kTx, "ACK"}}),
            "000001 RX f\n000002 TX ACK\n");
}

}  // namespace
}  // namespace pagersim
