#include "cli/TraceLog.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>

#include "cli/Platform.h"
#include "cli/StationReport.h"

bool TraceLog::CanAppend() const { return AppendWhole(path_, ""); }

bool TraceLog::Append(const PortResult& result) {
  return AppendLine(JsonLogRecord(result, UtcNow(), file_name_, sha256_) + "\n");
}

bool TraceLog::AppendStation(const PortResult& result, int number,
                             const std::string& station_start) {
  return AppendLine(
      JsonStationLogRecord(result, UtcNow(), file_name_, sha256_, number, station_start) + "\n");
}

bool TraceLog::AppendLine(const std::string& line) {
  std::lock_guard lock(mutex_);
  return AppendWhole(path_, line);
}

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(now));
}
