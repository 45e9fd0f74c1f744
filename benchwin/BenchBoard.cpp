#include "benchwin/BenchBoard.h"

#include <fmt/format.h>

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
  totals_ = {};
  for (const TileStart& start : tiles) {
    PortTile tile;
    tile.view.adapter = start.adapter;
    tiles_.push_back(tile);
    ApplyRow(tiles_.size() - 1, start.row);
  }
}

void BenchBoard::ApplyRow(std::size_t index, const StationRow& row) {
  if (index >= tiles_.size()) return;
  PortTile& tile = tiles_[index];
  tile.state = row.state;
  tile.view.port = row.port;
  tile.view.state = PortStateWords(row);
  tile.view.percent = row.state == PortState::kFlashing ? row.percent : 0;
  const bool on_port = row.state == PortState::kFlashing || row.state == PortState::kRemove;
  tile.view.pager = on_port ? fmt::format("pager #{}", row.number) : "";
  tile.view.turnaround = TurnaroundWords(row.turnaround_ms);
  ShowDetail(tile);
}

std::optional<BenchSound> BenchBoard::ApplyEvent(const StationEvent& event) {
  if (event.index >= tiles_.size()) return std::nullopt;
  PortTile& tile = tiles_[event.index];
  switch (event.kind) {
    case StationEventKind::kPortLost:
      tile.lost_reason = OneLine(event.message);
      ShowDetail(tile);
      return std::nullopt;
    case StationEventKind::kFinished:
    case StationEventKind::kFailed:
      break;
    default:
      return std::nullopt;
  }
  const bool finished = event.kind == StationEventKind::kFinished;
  totals_.Count(event.result.code);
  tile.view.last = LastOutcome(event);
  tile.view.mood = finished ? TileMood::kGood : TileMood::kBad;
  tile.view.why = finished ? "" : FirstLine(event.result.message);
  tile.hint = event.result.latency_hint;
  ShowDetail(tile);
  if (finished) return BenchSound::kFinished;
  if (event.result.code == ExitCode::kInterrupted) return std::nullopt;
  return BenchSound::kFailed;
}

// A port that cannot be opened says why; otherwise the last pager's hint
// stays until the next one ends.
void BenchBoard::ShowDetail(PortTile& tile) {
  const bool missing = tile.state == PortState::kAdapterMissing && !tile.lost_reason.empty();
  tile.view.detail = missing ? tile.lost_reason : tile.hint;
}

TotalsView BenchBoard::Totals(std::uint32_t elapsed_ms) const {
  TotalsView totals;
  const int finished = totals_.finished;
  totals.finished = std::to_string(finished);
  totals.failed = std::to_string(totals_.failed);
  const int ended = totals_.Ended();
  totals.yield = ended == 0 ? kNone : fmt::format("{:.1f} %", 100.0 * finished / ended);
  totals.per_hour = finished == 0 || elapsed_ms == 0
                        ? kNone
                        : fmt::format("{:.0f}", finished * kMsPerHour / elapsed_ms);
  return totals;
}

bool BenchBoard::AnyFlashing() const {
  for (const PortTile& tile : tiles_) {
    if (tile.state == PortState::kFlashing) return true;
  }
  return false;
}
