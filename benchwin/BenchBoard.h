// The bench window's tiles and totals, from what the bench core tells: a
// tile per port with its state in words, its progress, the current pager's
// number, how the last pager ended (green when finished, red with the
// reason when not) and the latency hint; the totals since Start. Pure: the
// model hands it the core's rows and events on the window's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/Station.h"

enum class TileMood : std::uint8_t { kNone, kGood, kBad };

struct TileView {
  std::string port;
  // The adapter's name and serial number, as far as they are known.
  std::string adapter;
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
  // What the technician may want to know: why the port cannot be opened, or
  // the latency hint of the last pager.
  std::string detail;
  friend bool operator==(const TileView&, const TileView&) = default;
};

struct TotalsView {
  std::string finished;
  std::string failed;
  std::string yield;
  std::string per_hour;
  friend bool operator==(const TotalsView&, const TotalsView&) = default;
};

// The window's sounds: Windows' own for information and for a stop.
enum class BenchSound : std::uint8_t { kFinished, kFailed };

struct TileStart {
  StationRow row;  // FirstRow of the port's setup
  std::string adapter;
};

class BenchBoard {
 public:
  // A fresh tile per port, the totals at nought.
  void Reset(const std::vector<TileStart>& tiles);
  void ApplyRow(std::size_t index, const StationRow& row);
  // The sound the event calls for: one for a pager finished, another for
  // one that failed; none for a pager stopped by Stop, which a person did.
  std::optional<BenchSound> ApplyEvent(const StationEvent& event);

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
    std::string hint;
  };
  void ShowDetail(PortTile& tile);

  std::vector<PortTile> tiles_;
  PagerTotals totals_;
};
