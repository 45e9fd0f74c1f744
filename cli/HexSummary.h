// What --check tells of a firmware file, as text and as JSON.
#pragma once

#include <string>

#include "station/FirmwareSummary.h"

// The report of --check.
std::string FormatHexSummary(const std::string& file_name, const HexSummary& summary, int rate);
// The same as one JSON object on one line, for --check --json: "sound", and
// either the figures or the engine's message and reason.
std::string JsonHexSummary(const std::string& file_name, const HexSummary& summary, int rate);
