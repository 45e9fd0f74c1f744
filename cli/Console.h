// The streams of tarvex-flash, shared by the update threads: message lines
// and progress on stderr, JSON lines and the summary on stdout. Every call
// takes the one lock, so lines of different pagers never mix.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/FlashPlan.h"
#include "cli/Report.h"

enum class ProgressMode {
  kNone,
  // One line per pager on a terminal, redrawn in place.
  kRedraw,
  // A plain line every 10 %, no carriage returns.
  kPlain,
  kJson,
};

// The progress mode for a plan, given whether both streams are terminals
// that take cursor sequences.
ProgressMode ChooseProgressMode(const FlashPlan& plan, bool terminal);

class Console {
 public:
  Console(ProgressMode mode, Verbosity verbosity, std::vector<std::string> ports,
          std::FILE* out = stdout, std::FILE* err = stderr);

  void Start(std::size_t index, const std::string& file, int baud, int resend);
  void Progress(std::size_t index, const PortProgress& progress);
  void Message(std::size_t index, const std::string& text, UpdateOutcome outcome);
  void End(std::size_t index, const PortResult& result);
  // The last redraw, then the summary table (or the JSON summary).
  void Finish(const std::vector<PortResult>& results, ExitCode code);
  // A line of the program's own on stderr (or a JSON message).
  void Note(const std::string& text);

 private:
  struct Line {
    PortProgress shown;
    bool started = false;
  };
  void EraseDrawn();
  void Redraw(bool force);
  void WriteErr(const std::string& text);
  void WriteOut(const std::string& text);

  std::mutex mutex_;
  const ProgressMode mode_;
  const Verbosity verbosity_;
  std::vector<std::string> ports_;
  std::vector<Line> lines_;
  std::FILE* out_;
  std::FILE* err_;
  std::size_t port_width_ = 0;
  std::size_t drawn_ = 0;
  std::chrono::steady_clock::time_point last_draw_{};
};
