#include "cli/StationView.h"

#include "cli/Platform.h"

#include <fmt/format.h>

#include "cli/StationReport.h"
#include "common/Clock.h"

namespace {

// Redraws at most this often, as the one-shot's progress lines.
constexpr auto kRedrawSpacing = std::chrono::milliseconds(200);

std::string CursorUp(std::size_t lines) { return fmt::format("\x1b[{}F", lines); }
constexpr char kEraseLine[] = "\x1b[2K";
constexpr char kEraseBelow[] = "\x1b[J";
constexpr char kBell[] = "\a";

}  // namespace

StationView::StationView(ProgressMode mode, bool bell, std::vector<StationRow> rows, std::FILE* out,
                         std::FILE* err)
    : mode_(mode), bell_(bell), rows_(std::move(rows)), out_(out), err_(err) {}

void StationView::WriteErr(const std::string& text) { WriteText(err_, text); }

void StationView::WriteOut(const std::string& text) { WriteText(out_, text); }

void StationView::EraseDrawn() {
  if (drawn_ == 0) return;
  WriteErr(CursorUp(drawn_) + kEraseBelow);
  drawn_ = 0;
}

void StationView::Redraw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ != 0 && now - last_draw_ < kRedrawSpacing) return;
  last_draw_ = now;
  std::string text = drawn_ != 0 ? CursorUp(drawn_) : "";
  const std::vector<std::string> lines = FormatStationRows(rows_);
  for (const std::string& line : lines) text += kEraseLine + line + "\n";
  WriteErr(text);
  drawn_ = lines.size();
}

void StationView::LineAboveRows(const std::string& line) {
  EraseDrawn();
  WriteErr(line + "\n");
  Redraw(true);
}

void StationView::OnRow(std::size_t index, const StationRow& row) {
  std::lock_guard lock(mutex_);
  const bool state_changed = row.state != rows_[index].state;
  rows_[index] = row;
  if (mode_ == ProgressMode::kRedraw) Redraw(state_changed);
}

void StationView::OnEvent(const StationEvent& event) {
  {
    std::lock_guard lock(mutex_);
    ShowEvent(event);
  }
  RingFor(event);
}

void StationView::ShowEvent(const StationEvent& event) {
  switch (mode_) {
    case ProgressMode::kJson:
      WriteOut(JsonStationEvent(event) + "\n");
      break;
    case ProgressMode::kPlain:
      WriteErr(FormatStationEvent(event) + "\n");
      break;
    case ProgressMode::kRedraw:
      // The rows tell the rest; these need someone to look.
      if (event.kind == StationEventKind::kFailed || event.kind == StationEventKind::kPortLost ||
          event.kind == StationEventKind::kPortBack) {
        LineAboveRows(FormatStationEvent(event));
      }
      break;
    case ProgressMode::kNone:
      break;
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
    SleepMs(kBellGapMs);
    Ring();
  }
}

void StationView::Ring() {
  std::lock_guard lock(mutex_);
  WriteErr(kBell);
}

void StationView::OnNote(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (mode_ == ProgressMode::kJson) {
    WriteOut(JsonNote(text) + "\n");
  } else if (mode_ == ProgressMode::kRedraw) {
    LineAboveRows(text);
  } else {
    WriteErr(text + "\n");
  }
}

void StationView::Finish(const std::vector<StationRow>& rows, ExitCode code) {
  std::lock_guard lock(mutex_);
  rows_ = rows;
  if (mode_ == ProgressMode::kRedraw) Redraw(true);
  if (mode_ == ProgressMode::kJson) {
    WriteOut(JsonStationSummary(rows, code) + "\n");
    return;
  }
  WriteOut(FormatStationSummary(rows));
}
