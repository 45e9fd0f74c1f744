// How wide a text shows on a terminal, in display columns, and the ways a
// screen fits text into a width: shortened in the middle, cut at its end,
// word-wrapped with a hanging indent, and names shortened so that each still
// reads apart from the others shown beside it. Pure, so the screens of every
// platform measure alike (the C library's wcwidth is not on Windows, and
// differs between the others).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The columns one character takes: 2 for the East Asian wide and full-width
// ones (CJK, Hangul, full-width forms, most emoji), 0 for combining marks,
// zero-width characters and controls, 1 for the rest.
std::size_t CharacterColumns(char32_t character);

// The columns `text` takes: the sum over its UTF-8 characters; each byte
// that is not part of one counts 1.
std::size_t DisplayWidth(std::string_view text);

// `text` in at most `width` columns: its start and its end, "…" between.
std::string ShortenInTheMiddle(const std::string& text, std::size_t width);

// `line` cut to `width` columns, "…" its last when it was longer; as it is
// when `width` is 0.
std::string CutToWidth(const std::string& line, std::size_t width);

// One line broken at its blanks into lines of at most `width` columns (0: no
// limit); the lines after the first start at column `indent` (a hanging
// indent). A word longer than a line is broken where the line ends. The
// first line keeps its own blanks, so a table row stays aligned.
std::vector<std::string> WrapLine(std::string_view line, std::size_t width, std::size_t indent);

// Every line of `text` wrapped to `width` columns, each line's continuations
// `hang` columns further in than the line itself starts. Line ends stay.
std::string WrapText(std::string_view text, std::size_t width, std::size_t hang = 2);

// Names that must be told apart (ports, side by side in rows or tiles), each
// in at most `width` columns. A name that fits stays whole; a longer one
// keeps the part that tells it from the others: the adapter's serial number
// of a /dev/serial/by-id/ name, else what lies between the start and the end
// that the long names share; what is around that part is cut, "…" in its
// place.
std::vector<std::string> ShortenApart(const std::vector<std::string>& names, std::size_t width);
