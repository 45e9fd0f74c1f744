// Small pieces the benchmark programs share: the clocks they read and the
// peak memory. Boxes and scratch files come from the tests' support code.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <cstdint>

inline double ClockSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

inline double WallSeconds() { return ClockSeconds(CLOCK_MONOTONIC); }
inline double ProcessCpuSeconds() { return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID); }
inline double ThreadCpuSeconds() { return ClockSeconds(CLOCK_THREAD_CPUTIME_ID); }

// Peak resident set size of this process so far, in KiB.
inline long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Reads a positive decimal count no larger than `limit`; false if it is not one.
inline bool ParseCount(const char* text, std::uint64_t limit, std::uint64_t& out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || value == 0 || value > limit) return false;
  out = value;
  return true;
}
