// Names from outside the program (files, ports, logs, what an adapter says
// of itself) as people are shown them and as the JSON lines keep them: such
// a name may hold any bytes, and on a terminal or in a message box some of
// them act instead of showing (an escape sequence sets the window's title,
// a line break forges a line of our own).
#pragma once

#include <string>
#include <string_view>

// `text` with every character that would act rather than show written as an
// escape: C0 controls and DEL as \n, \r, \t or \xNN, C1 controls and the
// line and direction marks (U+2028, U+2029, U+202A to U+202E, U+2066 to
// U+2069) as \uNNNN, and each byte that is not part of UTF-8 as \xNN.
// Everything else stays, a backslash among it, so a Windows path reads as it
// was typed and text shown so once is shown so again unchanged.
std::string VisibleText(std::string_view text);

// The same for a message of several lines: its line ends stay line ends.
// Only for text whose names were made visible where they went into it.
std::string VisibleLines(std::string_view text);

// True when `text` is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// `text` with each byte that is not part of UTF-8 written as \xNN, and
// everything else as it is.
std::string EscapeNonUtf8Bytes(std::string_view text);

// Every byte of `text` as two lower-case hex digits.
std::string HexBytes(std::string_view text);
