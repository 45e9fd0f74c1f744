// Small pieces the benchmark programs share: GUI services that keep boxes
// instead of printing them, a scratch directory, and the clocks they read.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/GuiServices.h"

// Keeps the text of every box; calls `on_pump` at each event pump.
class QuietGui final : public IGuiServices {
 public:
  QuietGui() { previous_ = SetGuiServices(this); }
  ~QuietGui() override { SetGuiServices(previous_); }
  QuietGui(const QuietGui&) = delete;
  QuietGui& operator=(const QuietGui&) = delete;

  void ProcessMessages() override {
    if (on_pump) on_pump();
  }
  void MessageBox(const std::string& text, const std::string&, std::uint32_t) override {
    boxes.push_back(text);
  }

  std::vector<std::string> boxes;
  std::function<void()> on_pump;

 private:
  IGuiServices* previous_ = nullptr;
};

// A directory under the system's temporary directory, removed with its
// contents at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tarvex-bench-" + std::to_string(random()) + "-" + std::to_string(stamp));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

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
