// Rows of columns for a terminal of some width, two spaces between columns.
// A column is as wide as its widest entry in a table printed once (a
// summary); in a live screen's rows, drawn again as their entries change, it
// is as wide as it is declared to be whatever its entries hold, so nothing
// moves while a run goes on and only the width decides the layout. When the
// screen is narrower: the shortening columns (names) down to `keep_width`,
// then the columns that may go, in their stated order, then the shortening
// columns down to `min_width`, and last every line cut, so no row ever
// wraps. An entry wider than its column is shortened so that it still reads
// apart from the others in it (a shortening column), or cut at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/TextWidth.h"

struct TableColumn {
  std::string header;
  // One entry a row.
  std::vector<std::string> cells;
  bool right_aligned = false;
  // Columns with a rank go when the table is too wide, rank 1 first; 0
  // never goes.
  int drop_rank = 0;
  // Its entries are shortened (ShortenApart): down to `keep_width` before
  // any column goes, and down to `min_width` once no more can. In a steady
  // table `keep_width` is also its width.
  bool shortens = false;
  std::size_t min_width = 0;
  std::size_t keep_width = 0;
  // Never narrower than this; in a steady table, its width.
  std::size_t at_least = 0;
};

enum class TableSizing : std::uint8_t {
  // Each column as wide as its widest entry.
  kToEntries,
  // Each column as wide as declared, whatever its entries.
  kSteady,
};

// A port name is shortened to this before any column goes, unless a screen
// keeps its port column narrower.
constexpr std::size_t kKeptPortName = 20;

// A column of port names: a long one is shortened to `keep` columns
// (kKeptPortName unless told) before any column goes, and never below 10.
TableColumn PortColumn(std::string header, std::size_t keep = 0);

// The table's lines, the header first when `with_header`, none wider than
// `width` columns (0: no limit). Trailing blanks are left off each line.
std::vector<std::string> LayOutTable(std::vector<TableColumn> columns, std::size_t width,
                                     bool with_header = true,
                                     TableSizing sizing = TableSizing::kToEntries);
