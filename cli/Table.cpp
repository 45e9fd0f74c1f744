#include "cli/Table.h"

#include <algorithm>
#include <utility>

namespace {

constexpr char kEllipsis[] = "\u2026";
constexpr std::size_t kGap = 2;

bool ContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte offset of the `count`-th character from the start.
std::size_t OffsetOfCharacter(const std::string& text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t seen = 0; at < text.size() && seen < count; ++seen) {
    ++at;
    while (at < text.size() && ContinuationByte(text[at])) ++at;
  }
  return at;
}

std::string Padded(const std::string& cell, std::size_t width, bool right) {
  const std::size_t used = DisplayWidth(cell);
  const std::string blanks(width > used ? width - used : 0, ' ');
  return right ? blanks + cell : cell + blanks;
}

std::size_t WidthOf(const TableColumn& column, bool with_header) {
  std::size_t width = std::max(column.at_least, with_header ? DisplayWidth(column.header) : 0);
  for (const std::string& cell : column.cells) width = std::max(width, DisplayWidth(cell));
  return width;
}

std::size_t TotalWidth(const std::vector<TableColumn>& columns, bool with_header) {
  std::size_t total = 0;
  for (const TableColumn& column : columns) total += WidthOf(column, with_header) + kGap;
  return total > 0 ? total - kGap : 0;
}

// Drops the column of the lowest rank; false when none may go.
bool DropOne(std::vector<TableColumn>& columns) {
  auto lowest = columns.end();
  for (auto it = columns.begin(); it != columns.end(); ++it) {
    if (it->drop_rank > 0 && (lowest == columns.end() || it->drop_rank < lowest->drop_rank)) {
      lowest = it;
    }
  }
  if (lowest == columns.end()) return false;
  columns.erase(lowest);
  return true;
}

// Shortens the shortening columns until the table fits `width`, none below
// its floor (`keep_width` or `min_width`).
void Shorten(std::vector<TableColumn>& columns, std::size_t width, bool with_header,
             std::size_t TableColumn::*floor) {
  for (TableColumn& column : columns) {
    if (!column.shortens) continue;
    const std::size_t total = TotalWidth(columns, with_header);
    const std::size_t own = WidthOf(column, with_header);
    if (total <= width) return;
    const std::size_t target = std::max(column.*floor, own - std::min(own, total - width));
    for (std::string& cell : column.cells) cell = ShortenInTheMiddle(cell, target);
    if (with_header) column.header = ShortenInTheMiddle(column.header, target);
  }
}

std::string Joined(const std::vector<TableColumn>& columns, const std::vector<std::size_t>& widths,
                   const std::vector<std::string>& entries) {
  std::string line;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) line += std::string(kGap, ' ');
    line += Padded(entries[i], widths[i], columns[i].right_aligned);
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

}  // namespace

std::size_t DisplayWidth(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !ContinuationByte(c); }));
}

std::string ShortenInTheMiddle(const std::string& text, std::size_t width) {
  const std::size_t length = DisplayWidth(text);
  if (length <= width) return text;
  if (width == 0) return "";
  const std::size_t keep = width - 1;
  const std::size_t head = (keep + 1) / 2;
  const std::size_t tail = keep - head;
  return text.substr(0, OffsetOfCharacter(text, head)) + kEllipsis +
         text.substr(OffsetOfCharacter(text, length - tail));
}

std::string CutToWidth(const std::string& line, std::size_t width) {
  if (width == 0 || DisplayWidth(line) <= width) return line;
  return line.substr(0, OffsetOfCharacter(line, width - 1)) + kEllipsis;
}

std::vector<std::string> LayOutTable(std::vector<TableColumn> columns, std::size_t width,
                                     bool with_header) {
  if (width > 0) {
    Shorten(columns, width, with_header, &TableColumn::keep_width);
    while (TotalWidth(columns, with_header) > width && DropOne(columns)) {
    }
    Shorten(columns, width, with_header, &TableColumn::min_width);
  }
  std::vector<std::size_t> widths;
  std::size_t rows = 0;
  for (const TableColumn& column : columns) {
    widths.push_back(WidthOf(column, with_header));
    rows = std::max(rows, column.cells.size());
  }
  std::vector<std::string> lines;
  std::vector<std::string> entries(columns.size());
  if (with_header) {
    for (std::size_t i = 0; i < columns.size(); ++i) entries[i] = columns[i].header;
    lines.push_back(CutToWidth(Joined(columns, widths, entries), width));
  }
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      entries[i] = row < columns[i].cells.size() ? columns[i].cells[row] : "";
    }
    lines.push_back(CutToWidth(Joined(columns, widths, entries), width));
  }
  return lines;
}

TableColumn PortColumn(std::string header) {
  constexpr std::size_t kKeptPortName = 20;
  constexpr std::size_t kShortestPortName = 10;
  return TableColumn{std::move(header), {}, false, 0, true, kShortestPortName, kKeptPortName};
}
