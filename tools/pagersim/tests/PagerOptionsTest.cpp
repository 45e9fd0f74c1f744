#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "PagerOptions.h"

namespace pagersim {
namespace {

struct ParseResult {
  bool ok;
  PagerOptions options;
  std::string err;
};

ParseResult Parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv = {"pagersim"};
  argv.insert(argv.end(), args);
  ParseResult result;
  result.ok =
      ParsePagerOptions(static_cast<int>(argv.size()), argv.data(), result.options, result.err);
  return result;
}

TEST(PagerOptionsTest, DefaultsServeAPlainPty) {
  const auto r = Parse({});
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_TRUE(r.options.link_path.empty());
  EXPECT_TRUE(r.options.device_path.empty());
  EXPECT_EQ(r.options.command_timeout_ms, kDefaultCommandTimeoutMs);
  EXPECT_EQ(r.options.exit_after_q, 0);
  EXPECT_EQ(r.options.seed, kDefaultSeed);
}

TEST(PagerOptionsTest, ParsesEveryOption) {
  const auto r = Parse({"--link",
                        "/tmp/com1",
                        "--pace",
                        "--cmd-timeout",
                        "500",
                        "--stdin-stop",
                        "--exit-after-q",
                        "2",
                        "--image-bin",
                        "a.bin",
                        "--image-hex",
                        "a.hex",
                        "--log",
                        "a.log",
                        "--verbose",
                        "--nak-send",
                        "3:2",
                        "--nak-program",
                        "4",
                        "--silent",
                        "--silent-from",
                        "9",
                        "--delay",
                        "250",
                        "--delay-from",
                        "5",
                        "--stray",
                        "7:41",
                        "--nak-cmd",
                        "6",
                        "--hangup-after",
                        "10",
                        "--random-nak",
                        "0.25",
                        "--lose-idle-replies",
                        "0.05",
                        "--seed",
                        "99",
                        "--double",
                        "3",
                        "--hold-reply",
                        "2:700",
                        "--unprompted",
                        "250:41",
                        "--sessions",
                        "3",
                        "--attach-after",
                        "400",
                        "--linger-ms",
                        "3000",
                        "--gap-ms",
                        "0",
                        "--latency-ms",
                        "16",
                        "--nul-after-rate"});
  ASSERT_TRUE(r.ok) << r.err;
  const PagerOptions& o = r.options;
  EXPECT_EQ(o.link_path, "/tmp/com1");
  EXPECT_TRUE(o.pace && o.stdin_stop && o.verbose && o.silent);
  EXPECT_EQ(o.command_timeout_ms, 500);
  EXPECT_EQ(o.exit_after_q, 2);
  EXPECT_EQ(o.image_bin_path, "a.bin");
  EXPECT_EQ(o.image_hex_path, "a.hex");
  EXPECT_EQ(o.log_path, "a.log");
  ASSERT_EQ(o.nak_send.size(), 1u);
  EXPECT_EQ(o.nak_send[0].first_send, 3);
  EXPECT_EQ(o.nak_send[0].count, 2);
  EXPECT_EQ(o.nak_program, 4);
  EXPECT_EQ(o.silent_from, 9);
  EXPECT_EQ(o.delay_ms, 250);
  EXPECT_EQ(o.delay_from, 5);
  ASSERT_EQ(o.stray.size(), 1u);
  EXPECT_EQ(o.stray[0].command, 7);
  EXPECT_EQ(o.stray[0].byte, 0x41);
  EXPECT_EQ(o.nak_cmd, std::vector<int>{6});
  EXPECT_EQ(o.hangup_after, 10);
  EXPECT_DOUBLE_EQ(o.random_nak_rate, 0.25);
  EXPECT_DOUBLE_EQ(o.lose_idle_rate, 0.05);
  EXPECT_EQ(o.seed, 99u);
  EXPECT_EQ(o.double_reply, std::vector<int>{3});
  ASSERT_EQ(o.hold_reply.size(), 1u);
  EXPECT_EQ(o.hold_reply[0].command, 2);
  EXPECT_EQ(o.hold_reply[0].at_ms, 700);
  EXPECT_EQ(o.unprompted_ms, 250);
  EXPECT_EQ(o.unprompted_byte, 0x41);
  EXPECT_EQ(o.latency_ms, 16);
  EXPECT_TRUE(o.nul_after_rate);
  EXPECT_EQ(Parse({"--unprompted", "20"}).options.unprompted_byte, 0x06);  // ACK unless given
  EXPECT_EQ(o.sessions, 3);
  EXPECT_EQ(o.attach_after_ms, 400);
  EXPECT_EQ(o.linger_ms, 3000);
  EXPECT_EQ(o.gap_ms, 0);
  EXPECT_EQ(Parse({}).options.linger_ms, -1);  // one pager, staying until the end
}

TEST(PagerOptionsTest, ImagePatternNumbersEachPager) {
  EXPECT_EQ(SessionPath("out/pager-%d.hex", 12), "out/pager-12.hex");
  EXPECT_EQ(SessionPath("%d-%d.bin", 2), "2-2.bin");
  EXPECT_EQ(SessionPath("plain.hex", 3), "plain.hex");
  EXPECT_EQ(SessionPath("100%.hex", 3), "100%.hex");
}

TEST(PagerOptionsTest, AcceptsEqualsFormAndRepeatsListOptions) {
  const auto r = Parse({"--device=/dev/ttyS0", "--nak-send=1:1", "--nak-send", "5:3",
                        "--stray=2:0xff", "--nak-cmd=1", "--nak-cmd=4"});
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.options.device_path, "/dev/ttyS0");
  ASSERT_EQ(r.options.nak_send.size(), 2u);
  EXPECT_EQ(r.options.nak_send[1].first_send, 5);
  EXPECT_EQ(r.options.stray[0].byte, 0xFF);
  EXPECT_EQ(r.options.nak_cmd, (std::vector<int>{1, 4}));
}

TEST(PagerOptionsTest, HelpIsReportedNotAnError) {
  const auto r = Parse({"--help"});
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.options.show_help);
  EXPECT_NE(PagerUsage().find("--nak-send N:K"), std::string::npos);
}

// Each bad command line must fail with a message naming what is wrong.
struct BadCase {
  const char* name;  // test name suffix
  std::vector<const char*> args;
  const char* message_part;
};

void PrintTo(const BadCase& bad, std::ostream* os) { *os << bad.name; }

class PagerOptionsErrorTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(PagerOptionsErrorTest, FailsWithMessage) {
  const BadCase& bad = GetParam();
  std::vector<const char*> argv = {"pagersim"};
  argv.insert(argv.end(), bad.args.begin(), bad.args.end());
  PagerOptions options;
  std::string err;
  EXPECT_FALSE(ParsePagerOptions(static_cast<int>(argv.size()), argv.data(), options, err));
  EXPECT_NE(err.find(bad.message_part), std::string::npos) << "message: " << err;
}

INSTANTIATE_TEST_SUITE_P(
    BadOptions, PagerOptionsErrorTest,
    ::testing::Values(
        BadCase{"UnknownOption", {"--bogus"}, "not expected: --bogus"},
        BadCase{"Positional", {"stray-word"}, "not expected: stray-word"},
        BadCase{"MissingValue", {"--delay"}, "--delay: 1 required MS missing"},
        BadCase{"NegativeDelay", {"--delay", "-5"}, "--delay"},
        BadCase{"DelayWithUnit", {"--delay", "12ms"}, "12ms"},
        BadCase{"DelayInHex", {"--delay", "0x10"}, "0x10 is not a whole decimal number"},
        BadCase{"NakSendNoColon", {"--nak-send", "3"}, "expected N:K"},
        BadCase{"NakSendZero", {"--nak-send", "0:1"}, "--nak-send: N: Value 0"},
        BadCase{"NakSendBadCount", {"--nak-send", "2:x"}, "--nak-send: K: Value x"},
        BadCase{"StrayNotHex", {"--stray", "2:XYZ"}, "one hex byte"},
        BadCase{"StrayTooBig", {"--stray", "2:100"}, "one hex byte"},
        BadCase{"RateAboveOne", {"--random-nak", "1.5"}, "probability"},
        BadCase{"RateNotNumber", {"--random-nak", "abc"}, "probability"},
        BadCase{"NegativeSeed", {"--seed", "-1"}, "--seed"},
        BadCase{"SilentFromZero", {"--silent-from", "0"}, "--silent-from"},
        BadCase{"HangupAfterZero", {"--hangup-after", "0"}, "--hangup-after: Value 0 not in range"},
        BadCase{"FlagWithValue", {"--pace=1"}, "pace was given a disallowed flag override"},
        BadCase{"LinkAndDevice", {"--link", "a", "--device", "b"}, "--link excludes --device"},
        BadCase{"DelayFromWithoutDelay", {"--delay-from", "3"}, "--delay-from requires --delay"},
        BadCase{"EmptyLogPath", {"--log", ""}, "--log"},
        BadCase{"HoldReplyNoColon", {"--hold-reply", "3"}, "expected N:MS"},
        BadCase{"UnpromptedNotHex", {"--unprompted", "10:XYZ"}, "one hex byte"},
        BadCase{"NoSessions", {"--sessions", "0"}, "--sessions"},
        BadCase{"NegativeLinger", {"--linger-ms", "-1"}, "--linger-ms"},
        BadCase{"SessionsWithoutLinger", {"--sessions", "2"}, "--sessions needs --linger-ms"},
        BadCase{"LatencyAboveAdapters", {"--latency-ms", "256"}, "--latency-ms"},
        BadCase{"NulAfterRateWithValue", {"--nul-after-rate=1"}, "disallowed flag override"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pagersim
