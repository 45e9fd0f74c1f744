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
  board.Reset({{Row(PortState::kConnect), "USB Serial Port (FTDI)", "FT5K"}});
  board.ApplyRow(0, GetParam().row);
  const TileView& tile = board.Tile(0);
  EXPECT_EQ(tile.port, "COM5");
  EXPECT_EQ(tile.adapter, "USB Serial Port (FTDI)");
  EXPECT_EQ(tile.serial, "serial FT5K") << "on a line of its own, so a long name cannot hide it";
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
        // Drawn large in a word; the sentence goes below.
        RowCase{"WaitingForAPlace", Row(PortState::kWaitingForPlace, 0, 3), "waiting", 0, ""},
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
  // How the detail below the pager's words begins: the next step after a
  // failure, else the latency hint.
  const char* detail = "";
};

void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }

class TileEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(TileEnd, ShowsTheOutcomeInItsColourAndCallsForItsSound) {
  BenchBoard board;
  board.Reset({{Row(PortState::kConnect), "", ""}});
  EXPECT_EQ(board.ApplyEvent(GetParam().event, 1000), GetParam().sound);
  EXPECT_EQ(board.Tile(0).last, GetParam().last);
  EXPECT_EQ(board.Tile(0).why, GetParam().why);
  EXPECT_EQ(board.Tile(0).mood, GetParam().mood);
  const std::string detail = GetParam().detail;
  EXPECT_EQ(board.Tile(0).detail.substr(0, detail.size()), detail);
  EXPECT_EQ(board.Tile(0).detail.empty(), detail.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, TileEnd,
    ::testing::Values(
        EndCase{"Finished", Ended(ExitCode::kFinished, 11, "Firmware updated finished."),
                "#11 finished 14:02:11", "", TileMood::kGood, BenchSound::kFinished},
        EndCase{"FinishedLate", Ended(ExitCode::kFinished, 4, "", "Replies came 14 ms late."),
                "#4 finished 14:02:11", "", TileMood::kGood, BenchSound::kFinished,
                "Replies came 14 ms late."},
        EndCase{"Failed",
                Ended(ExitCode::kNoResponse, 12,
                      "No response from the pager, flash now terminated.\nThe port was lost."),
                "#12 failed 14:02:11", "No response from the pager, flash now terminated.",
                TileMood::kBad, BenchSound::kFailed, "The pager did not answer: check that it"},
        EndCase{"RewindsExceeded",
                Ended(ExitCode::kRewindsExceeded, 5,
                      "Max. rewind counter exceed but still unable to program code-package."),
                "#5 failed 14:02:11",
                "Max. rewind counter exceed but still unable to program code-package.",
                TileMood::kBad, BenchSound::kFailed, "The pager could not program its flash: set"},
        EndCase{"FailedLate",
                Ended(ExitCode::kResendsExceeded, 6,
                      "Pager can not receive package correctly after retry, flash now terminated.",
                      "Replies came 14 ms late."),
                "#6 failed 14:02:11",
                "Pager can not receive package correctly after retry, flash now terminated.",
                TileMood::kBad, BenchSound::kFailed, "Packages kept arriving damaged: try another"},
        // Stopped by a person, who needs no alarm.
        EndCase{"Interrupted", Ended(ExitCode::kInterrupted, 2, "Interrupted."),
                "#2 failed 14:02:11", "Interrupted.", TileMood::kBad, std::nullopt,
                "The update was stopped"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tile, ALostPortSaysWhyUntilItIsBackThenTheHintAgain) {
  BenchBoard board;
  board.Reset({{Row(PortState::kConnect), "", ""}});
  board.ApplyEvent(Ended(ExitCode::kFinished, 1, "", "late"), 1000);
  board.ApplyRow(0, Row(PortState::kAdapterMissing));
  StationEvent lost;
  lost.kind = StationEventKind::kPortLost;
  lost.message = "Can NOT Open \"COM5\"\nThe port does not exist.";
  board.ApplyEvent(lost, 2000);
  EXPECT_EQ(board.Tile(0).detail, "Can NOT Open \"COM5\": The port does not exist.");
  StationEvent back;
  back.kind = StationEventKind::kPortBack;
  board.ApplyEvent(back, 3000);
  board.ApplyRow(0, Row(PortState::kConnect));
  EXPECT_EQ(board.Tile(0).detail, "late");
}

// Names too long for a tile's title keep what tells them apart; a port
// found under its name later is shown so.
TEST(Tile, PortsThatLookAlikeReadApart) {
  const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_";
  StationRow first = Row(PortState::kConnect);
  first.port = by_id + "A50285BI-if00-port0";
  StationRow second = Row(PortState::kConnect);
  second.port = "serial=B7731CX0";
  BenchBoard board;
  board.Reset({{first, "", ""}, {second, "", ""}});
  EXPECT_EQ(board.Tile(0).port, "\u2026UART_A50285BI-if00-port0");
  EXPECT_EQ(board.Tile(1).port, "serial=B7731CX0");
  second.port = by_id + "B7731CX0-if00-port0";
  board.ApplyRow(1, second);
  EXPECT_EQ(board.Tile(1).port, "\u2026UART_B7731CX0-if00-port0");
}

struct TotalsCase {
  const char* name;
  // When each finished pager was done, ms after Start.
  std::vector<std::uint32_t> finished_at;
  int failed;
  std::uint32_t elapsed_ms;
  TotalsView totals;
};

void PrintTo(const TotalsCase& c, std::ostream* out) { *out << c.name; }

class Totals : public ::testing::TestWithParam<TotalsCase> {};

TEST_P(Totals, CountYieldAndPagersPerHourOverTheLastStretch) {
  BenchBoard board;
  board.Reset({{Row(PortState::kConnect), "", ""}, {Row(PortState::kConnect), "", ""}});
  int number = 0;
  for (const std::uint32_t at : GetParam().finished_at) {
    board.ApplyEvent(Ended(ExitCode::kFinished, ++number), at);
  }
  for (int i = 0; i < GetParam().failed; ++i) {
    StationEvent failed = Ended(ExitCode::kRefused, ++number);
    failed.index = 1;
    board.ApplyEvent(failed, GetParam().elapsed_ms);
  }
  EXPECT_EQ(board.Totals(GetParam().elapsed_ms), GetParam().totals);
  EXPECT_EQ(board.Finished(), static_cast<int>(GetParam().finished_at.size()));
  board.Reset({{Row(PortState::kConnect), "", ""}});
  EXPECT_EQ(board.Totals(GetParam().elapsed_ms), (TotalsView{"0", "0", "-", "-"}))
      << "Start counts afresh";
}

// Every 30 s for the first ten minutes of a run.
std::vector<std::uint32_t> EveryHalfMinuteForTenMinutes() {
  std::vector<std::uint32_t> times;
  for (std::uint32_t at = 30000; at < 600000; at += 30000) times.push_back(at);
  return times;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Totals,
    ::testing::Values(
        TotalsCase{"NothingYet", {}, 0, 60000, {"0", "0", "-", "-"}},
        TotalsCase{"OnlyFailures", {}, 2, 60000, {"0", "2", "0.0 %", "-"}},
        TotalsCase{"ThreeOfFour", {100000, 300000, 500000}, 1, 600000, {"3", "1", "75.0 %", "18"}},
        // One quick pager is no pace yet.
        TotalsCase{"OneAfterNineSeconds", {9000}, 0, 9000, {"1", "0", "100.0 %", "-"}},
        TotalsCase{"TwoAfterEighteenSeconds", {9000, 18000}, 0, 18000, {"2", "0", "100.0 %", "-"}},
        TotalsCase{"FiveInHalfAMinute",
                   {6000, 12000, 18000, 24000, 30000},
                   0,
                   30000,
                   {"5", "0", "100.0 %", "600"}},
        TotalsCase{
            "AllInAMinute", {15000, 30000, 45000, 60000}, 0, 60000, {"4", "0", "100.0 %", "240"}},
        // The last ten minutes count: ten of the nineteen pagers.
        TotalsCase{"SlidingWindow",
                   EveryHalfMinuteForTenMinutes(),
                   0,
                   900000,
                   {"19", "0", "100.0 %", "60"}},
        TotalsCase{"IdleForTenMinutes",
                   EveryHalfMinuteForTenMinutes(),
                   0,
                   1200000,
                   {"19", "0", "100.0 %", "0"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
