#include "cli/LiveScreen.h"

#include <fmt/format.h>

#include "cli/Platform.h"
#include "cli/Report.h"
#include "common/TextWidth.h"

namespace {

// Redraws at most this often; the records of eight pagers at 9600 bit/s
// would otherwise rewrite the screen a hundred times a second.
constexpr auto kRedrawSpacing = std::chrono::milliseconds(200);

// Cursor to the start of the line N lines up; erase from there down.
std::string CursorUp(std::size_t lines) { return fmt::format("\x1b[{}F", lines); }
constexpr char kEraseLine[] = "\x1b[2K";
constexpr char kEraseBelow[] = "\x1b[J";

}  // namespace

LiveScreen::LiveScreen(ProgressMode mode, Layout layout, std::FILE* out, std::FILE* err)
    : mode_(mode), layout_(std::move(layout)), out_(out), err_(err) {}

void LiveScreen::Out(const std::string& text) { WriteText(out_, text); }

void LiveScreen::Err(const std::string& text) { WriteText(err_, text); }

void LiveScreen::EraseDrawn() {
  if (drawn_ == 0) return;
  Err(CursorUp(drawn_) + kEraseBelow);
  drawn_ = 0;
}

void LiveScreen::Redraw(bool force) {
  if (mode_ != ProgressMode::kRedraw) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ != 0 && now - last_draw_ < kRedrawSpacing) return;
  last_draw_ = now;
  std::string text = drawn_ != 0 ? CursorUp(drawn_) : "";
  const std::vector<std::string> rows = layout_(Columns());
  for (const std::string& row : rows) text += kEraseLine + row + "\n";
  // Fewer rows than before leave nothing of the old ones below.
  Err(text + kEraseBelow);
  drawn_ = rows.size();
}

std::size_t LiveScreen::Columns() const {
  const std::size_t columns = TerminalColumns(err_);
  return columns > 1 ? columns - 1 : 0;
}

std::size_t LiveScreen::OutColumns() const {
  const std::size_t columns = TerminalColumns(out_);
  return columns > 1 ? columns - 1 : kSummaryColumns;
}

void LiveScreen::LineAbove(const std::string& text) {
  EraseDrawn();
  Err(WrapText(text, Columns()) + "\n");
  Redraw(true);
}

void LiveScreen::Note(const std::string& text) {
  const std::string line = "tarvex-flash: " + text;
  if (mode_ == ProgressMode::kJson) {
    Out(JsonNote(line) + "\n");
  } else {
    LineAbove(line);
  }
}
