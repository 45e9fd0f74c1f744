// The streams of tarvex-flash as every face of it uses them: stdout for the
// JSON lines and the summary, stderr for the lines people read, and on a
// terminal a block of rows at the foot of stderr redrawn in place, with
// lines written above it. Not locked: each face calls it under its own lock.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

enum class ProgressMode {
  kNone,
  // Rows on a terminal, redrawn in place.
  kRedraw,
  // Plain lines, no carriage returns or cursor movement.
  kPlain,
  kJson,
};

class LiveScreen {
 public:
  // The rows to draw now within `columns` (0: no limit).
  using Layout = std::function<std::vector<std::string>(std::size_t columns)>;

  LiveScreen(ProgressMode mode, Layout layout, std::FILE* out, std::FILE* err);

  ProgressMode Mode() const { return mode_; }
  // Draws the rows again in place, within the terminal's width read anew;
  // at most every 200 ms unless `force`. Only in kRedraw.
  void Redraw(bool force);
  // The columns a block drawn now may take: one less than the terminal's,
  // so no terminal wraps at its last column; 0 when not known.
  std::size_t Columns() const;
  // The columns a table on stdout may take: the terminal's, or 80 where
  // stdout is no terminal.
  std::size_t OutColumns() const;
  // A line (or lines) for people, above the rows, which are drawn again
  // below it; on a terminal word-wrapped to its width, each line's
  // continuations indented.
  void LineAbove(const std::string& text);
  void Out(const std::string& text);
  void Err(const std::string& text);
  // A line of the program's own ("tarvex-flash: cannot append to the log
  // ..."): a JSON note on stdout, else a line above the rows.
  void Note(const std::string& text);

 private:
  void EraseDrawn();

  const ProgressMode mode_;
  Layout layout_;
  std::FILE* out_;
  std::FILE* err_;
  std::size_t drawn_ = 0;
  std::chrono::steady_clock::time_point last_draw_{};
};
