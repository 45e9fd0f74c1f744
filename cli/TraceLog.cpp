#include "cli/TraceLog.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>
#include <fstream>

bool TraceLog::CanAppend() const {
  std::ofstream out(path_, std::ios::app | std::ios::binary);
  return out.good();
}

bool TraceLog::Append(const PortResult& result) {
  const std::string line = JsonLogRecord(result, UtcNow(), file_name_, sha256_) + "\n";
  std::lock_guard lock(mutex_);
  std::ofstream out(path_, std::ios::app | std::ios::binary);
  out << line;
  out.flush();
  return out.good();
}

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(now));
}
