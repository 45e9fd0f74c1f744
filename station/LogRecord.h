// The traceability record of one finished pager, as the log keeps it: one
// JSON object per line, the same for the one-shot, the gang, the console
// bench and the bench window (which add the pager's running number and the
// bench's start).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "station/PagerResult.h"

// What a pager's result says in the log and in the JSON events alike: port,
// adapter serial, outcome, exit code, message, seconds, how late its
// replies came, the line efficiency and the port's turnaround (each null
// when no reply came), and whether the pager may still be in its loader.
nlohmann::json ResultFields(const PortResult& result);

// The record of one pager; `utc_time` as ISO 8601.
nlohmann::json LogRecord(const PortResult& result, const std::string& utc_time,
                         const std::string& file, const std::string& sha256);
// The same with the pager's running number and the bench's start.
nlohmann::json StationLogRecord(const PortResult& result, const std::string& utc_time,
                                const std::string& file, const std::string& sha256, int number,
                                const std::string& station_start);

// Figures to a sensible precision: milliseconds.
double RoundedSeconds(double seconds);
