#include "station/TraceLog.h"

#include "station/JsonText.h"
#include "station/LogFile.h"
#include "station/LogRecord.h"
#include "station/WallClock.h"

bool TraceLog::CanAppend() const { return AppendWhole(path_, ""); }

bool TraceLog::Append(const PortResult& result) {
  return AppendLine(JsonText(LogRecord(result, UtcNow(), file_name_, sha256_)) + "\n");
}

bool TraceLog::AppendStation(const PortResult& result, int number,
                             const std::string& station_start) {
  return AppendLine(
      JsonText(StationLogRecord(result, UtcNow(), file_name_, sha256_, number, station_start)) +
      "\n");
}

std::string TraceLog::CannotAppendText() const { return "cannot append to the log " + path_ + "."; }

bool TraceLog::AppendLine(const std::string& line) {
  std::lock_guard lock(mutex_);
  return AppendWhole(path_, line);
}
