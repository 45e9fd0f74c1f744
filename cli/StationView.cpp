#include "cli/StationView.h"

#include "cli/Report.h"
#include "cli/StationReport.h"
#include "station/NextStep.h"

namespace {

constexpr char kBell[] = "\a";

// The event's line; below a failed pager's, what to do next.
std::string EventLines(const StationEvent& event) {
  const std::string line = FormatStationEvent(event);
  if (event.kind != StationEventKind::kFailed) return line;
  const std::string_view step = NextStep(event.result.code);
  return step.empty() ? line : line + "\n  " + std::string(step);
}

}  // namespace

StationView::StationView(ProgressMode mode, bool bell, std::vector<StationRow> rows,
                         ITickSource& clock, std::FILE* out, std::FILE* err)
    : bell_(bell),
      clock_(clock),
      rows_(std::move(rows)),
      // The names the bench starts with: the column never changes as it runs.
      port_width_(StationPortWidth(rows_)),
      screen_(
          mode,
          [this](std::size_t columns) {
            std::vector<std::string> lines = FormatStationRows(rows_, columns, port_width_);
            if (job_line_) lines.push_back(job_line_());
            return lines;
          },
          out, err) {}

void StationView::ShowJob(std::function<std::string()> line) {
  std::lock_guard lock(mutex_);
  job_line_ = std::move(line);
}

StationView::~StationView() { FinishBells(); }

void StationView::OnRow(std::size_t index, const StationRow& row) {
  std::lock_guard lock(mutex_);
  const bool state_changed = row.state != rows_[index].state;
  rows_[index] = row;
  screen_.Redraw(state_changed);
}

void StationView::OnEvent(const StationEvent& event) {
  {
    std::lock_guard lock(mutex_);
    ShowEvent(event);
  }
  RingFor(event);
}

void StationView::ShowEvent(const StationEvent& event) {
  switch (screen_.Mode()) {
    case ProgressMode::kJson:
      screen_.Out(JsonStationEvent(event) + "\n");
      break;
    case ProgressMode::kPlain:
      screen_.LineAbove(EventLines(event));
      break;
    case ProgressMode::kRedraw:
      // The rows tell the rest; these need someone to look.
      if (event.kind == StationEventKind::kFailed || event.kind == StationEventKind::kPortLost ||
          event.kind == StationEventKind::kPortBack || event.kind == StationEventKind::kSetAside ||
          event.kind == StationEventKind::kResumed) {
        screen_.LineAbove(EventLines(event));
      }
      break;
    case ProgressMode::kNone:
      break;
  }
  // A pager whose replies came late: what that costs and what to do, on
  // stderr whatever the mode.
  if (OfPager(event.kind) && !event.result.latency_hint.empty()) {
    screen_.LineAbove(event.result.latency_hint);
  }
}

// The technician need not watch the screen: one bell for a pager done, two
// for one that failed. An interrupted pager was stopped by the person there.
void StationView::RingFor(const StationEvent& event) {
  if (!bell_) return;
  if (event.kind == StationEventKind::kFinished) {
    Ring();
  } else if (event.kind == StationEventKind::kFailed &&
             event.result.code != ExitCode::kInterrupted) {
    Ring();
    std::lock_guard lock(bell_mutex_);
    ++second_bells_;
    bell_due_.notify_all();
    if (!bell_thread_.joinable()) bell_thread_ = std::thread([this] { RingSecondBells(); });
  }
}

void StationView::RingSecondBells() {
  std::unique_lock lock(bell_mutex_);
  for (;;) {
    bell_due_.wait(lock, [&] { return second_bells_ > 0 || bells_ending_; });
    if (second_bells_ == 0) return;
    --second_bells_;
    lock.unlock();
    clock_.Sleep(kBellGapMs);
    Ring();
    lock.lock();
  }
}

void StationView::FinishBells() {
  {
    std::lock_guard lock(bell_mutex_);
    bells_ending_ = true;
    bell_due_.notify_all();
  }
  if (bell_thread_.joinable()) bell_thread_.join();
}

void StationView::Ring() {
  std::lock_guard lock(mutex_);
  screen_.Err(kBell);
}

void StationView::OnNote(const std::string& text) {
  std::lock_guard lock(mutex_);
  screen_.Note(text);
}

void StationView::Finish(const std::vector<StationRow>& rows, ExitCode code, const LogJob* job) {
  FinishBells();
  std::lock_guard lock(mutex_);
  rows_ = rows;
  screen_.Redraw(true);
  if (screen_.Mode() == ProgressMode::kJson) {
    screen_.Out(JsonStationSummary(rows, code, job) + "\n");
    return;
  }
  screen_.Out(FormatStationSummary(rows, screen_.OutColumns()));
  if (job_line_) screen_.Out(job_line_() + "\n");
}
