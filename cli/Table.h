// Rows of columns for a terminal of some width: each column as wide as its
// widest entry, two spaces between, and when the screen is narrower, one
// column's long entries shortened in the middle, then the columns that may go
// going in their stated order, then that column shortened further, and last
// every line cut, so no row ever wraps.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct TableColumn {
  std::string header;
  // One entry a row.
  std::vector<std::string> cells;
  bool right_aligned = false;
  // Columns with a rank go when the table is too wide, rank 1 first; 0
  // never goes.
  int drop_rank = 0;
  // Its entries are shortened in the middle ("/dev/serial/by-id/usb-…-port0"):
  // down to `keep_width` before any column goes, and down to `min_width`
  // once no more can.
  bool shortens = false;
  std::size_t min_width = 0;
  std::size_t keep_width = 0;
  // Never narrower than this, so a column does not jump as its entries change.
  std::size_t at_least = 0;
};

// A column of port names: a long one is shortened to 20 columns before any
// column goes, and never below 10.
TableColumn PortColumn(std::string header);

// The columns a text takes on a terminal: its UTF-8 characters.
std::size_t DisplayWidth(const std::string& text);
// `text` in at most `width` columns: its start and end, "…" between.
std::string ShortenInTheMiddle(const std::string& text, std::size_t width);
// `line` cut to `width` columns, "…" its last when it was longer.
std::string CutToWidth(const std::string& line, std::size_t width);

// The table's lines, the header first when `with_header`, none wider than
// `width` columns (0: no limit). Trailing blanks are left off each line.
std::vector<std::string> LayOutTable(std::vector<TableColumn> columns, std::size_t width,
                                     bool with_header = true);
