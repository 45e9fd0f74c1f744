#include "cli/Console.h"

#include <algorithm>

#include "common/TextWidth.h"
#include "common/VisibleText.h"

ProgressMode ChooseProgressMode(const FlashPlan& plan, bool terminal) {
  if (plan.json) return ProgressMode::kJson;
  if (plan.verbosity == Verbosity::kQuiet) return ProgressMode::kNone;
  return terminal ? ProgressMode::kRedraw : ProgressMode::kPlain;
}

Console::Console(ProgressMode mode, Verbosity verbosity, std::vector<std::string> ports,
                 std::FILE* out, std::FILE* err)
    : verbosity_(verbosity),
      ports_(std::move(ports)),
      shown_(ports_.size()),
      screen_(
          mode,
          [this](std::size_t columns) { return FormatProgressRows(shown_, columns, port_width_); },
          out, err) {
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    shown_[i].port = ports_[i];
    port_width_ = std::max(port_width_, DisplayWidth(VisibleText(ports_[i])));
  }
}

void Console::OnStart(const PagerJob& job) {
  std::lock_guard lock(mutex_);
  shown_[job.index].stage = StageName(UpdateStage::kOpen);
  if (screen_.Mode() == ProgressMode::kJson) {
    screen_.Out(JsonStart(ports_[job.index], job.file_name, job.baud, job.resend) + "\n");
  }
  screen_.Redraw(false);
}

void Console::OnProgress(std::size_t index, const PortProgress& progress) {
  std::lock_guard lock(mutex_);
  PortProgress& shown = shown_[index];
  const bool new_stage = progress.stage != shown.stage;
  const bool new_tenth = CrossesTenth(shown.percent, progress.percent);
  const bool changed =
      new_stage || progress.percent != shown.percent || progress.records != shown.records;
  shown = progress;
  switch (screen_.Mode()) {
    case ProgressMode::kJson:
      if (new_stage || new_tenth) screen_.Out(JsonProgress(progress) + "\n");
      break;
    case ProgressMode::kRedraw:
      if (changed) screen_.Redraw(new_stage);
      break;
    case ProgressMode::kPlain:
      if (new_tenth || (new_stage && verbosity_ == Verbosity::kVerbose)) {
        screen_.LineAbove(FormatProgressLine(progress, port_width_));
      }
      break;
    case ProgressMode::kNone:
      break;
  }
}

void Console::OnMessage(std::size_t index, const std::string& text, UpdateOutcome outcome) {
  std::lock_guard lock(mutex_);
  if (screen_.Mode() == ProgressMode::kJson) {
    screen_.Out(JsonMessage(ports_[index], text, outcome) + "\n");
    return;
  }
  if (verbosity_ == Verbosity::kQuiet) return;
  screen_.LineAbove(FormatMessageLine(ports_[index], text, outcome));
}

void Console::OnEnd(std::size_t index, const PortResult& result) {
  std::lock_guard lock(mutex_);
  if (screen_.Mode() == ProgressMode::kJson) screen_.Out(JsonEnd(result) + "\n");
  // What late replies cost goes on stderr whatever the mode, as long as
  // messages are wanted.
  if (!result.latency_hint.empty() && verbosity_ != Verbosity::kQuiet) {
    screen_.LineAbove(result.latency_hint);
  }
  shown_[index].stage = std::string(OutcomeName(result.code));
  screen_.Redraw(true);
}

void Console::Finish(const std::vector<PortResult>& results, ExitCode code, const LogJob* job) {
  std::lock_guard lock(mutex_);
  if (screen_.Mode() == ProgressMode::kJson) {
    screen_.Out(JsonSummary(results, code, job) + "\n");
    return;
  }
  screen_.Out(FormatSummary(results, screen_.OutColumns()));
}

void Console::OnNote(const std::string& text) {
  std::lock_guard lock(mutex_);
  screen_.Note(text);
}
