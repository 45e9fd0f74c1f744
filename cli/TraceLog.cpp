#include "cli/TraceLog.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>
#include <cstdio>

#include "cli/Platform.h"

bool TraceLog::CanAppend() const {
  std::FILE* out = OpenForAppend(path_);
  return out != nullptr && std::fclose(out) == 0;
}

bool TraceLog::Append(const PortResult& result) {
  const std::string line = JsonLogRecord(result, UtcNow(), file_name_, sha256_) + "\n";
  std::lock_guard lock(mutex_);
  std::FILE* out = OpenForAppend(path_);
  if (out == nullptr) return false;
  const bool written = std::fwrite(line.data(), 1, line.size(), out) == line.size();
  return std::fclose(out) == 0 && written;
}

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(now));
}
