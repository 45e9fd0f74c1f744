// The traceability record of one finished pager, as the log keeps it: one
// JSON object per line, the same for the one-shot, the gang, the console
// bench and the bench window (which add the pager's running number and the
// bench's start).
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "station/PagerResult.h"

// What a pager's result says in the log and in the JSON events alike: port,
// adapter serial, outcome, exit code, message, seconds, how late its
// replies came, the line efficiency and the port's turnaround (each null
// when no reply came), and whether the pager may still be in its loader.
nlohmann::json ResultFields(const PortResult& result);

// What tells one line from every other, in this log and in a factory's
// database that gathers many benches' logs.
struct LineStamp {
  // When the pager's update ended, as ISO 8601 in UTC.
  std::string utc_time;
  // A random UUID of the line's own (station/RecordIdentity.h).
  std::string record_id;
  // The bench's name: the one given, or the host's.
  std::string station;
};

// The record of one pager.
nlohmann::json LogRecord(const PortResult& result, const LineStamp& stamp, const std::string& file,
                         const std::string& sha256);
// The same with the pager's running number and the bench's start.
nlohmann::json StationLogRecord(const PortResult& result, const LineStamp& stamp,
                                const std::string& file, const std::string& sha256, int number,
                                const std::string& station_start);

// The job a run flashes under, as its lines and summaries name it: the
// job's name, its file's SHA-256, and how many pagers it still allows on
// this machine, asked as each line is written.
struct LogJob {
  std::string name;
  std::string sha256;
  std::function<int()> quota_left;
};

// job, job_sha256 and quota_left: a line of a pager flashed under `job`, or
// the summary of a run under it.
void AddJobFields(nlohmann::json& record, const LogJob& job);

// Figures to a sensible precision: milliseconds.
double RoundedSeconds(double seconds);
