// The streams of a bench, shared by its port threads: on a terminal one row
// per port redrawn in place (with failures and lost ports as lines above it)
// and a bell; piped, a plain line per event; with --json a JSON line per
// event on stdout. The summary goes to stdout at the end. Every call takes
// the one lock, so lines of different ports never mix, and none waits: the
// second bell of a failure rings from a thread of the view's own, never
// from the port's, whose loop goes on watching its pager.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/LiveScreen.h"
#include "common/Clock.h"
#include "station/Station.h"

struct LogJob;

// Between the two bells of a failure: terminals merge bells closer than
// about 200 ms into one.
constexpr std::uint32_t kBellGapMs = 400;

class StationView final : public IStationListener {
 public:
  // `mode` is kRedraw, kPlain or kJson; with `bell`, one BEL when a pager
  // finishes and two when one fails, the two `clock`'s kBellGapMs apart.
  StationView(ProgressMode mode, bool bell, std::vector<StationRow> rows,
              ITickSource& clock = SystemTickSource(), std::FILE* out = stdout,
              std::FILE* err = stderr);
  // Rings the bells still due first.
  ~StationView() override;
  StationView(const StationView&) = delete;
  StationView& operator=(const StationView&) = delete;

  void OnRow(std::size_t index, const StationRow& row) override;
  void OnEvent(const StationEvent& event) override;
  void OnNote(const std::string& text) override;
  // A line under the rows and the summary, asked afresh at each redraw:
  // what a job has left.
  void ShowJob(std::function<std::string()> line);
  // The bells still due, the last redraw, then the summary (under `job`,
  // with what it has left).
  void Finish(const std::vector<StationRow>& rows, ExitCode code, const LogJob* job = nullptr);

 private:
  void ShowEvent(const StationEvent& event);
  void RingFor(const StationEvent& event);
  void Ring();
  void RingSecondBells();
  void FinishBells();

  std::mutex mutex_;
  const bool bell_;
  ITickSource& clock_;
  // Second bells due, rung by bell_thread_ kBellGapMs after the first.
  std::mutex bell_mutex_;
  std::condition_variable bell_due_;
  int second_bells_ = 0;
  bool bells_ending_ = false;
  std::thread bell_thread_;
  std::vector<StationRow> rows_;
  std::function<std::string()> job_line_;
  const std::size_t port_width_;
  LiveScreen screen_;
};
