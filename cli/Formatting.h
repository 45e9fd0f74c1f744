// Small pieces of formatting the reports share.
#pragma once

#include <algorithm>
#include <string>

#include "station/JsonText.h"

// "-" for a field with nothing to say.
inline std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

// A message of several lines on one: its line ends become spaces.
inline std::string OneLine(const std::string& text) {
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}
