#include "cli/TraceLog.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>

#include "cli/Platform.h"

bool TraceLog::CanAppend() const { return AppendWhole(path_, ""); }

bool TraceLog::Append(const PortResult& result) {
  const std::string line = JsonLogRecord(result, UtcNow(), file_name_, sha256_) + "\n";
  std::lock_guard lock(mutex_);
  return AppendWhole(path_, line);
}

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(now));
}
