// The one-shot and the gang on the streams: a progress line per pager
// (redrawn in place on a terminal, a plain line every 10 % otherwise),
// message lines, JSON lines, and the summary at the end. Called from the
// runners' threads; every call takes the one lock, so lines of different
// pagers never mix.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/FlashPlan.h"
#include "cli/LiveScreen.h"
#include "cli/Report.h"
#include "station/PagerRunner.h"

// The progress mode for a plan, given whether both streams are terminals
// that take cursor sequences.
ProgressMode ChooseProgressMode(const FlashPlan& plan, bool terminal);

class Console final : public IPagerListener {
 public:
  Console(ProgressMode mode, Verbosity verbosity, std::vector<std::string> ports,
          std::FILE* out = stdout, std::FILE* err = stderr);

  void OnStart(const PagerJob& job) override;
  void OnProgress(std::size_t index, const PortProgress& progress) override;
  void OnMessage(std::size_t index, const std::string& text, UpdateOutcome outcome) override;
  void OnEnd(std::size_t index, const PortResult& result) override;
  // A line of the program's own on stderr (or a JSON note).
  void OnNote(const std::string& text) override;
  // The last redraw, then the summary table (or the JSON summary, which
  // under `job` says what it has left).
  void Finish(const std::vector<PortResult>& results, ExitCode code, const LogJob* job = nullptr);

 private:
  std::mutex mutex_;
  const Verbosity verbosity_;
  std::vector<std::string> ports_;
  std::vector<PortProgress> shown_;
  std::size_t port_width_ = 0;
  LiveScreen screen_;
};
