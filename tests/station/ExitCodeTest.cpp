// The bench core's records of a pager: how each ending maps to an exit code
// and its name, a gang's code, and how late replies came and what that
// costs.
#include <gtest/gtest.h>

#include <vector>

#include "engine/Hexproc.h"
#include "engine/Turnaround.h"
#include "station/Advice.h"
#include "station/ExitCode.h"
#include "station/ReplyLatency.h"

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
  // A log line that failed is told only for a pager that finished; a
  // failure says why it failed.
  EXPECT_EQ(PagerExitCode(ExitCode::kFinished, false), ExitCode::kNotLogged);
  EXPECT_EQ(PagerExitCode(ExitCode::kRefused, false), ExitCode::kRefused);
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
  PortTurnaround turnaround;
  const auto add = [&](std::size_t bytes, std::uint32_t ms) {
    latency.Add(bytes, 9600, ms);
    turnaround.Add(bytes, 9600, ms);
  };
  add(2, c.e0_ms);
  for (int i = 0; i < c.records; ++i) {
    add(44, c.s_ms);
    add(1, c.p_ms);
  }
  EXPECT_NEAR(latency.TypicalLateMs(), c.typical_ms, 0.05);
  // The port's turnaround is the same figure, from the same replies.
  EXPECT_NEAR(turnaround.TypicalMs(), c.typical_ms, 0.05);
  EXPECT_NEAR(latency.LineEfficiency(), c.efficiency, 0.005);
  EXPECT_EQ(LatencyHint("COM7", turnaround.TypicalMs(), latency, 16).empty(), !c.hint);
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
  EXPECT_EQ(LatencyHint("COM7", latency.TypicalLateMs(), latency, 16),
            "COM7: replies come 8 ms late (" + LatencyTimerFinding(16) + "); " +
                LatencyTimerRemedy("COM7", 16) + ", to flash about 1.3x faster.");
  // A timer already at 1 ms is not the cause, and no gain is promised.
  const std::string at_one_ms = LatencyHint("COM7", latency.TypicalLateMs(), latency, 1);
  EXPECT_NE(at_one_ms.find("adapter latency timer 1 ms: the delay is not"), std::string::npos);
  EXPECT_EQ(at_one_ms.find("faster"), std::string::npos);
}

}  // namespace
