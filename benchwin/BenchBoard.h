// The bench window's tiles and totals, from what the bench core tells: a
// tile per port with its state in words, its progress, the current pager's
// number, how the last pager ended (green when finished, red with the
// reason and the next step when not) and the latency hint; the totals since
// Start. Pure: the model hands it the core's rows and events on the
// window's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/Station.h"

enum class TileMood : std::uint8_t { kNone, kGood, kBad };

struct TileView {
  // The port's name, shortened where it must be so that no two tiles read
  // the same.
  std::string port;
  // The adapter's name, and "serial FT5KQ2R7A" on a line of its own, as far
  // as they are known.
  std::string adapter;
  std::string serial;
  // "connect a pager", "flashing 42%", "remove pager #12", "adapter missing".
  std::string state;
  int percent = 0;
  // "pager #12" while a pager is on the port; empty otherwise.
  std::string pager;
  // "adapter adds 16 ms per reply" for a port whose turnaround is above
  // 4 ms; empty otherwise.
  std::string turnaround;
  // "#11 finished 14:02:11", "#11 failed 14:02:11".
  std::string last;
  TileMood mood = TileMood::kNone;
  // Why the last pager failed: "No response from the pager, flash now
  // terminated."; empty when it finished.
  std::string why;
  // What the technician may want to know, below the pager's words: why the
  // port cannot be opened; else why it is set aside; else what to do about
  // the last pager, when it failed; else its latency hint.
  std::string detail;
  // The port's replies come late enough for its adapter's latency timer to
  // be worth setting: the tile offers Tune adapters….
  bool offer_tuning = false;
  // Set aside: the technician may resume it here.
  bool resumable = false;
  friend bool operator==(const TileView&, const TileView&) = default;
};

struct TotalsView {
  std::string finished;
  std::string failed;
  std::string yield;
  std::string per_hour;
  friend bool operator==(const TotalsView&, const TotalsView&) = default;
};

// The window's sounds: Windows' own for information and for a stop, and
// its exclamation for a port set aside.
enum class BenchSound : std::uint8_t { kFinished, kFailed, kSetAside };

struct TileStart {
  StationRow row;  // FirstRow of the port's setup
  std::string adapter;
  // The adapter's serial number; empty when it has none.
  std::string serial;
};

// A tile's title holds about this many characters.
constexpr std::size_t kTileNameColumns = 28;

// Pagers per hour are told once this long has passed since Start, or this
// many pagers are done; before that one quick pager would read as hundreds.
constexpr std::uint32_t kPerHourAfterMs = 60000;
constexpr int kPerHourAfterPagers = 5;
// They are counted over this last stretch of the run, so the figure follows
// the bench's pace now, not this morning's.
constexpr std::uint32_t kPerHourWindowMs = 600000;

class BenchBoard {
 public:
  // A fresh tile per port, the totals at nought.
  void Reset(const std::vector<TileStart>& tiles);
  void ApplyRow(std::size_t index, const StationRow& row);
  // The sound the event calls for: one for a pager finished, another for
  // one that failed, a third for a port set aside; none for a pager stopped
  // by Stop, which a person did. `elapsed_ms`: since Start, when it came.
  std::optional<BenchSound> ApplyEvent(const StationEvent& event, std::uint32_t elapsed_ms);

  std::size_t Size() const { return tiles_.size(); }
  const TileView& Tile(std::size_t index) const { return tiles_[index].view; }
  // The totals `elapsed_ms` after Start.
  TotalsView Totals(std::uint32_t elapsed_ms) const;
  int Finished() const { return totals_.finished; }
  // A pager is being flashed on some port.
  bool AnyFlashing() const;

 private:
  struct PortTile {
    TileView view;
    PortState state = PortState::kConnect;
    std::string lost_reason;
    std::string next_step;
    std::string hint;
    // The whole sentence of a state drawn large in a word.
    std::string state_sentence;
  };
  void ShowDetail(PortTile& tile);
  void ShowNames();
  std::string PerHour(std::uint32_t elapsed_ms) const;

  std::vector<PortTile> tiles_;
  // The ports' names as the core gives them.
  std::vector<std::string> names_;
  PagerTotals totals_;
  // When each finished pager was done, ms after Start, oldest first.
  std::vector<std::uint32_t> finish_times_;
};
