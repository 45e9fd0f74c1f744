#include "station/WallClock.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>
#include <ctime>

namespace {
std::time_t Now() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }
}  // namespace

std::string UtcNow() { return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(Now())); }

std::string LocalClockText() { return fmt::format("{:%H:%M:%S}", fmt::localtime(Now())); }
