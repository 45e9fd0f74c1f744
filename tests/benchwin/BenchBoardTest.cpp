// The tiles and totals of the bench window, from the core's rows and events.
#include <gtest/gtest.h>

#include <ostream>

#include "benchwin/BenchBoard.h"

namespace {

StationRow Row(PortState state, int percent = 0, int number = 0) {
  StationRow row;
  row.port = "COM5";
  row.state = state;
  row.percent = percent;
  row.number = number;
  return row;
}

StationEvent Ended(ExitCode code, int number, const std::string& message = "",
                   const std::string& hint = "") {
  StationEvent event;
  event.kind =
      code == ExitCode::kFinished ? StationEventKind::kFinished : StationEventKind::kFailed;
  event.number = number;
  event.local_time = "14:02:11";
  event.result.code = code;
  event.result.message = message;
  event.result.latency_hint = hint;
  return event;
}

// A port in touch with a pager, whose replies come `turnaround_ms` after
// the command has left.
StationRow Turnaround(double turnaround_ms) {
  StationRow row = Row(PortState::kConnect, 0, 11);
  row.turnaround_ms = turnaround_ms;
  return row;
}

struct RowCase {
  const char* name;
  StationRow row;
  const char* state;
  int percent;
  const char* pager;
  bool offer_tuning = false;
};

void PrintTo(const RowCase& c, std::ostream* out) { *out << c.name; }

class TileRow : public ::testing::TestWithParam<RowCase> {};

TEST_P(TileRow, SaysWhatToDoInWords) {
  BenchBoard board;
  board.Reset({{Row(PortState::kConnect), "USB Serial Port (FTDI), serial FT5K"}});
  board.ApplyRow(0, GetParam().row);
  const TileView& tile = board.Tile(0);
  EXPECT_EQ(tile.port, "COM5");
  EXPECT_EQ(tile.adapter, "USB Serial Port (FTDI), serial FT5K");
  EXPECT_EQ(tile.state, GetParam().state);
  EXPECT_EQ(tile.percent, GetParam().percent);
  EXPECT_EQ(tile.pager, GetParam().pager);
  EXPECT_EQ(tile.offer_tuning, GetParam().offer_tuning);
  EXPECT_EQ(board.AnyFlashing(), GetParam().row.state == PortState::kFlashing);
}

INSTANTIATE_TEST_SUITE_P(
    States, TileRow,
    ::testing::Values(
        RowCase{"Connect", Row(PortState::kConnect, 0, 11), "connect a pager", 0, ""},
        RowCase{"Flashing", Row(PortState::kFlashing, 42, 12), "flashing 42%", 42, "pager #12"},
        RowCase{"Remove", Row(PortState::kRemove, 100, 12), "remove pager #12", 0, "pager #12"},
        RowCase{"Missing", Row(PortState::kAdapterMissing, 0, 3), "adapter missing", 0, ""},
        RowCase{"Stopped", Row(PortState::kStopped, 0, 3), "stopped", 0, ""},
        // Only a port whose replies are held up past 4 ms offers Tune adapters….
        RowCase{"SlowAdapter", Turnaround(8.5), "connect a pager", 0, "", true},
        RowCase{"AtTheHintsEdge", Turnaround(4.0), "connect a pager", 0, "", false},
        RowCase{"QuickAdapter", Turnaround(0.6), "connect a pager", 0, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct EndCase {
  const char* name;
  StationEvent event;
  const char* last;
  const char* why;
  TileMood mood;
  std::optional<BenchSound> sound;
};

void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }

class TileEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(TileEnd, ShowsTheOutcomeInItsColourAndCallsForItsSound) {
  BenchBoard board;
  board.Reset({{Row(PortState::kConnect), ""}});
  EXPECT_EQ(board.ApplyEvent(GetParam().event), GetParam().sound);
  EXPECT_EQ(board.Tile(0).last, GetParam().last);
  EXPECT_EQ(board.Tile(0).why, GetParam().why);
  EXPECT_EQ(board.Tile(0).mood, GetParam().mood);
  EXPECT_EQ(board.Tile(0).detail, GetParam().event.result.latency_hint);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, TileEnd,
    ::testing::Values(
        EndCase{"Finished", Ended(ExitCode::kFinished, 11, "Firmware updated finished."),
                "#11 finished 14:02:11", "", TileMood::kGood, BenchSound::kFinished},
        EndCase{"FinishedLate", Ended(ExitCode::kFinished, 4, "", "Replies came 14 ms late."),
                "#4 finished 14:02:11", "", TileMood::kGood, BenchSound::kFinished},
        EndCase{"Failed",
                Ended(ExitCode::kNoResponse, 12,
                      "No response from the pager, flash now terminated.\nThe port was lost."),
                "#12 failed 14:02:11", "No response from the pager, flash now terminated.",
                TileMood::kBad, BenchSound::kFailed},
        // Stopped by a person, who needs no alarm.
        EndCase{"Interrupted", Ended(ExitCode::kInterrupted, 2, "Interrupted."),
                "#2 failed 14:02:11", "Interrupted.", TileMood::kBad, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tile, ALostPortSaysWhyUntilItIsBackThenTheHintAgain) {
  BenchBoard board;
  board.Reset({{Row(PortState::kConnect), ""}});
  board.ApplyEvent(Ended(ExitCode::kFinished, 1, "", "late"));
  board.ApplyRow(0, Row(PortState::kAdapterMissing));
  StationEvent lost;
  lost.kind = StationEventKind::kPortLost;
  lost.message = "Can NOT Open \"COM5\"\nThe port does not exist.";
  board.ApplyEvent(lost);
  EXPECT_EQ(board.Tile(0).detail, "Can NOT Open \"COM5\": The port does not exist.");
  StationEvent back;
  back.kind = StationEventKind::kPortBack;
  board.ApplyEvent(back);
  board.ApplyRow(0, Row(PortState::kConnect));
  EXPECT_EQ(board.Tile(0).detail, "late");
}

struct TotalsCase {
  const char* name;
  int finished;
  int failed;
  std::uint32_t elapsed_ms;
  TotalsView totals;
};

void PrintTo(const TotalsCase& c, std::ostream* out) { *out << c.name; }

class Totals : public ::testing::TestWithParam<TotalsCase> {};

TEST_P(Totals, CountYieldAndPagersPerHourSinceStart) {
  BenchBoard board;
  board.Reset({{Row(PortState::kConnect), ""}, {Row(PortState::kConnect), ""}});
  for (int i = 0; i < GetParam().finished; ++i) board.ApplyEvent(Ended(ExitCode::kFinished, i));
  for (int i = 0; i < GetParam().failed; ++i) {
    StationEvent failed = Ended(ExitCode::kRefused, i);
    failed.index = 1;
    board.ApplyEvent(failed);
  }
  EXPECT_EQ(board.Totals(GetParam().elapsed_ms), GetParam().totals);
  EXPECT_EQ(board.Finished(), GetParam().finished);
  board.Reset({{Row(PortState::kConnect), ""}});
  EXPECT_EQ(board.Totals(GetParam().elapsed_ms), (TotalsView{"0", "0", "-", "-"}))
      << "Start counts afresh";
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Totals,
    ::testing::Values(TotalsCase{"NothingYet", 0, 0, 60000, {"0", "0", "-", "-"}},
                      TotalsCase{"OnlyFailures", 0, 2, 60000, {"0", "2", "0.0 %", "-"}},
                      TotalsCase{"ThreeOfFour", 3, 1, 600000, {"3", "1", "75.0 %", "18"}},
                      TotalsCase{"TwoOfThree", 2, 1, 3600000, {"2", "1", "66.7 %", "2"}},
                      TotalsCase{"AllInAMinute", 4, 0, 60000, {"4", "0", "100.0 %", "240"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
