#include "cli/Table.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::size_t kGap = 2;
constexpr std::size_t kShortestPortName = 10;

struct Laid {
  TableColumn column;
  std::size_t width = 0;
};

std::string Padded(const std::string& cell, std::size_t width, bool right) {
  const std::size_t used = DisplayWidth(cell);
  const std::string blanks(width > used ? width - used : 0, ' ');
  return right ? blanks + cell : cell + blanks;
}

std::size_t NaturalWidth(const TableColumn& column, bool with_header, TableSizing sizing) {
  std::size_t width = std::max(column.at_least, with_header ? DisplayWidth(column.header) : 0);
  if (sizing == TableSizing::kSteady) {
    return column.shortens ? std::max(width, column.keep_width) : width;
  }
  for (const std::string& cell : column.cells) width = std::max(width, DisplayWidth(cell));
  return width;
}

std::size_t TotalWidth(const std::vector<Laid>& laid) {
  std::size_t total = 0;
  for (const Laid& column : laid) total += column.width + kGap;
  return total > 0 ? total - kGap : 0;
}

// Drops the column of the lowest rank; false when none may go.
bool DropOne(std::vector<Laid>& laid) {
  auto lowest = laid.end();
  for (auto it = laid.begin(); it != laid.end(); ++it) {
    const int rank = it->column.drop_rank;
    if (rank > 0 && (lowest == laid.end() || rank < lowest->column.drop_rank)) lowest = it;
  }
  if (lowest == laid.end()) return false;
  laid.erase(lowest);
  return true;
}

// Narrows the shortening columns until the table fits `width`, none below
// its floor (`keep_width` or `min_width`).
void Narrow(std::vector<Laid>& laid, std::size_t width, std::size_t TableColumn::*floor) {
  for (Laid& column : laid) {
    const std::size_t total = TotalWidth(laid);
    if (total <= width) return;
    if (!column.column.shortens) continue;
    const std::size_t excess = total - width;
    const std::size_t target =
        std::max(column.column.*floor, column.width - std::min(column.width, excess));
    column.width = std::min(column.width, target);
  }
}

// The entries as they fit their column.
void FitEntries(Laid& laid) {
  TableColumn& column = laid.column;
  if (column.shortens) {
    column.cells = ShortenApart(column.cells, laid.width);
    column.header = ShortenInTheMiddle(column.header, laid.width);
    return;
  }
  for (std::string& cell : column.cells) cell = CutToWidth(cell, laid.width);
  column.header = CutToWidth(column.header, laid.width);
}

std::string Joined(const std::vector<Laid>& laid, const std::vector<std::string>& entries) {
  std::string line;
  for (std::size_t i = 0; i < laid.size(); ++i) {
    if (i > 0) line += std::string(kGap, ' ');
    line += Padded(entries[i], laid[i].width, laid[i].column.right_aligned);
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

}  // namespace

std::vector<std::string> LayOutTable(std::vector<TableColumn> columns, std::size_t width,
                                     bool with_header, TableSizing sizing) {
  std::vector<Laid> laid;
  std::size_t rows = 0;
  for (TableColumn& column : columns) {
    const std::size_t natural = NaturalWidth(column, with_header, sizing);
    rows = std::max(rows, column.cells.size());
    laid.push_back({std::move(column), natural});
  }
  if (width > 0) {
    Narrow(laid, width, &TableColumn::keep_width);
    while (TotalWidth(laid) > width && DropOne(laid)) {
    }
    Narrow(laid, width, &TableColumn::min_width);
  }
  for (Laid& column : laid) FitEntries(column);
  std::vector<std::string> lines;
  std::vector<std::string> entries(laid.size());
  if (with_header) {
    for (std::size_t i = 0; i < laid.size(); ++i) entries[i] = laid[i].column.header;
    lines.push_back(CutToWidth(Joined(laid, entries), width));
  }
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t i = 0; i < laid.size(); ++i) {
      const std::vector<std::string>& cells = laid[i].column.cells;
      entries[i] = row < cells.size() ? cells[row] : "";
    }
    lines.push_back(CutToWidth(Joined(laid, entries), width));
  }
  return lines;
}

TableColumn PortColumn(std::string header, std::size_t keep) {
  return TableColumn{
      std::move(header), {}, false, 0, true, kShortestPortName, keep > 0 ? keep : kKeptPortName};
}
