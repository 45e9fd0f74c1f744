#include "cli/Console.h"

#include <fmt/format.h>

#include <algorithm>

#include "cli/Platform.h"

namespace {

// Redraws at most this often; the records of eight pagers at 9600 bit/s
// would otherwise rewrite the screen a hundred times a second.
constexpr auto kRedrawSpacing = std::chrono::milliseconds(200);

// Cursor to the start of the line N lines up; erase from there down.
std::string CursorUp(std::size_t lines) { return fmt::format("\x1b[{}F", lines); }
constexpr char kEraseLine[] = "\x1b[2K";
constexpr char kEraseBelow[] = "\x1b[J";

}  // namespace

ProgressMode ChooseProgressMode(const FlashPlan& plan, bool terminal) {
  if (plan.json) return ProgressMode::kJson;
  if (plan.verbosity == Verbosity::kQuiet) return ProgressMode::kNone;
  return terminal ? ProgressMode::kRedraw : ProgressMode::kPlain;
}

Console::Console(ProgressMode mode, Verbosity verbosity, std::vector<std::string> ports,
                 std::FILE* out, std::FILE* err)
    : mode_(mode),
      verbosity_(verbosity),
      ports_(std::move(ports)),
      lines_(ports_.size()),
      out_(out),
      err_(err) {
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    lines_[i].shown.port = ports_[i];
    port_width_ = std::max(port_width_, ports_[i].size());
  }
}

void Console::WriteErr(const std::string& text) { WriteText(err_, text); }

void Console::WriteOut(const std::string& text) { WriteText(out_, text); }

void Console::EraseDrawn() {
  if (drawn_ == 0) return;
  WriteErr(CursorUp(drawn_) + kEraseBelow);
  drawn_ = 0;
}

void Console::Redraw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ != 0 && now - last_draw_ < kRedrawSpacing) return;
  last_draw_ = now;
  std::string text = drawn_ != 0 ? CursorUp(drawn_) : "";
  for (const Line& line : lines_)
    text += kEraseLine + FormatProgressLine(line.shown, port_width_) + "\n";
  WriteErr(text);
  drawn_ = lines_.size();
}

void Console::Start(std::size_t index, const std::string& file, int baud, int resend) {
  std::lock_guard lock(mutex_);
  lines_[index].started = true;
  lines_[index].shown.stage = "open";
  if (mode_ == ProgressMode::kJson) WriteOut(JsonStart(ports_[index], file, baud, resend) + "\n");
  if (mode_ == ProgressMode::kRedraw) Redraw(false);
}

void Console::Progress(std::size_t index, const PortProgress& progress) {
  std::lock_guard lock(mutex_);
  PortProgress& shown = lines_[index].shown;
  const bool new_stage = progress.stage != shown.stage;
  const bool new_tenth = CrossesTenth(shown.percent, progress.percent);
  const bool changed =
      new_stage || progress.percent != shown.percent || progress.records != shown.records;
  shown = progress;
  switch (mode_) {
    case ProgressMode::kJson:
      if (new_stage || new_tenth) WriteOut(JsonProgress(progress) + "\n");
      break;
    case ProgressMode::kRedraw:
      if (changed) Redraw(new_stage);
      break;
    case ProgressMode::kPlain:
      if (new_tenth || (new_stage && verbosity_ == Verbosity::kVerbose)) {
        WriteErr(FormatProgressLine(progress, port_width_) + "\n");
      }
      break;
    case ProgressMode::kNone:
      break;
  }
}

void Console::Message(std::size_t index, const std::string& text, UpdateOutcome outcome) {
  std::lock_guard lock(mutex_);
  if (mode_ == ProgressMode::kJson) {
    WriteOut(JsonMessage(ports_[index], text, outcome) + "\n");
    return;
  }
  if (verbosity_ == Verbosity::kQuiet) return;
  EraseDrawn();
  WriteErr(FormatMessageLine(ports_[index], text) + "\n");
  if (mode_ == ProgressMode::kRedraw) Redraw(true);
}

void Console::End(std::size_t index, const PortResult& result) {
  std::lock_guard lock(mutex_);
  if (mode_ == ProgressMode::kJson) WriteOut(JsonEnd(result) + "\n");
  // What late replies cost goes on stderr whatever the mode, as long as
  // messages are wanted.
  if (!result.latency_hint.empty() && verbosity_ != Verbosity::kQuiet) {
    EraseDrawn();
    WriteErr(result.latency_hint + "\n");
  }
  if (mode_ == ProgressMode::kRedraw) {
    lines_[index].shown.stage = std::string(OutcomeName(result.code));
    Redraw(true);
  }
}

void Console::Finish(const std::vector<PortResult>& results, ExitCode code) {
  std::lock_guard lock(mutex_);
  if (mode_ == ProgressMode::kJson) {
    WriteOut(JsonSummary(results, code) + "\n");
    return;
  }
  WriteOut(FormatSummary(results));
}

void Console::Note(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (mode_ == ProgressMode::kJson) {
    WriteOut(JsonNote(text) + "\n");
    return;
  }
  EraseDrawn();
  WriteErr(text + "\n");
  if (mode_ == ProgressMode::kRedraw) Redraw(true);
}
