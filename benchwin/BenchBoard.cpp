#include "benchwin/BenchBoard.h"

#include <fmt/format.h>

#include <algorithm>

#include "common/TextWidth.h"
#include "common/VisibleText.h"
#include "station/NextStep.h"
#include "station/ReplyLatency.h"

namespace {

constexpr double kMsPerHour = 3600000.0;
constexpr char kNone[] = "-";

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// "Can NOT Open "COM7": The port does not exist.", for a line of its own.
std::string OneLine(std::string text) {
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
    text.replace(at, 1, ": ");
  }
  return text;
}

// "#11 finished 14:02:11" or "#11 failed 14:02:11".
std::string LastOutcome(const StationEvent& event) {
  const char* how = event.kind == StationEventKind::kFinished ? "finished" : "failed";
  return fmt::format("#{} {} {}", event.number, how, event.local_time);
}

}  // namespace

void BenchBoard::Reset(const std::vector<TileStart>& tiles) {
  tiles_.clear();
  names_.clear();
  finish_times_.clear();
  totals_ = {};
  for (const TileStart& start : tiles) {
    PortTile tile;
    tile.view.adapter = start.adapter;
    tile.view.serial = start.serial.empty() ? "" : "serial " + start.serial;
    tiles_.push_back(tile);
    names_.push_back(start.row.port);
  }
  ShowNames();
  for (std::size_t i = 0; i < tiles.size(); ++i) ApplyRow(i, tiles[i].row);
}

// Every tile's title from the names of all: one port found under a new name
// can change how another's must be shortened.
void BenchBoard::ShowNames() {
  std::vector<std::string> shown;
  for (const std::string& name : names_) shown.push_back(VisibleText(name));
  shown = ShortenApart(shown, kTileNameColumns);
  for (std::size_t i = 0; i < tiles_.size(); ++i) tiles_[i].view.port = shown[i];
}

void BenchBoard::ApplyRow(std::size_t index, const StationRow& row) {
  if (index >= tiles_.size()) return;
  PortTile& tile = tiles_[index];
  tile.state = row.state;
  if (names_[index] != row.port) {
    names_[index] = row.port;
    ShowNames();
  }
  // The state is drawn large: a long one in a word, its whole sentence
  // below it.
  const bool aside = row.state == PortState::kSetAside;
  const bool waiting = row.state == PortState::kWaitingForPlace;
  tile.view.state = aside ? "set aside" : waiting ? "waiting" : PortStateWords(row);
  tile.state_sentence = aside ? PortStateWords(row)
                        : waiting
                            ? PortStateWords(row) + ": it gets one if a pager being flashed fails"
                            : "";
  tile.view.resumable = aside;
  tile.view.percent = row.state == PortState::kFlashing ? row.percent : 0;
  const bool on_port = row.state == PortState::kFlashing || row.state == PortState::kRemove;
  tile.view.pager = on_port ? fmt::format("pager #{}", row.number) : "";
  // A port set aside offers its Resume instead: one action at a time.
  tile.view.offer_tuning = row.turnaround_ms > kLateReplyHintMs && !tile.view.resumable;
  tile.view.turnaround = TurnaroundWords(row.turnaround_ms);
  ShowDetail(tile);
}

std::optional<BenchSound> BenchBoard::ApplyEvent(const StationEvent& event,
                                                 std::uint32_t elapsed_ms) {
  if (event.index >= tiles_.size()) return std::nullopt;
  PortTile& tile = tiles_[event.index];
  switch (event.kind) {
    case StationEventKind::kPortLost:
      tile.lost_reason = OneLine(event.message);
      ShowDetail(tile);
      return std::nullopt;
    case StationEventKind::kSetAside:
      return BenchSound::kSetAside;
    case StationEventKind::kFinished:
    case StationEventKind::kFailed:
      break;
    default:
      return std::nullopt;
  }
  const bool finished = event.kind == StationEventKind::kFinished;
  totals_.Count(event.result.code);
  if (CountsAsFinished(event.result.code)) finish_times_.push_back(elapsed_ms);
  tile.view.last = LastOutcome(event);
  tile.view.mood = finished ? TileMood::kGood : TileMood::kBad;
  tile.view.why = finished ? "" : FirstLine(event.result.message);
  tile.next_step = finished ? "" : std::string(NextStep(event.result.code));
  tile.hint = event.result.latency_hint;
  ShowDetail(tile);
  if (finished) return BenchSound::kFinished;
  if (event.result.code == ExitCode::kInterrupted) return std::nullopt;
  return BenchSound::kFailed;
}

// A port that cannot be opened says why, one set aside what to do;
// otherwise what to do about the last pager, or its hint, stays until the
// next one ends. A failed pager's next step comes before its hint: how fast
// its replies came matters little beside what to do with it.
void BenchBoard::ShowDetail(PortTile& tile) {
  const bool missing = tile.state == PortState::kAdapterMissing && !tile.lost_reason.empty();
  tile.view.detail = missing                        ? tile.lost_reason
                     : !tile.state_sentence.empty() ? tile.state_sentence
                     : !tile.next_step.empty()      ? tile.next_step
                                                    : tile.hint;
}

TotalsView BenchBoard::Totals(std::uint32_t elapsed_ms) const {
  TotalsView totals;
  totals.finished = std::to_string(totals_.finished);
  totals.failed = std::to_string(totals_.failed);
  const int ended = totals_.Ended();
  totals.yield = ended == 0 ? kNone : fmt::format("{:.1f} %", 100.0 * totals_.finished / ended);
  totals.per_hour = PerHour(elapsed_ms);
  return totals;
}

std::string BenchBoard::PerHour(std::uint32_t elapsed_ms) const {
  const int finished = totals_.finished;
  if (finished == 0 || elapsed_ms == 0) return kNone;
  if (elapsed_ms < kPerHourAfterMs && finished < kPerHourAfterPagers) return kNone;
  const std::uint32_t window = std::min(elapsed_ms, kPerHourWindowMs);
  const std::uint32_t since = elapsed_ms - window;
  const auto recent = std::count_if(finish_times_.begin(), finish_times_.end(),
                                    [since](std::uint32_t at) { return at >= since; });
  return fmt::format("{:.0f}", static_cast<double>(recent) * kMsPerHour / window);
}

bool BenchBoard::AnyFlashing() const {
  for (const PortTile& tile : tiles_) {
    if (tile.state == PortState::kFlashing) return true;
  }
  return false;
}
