// bench_engine: what the update engine itself costs. The benchmark image goes
// through the real channel to a pager that answers at once, so no time is
// spent waiting and all that is left is the engine's own work per record.
//
//   bench_engine [Google Benchmark flags]     CPU time per record
//   bench_engine --peak-rss [N ...]           peak memory for files of N records,
//                                             each update in a fresh process
//   bench_engine --callgrind-run [--records N] [--iterations K]
//                                             K plain updates, for
//                                             valgrind --tool=callgrind
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchImage.h"
#include "bench/BenchSupport.h"
#include "bench/InstantPager.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"

extern char** environ;

namespace {

constexpr int kFlashRate = 9600;
constexpr std::uint64_t kMaxRecords = 1u << 24;
constexpr std::uint64_t kMaxIterations = 1000000;

// The channel and the settings the engine is given, set up for one pager
// that answers at once.
class InstantSetup {
 public:
  InstantSetup() {
    comm_.DeviceFactory = pager_.Factory();
    comm_.DevicePath = "instant-pager";
  }
  InstantSetup(const InstantSetup&) = delete;
  InstantSetup& operator=(const InstantSetup&) = delete;

  // One whole update; empty when it went through as it should.
  std::string Update(const std::string& path, std::uint32_t records) {
    const std::uint64_t programs = pager_.programs;
    const std::size_t boxes = gui_.boxes.size();
    UpdateFlow flow({comm_, settings_, gui_, SystemTickSource()});
    const int state = flow.Run(path);
    if (state != stFinish) return "update ended in state " + std::to_string(state);
    if (gui_.boxes.size() != boxes + 1 || gui_.boxes.back().text != msgFinished.Text) {
      return "unexpected box: " +
             (gui_.boxes.empty() ? std::string("none") : gui_.boxes.back().text);
    }
    if (pager_.programs - programs != ImageSentRecords(records)) {
      return std::to_string(pager_.programs - programs) + " records programmed, expected " +
             std::to_string(ImageSentRecords(records));
    }
    // Nothing is kept between updates.
    gui_.boxes.clear();
    return "";
  }

 private:
  RecordingGui gui_;
  InstantPager pager_;
  TDComm comm_{gui_};
  const FixedUpdateSettings settings_{kFlashRate, 0};
};

// Image files by record count, written once and shared by all runs.
const std::string& ImagePath(std::uint32_t records) {
  static TempDir dir;
  static std::map<std::uint32_t, std::string> paths;
  auto found = paths.find(records);
  if (found != paths.end()) return found->second;
  const std::string path = dir.PathOf("image-" + std::to_string(records) + ".hex");
  std::string error;
  if (!WriteImageFile(path, records, error)) {
    std::fprintf(stderr, "bench_engine: %s\n", error.c_str());
    std::exit(1);
  }
  return paths.emplace(records, path).first->second;
}

void BM_Update(benchmark::State& state) {
  const auto records = static_cast<std::uint32_t>(state.range(0));
  const std::string& path = ImagePath(records);
  InstantSetup setup;
  for (auto _ : state) {
    const std::string problem = setup.Update(path, records);
    if (!problem.empty()) {
      state.SkipWithError(problem.c_str());
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * records);
  state.counters["records"] = records;
  state.counters["file_bytes"] = static_cast<double>(ImageFileBytes(records));
  // CPU seconds per data record (Google Benchmark divides rates by CPU time).
  state.counters["cpu_per_record"] = benchmark::Counter(
      records, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// The real time of every update includes the host's 100 ms pause before
// "q"; it is a sleep and does not count as CPU time.
BENCHMARK(BM_Update)
    ->Arg(kRecordsPer64KiB)
    ->Arg(10 * kRecordsPer64KiB)
    ->Unit(benchmark::kMillisecond);

// Peak memory as the kernel keeps it: ru_maxrss, and the VmHWM of this
// process image (ru_maxrss may carry over the parent's peak through exec).
long VmHwmKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

int PeakRssChild(std::uint32_t records) {
  TempDir dir;
  const std::string path = dir.PathOf("image.hex");
  std::string error;
  if (!WriteImageFile(path, records, error)) {
    std::fprintf(stderr, "bench_engine: %s\n", error.c_str());
    return 1;
  }
  InstantSetup setup;
  const long rss_before = PeakRssKiB();
  const long hwm_before = VmHwmKiB();
  const std::string problem = setup.Update(path, records);
  const long rss_after = PeakRssKiB();
  const long hwm_after = VmHwmKiB();
  if (!problem.empty()) {
    std::fprintf(stderr, "bench_engine: %s\n", problem.c_str());
    return 1;
  }
  std::printf("%9u %12llu %14ld %14ld %12ld %12ld\n", records,
              static_cast<unsigned long long>(ImageFileBytes(records)), rss_before, rss_after,
              hwm_before, hwm_after);
  std::fflush(stdout);
  return 0;
}

int PeakRss(const std::vector<std::uint32_t>& sizes) {
  std::printf("Peak memory of one update, each in a fresh process (KiB)\n");
  std::printf("%9s %12s %14s %14s %12s %12s\n", "records", "file bytes", "maxrss before",
              "maxrss after", "VmHWM before", "VmHWM after");
  std::fflush(stdout);
  for (std::uint32_t records : sizes) {
    const std::string count = std::to_string(records);
    std::vector<char*> child_argv = {const_cast<char*>("bench_engine"),
                                     const_cast<char*>("--peak-rss-child"),
                                     const_cast<char*>(count.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, child_argv.data(), environ) != 0) {
      std::perror("bench_engine: posix_spawn");
      return 1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "bench_engine: the run for %u records failed\n", records);
      return 1;
    }
  }
  return 0;
}

int CallgrindRun(std::uint32_t records, std::uint64_t iterations) {
  // The file is written before the first update, so a count restricted to
  // UpdateFlow::Run leaves it out.
  const std::string& path = ImagePath(records);
  InstantSetup setup;
  for (std::uint64_t i = 0; i < iterations; ++i) {
    const std::string problem = setup.Update(path, records);
    if (!problem.empty()) {
      std::fprintf(stderr, "bench_engine: %s\n", problem.c_str());
      return 1;
    }
  }
  std::printf(
      "callgrind run: %llu updates of %u data records (%u records sent each), "
      "%llu data records in all\n",
      static_cast<unsigned long long>(iterations), records, ImageSentRecords(records),
      static_cast<unsigned long long>(iterations * records));
  return 0;
}

constexpr char kUsage[] =
    "usage: bench_engine [Google Benchmark flags]\n"
    "       bench_engine --peak-rss [N ...]\n"
    "       bench_engine --callgrind-run [--records N] [--iterations K]\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--peak-rss-child") {
    std::uint64_t records = 0;
    if (argc != 3 || !ParseCount(argv[2], kMaxRecords, records)) return 2;
    return PeakRssChild(static_cast<std::uint32_t>(records));
  }
  if (mode == "--peak-rss") {
    std::vector<std::uint32_t> sizes;
    for (int i = 2; i < argc; ++i) {
      std::uint64_t records = 0;
      if (!ParseCount(argv[i], kMaxRecords, records)) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      sizes.push_back(static_cast<std::uint32_t>(records));
    }
    if (sizes.empty()) sizes = {kRecordsPer64KiB, 10 * kRecordsPer64KiB, 100 * kRecordsPer64KiB};
    return PeakRss(sizes);
  }
  if (mode == "--callgrind-run") {
    std::uint64_t records = kRecordsPer64KiB;
    std::uint64_t iterations = 1;
    for (int i = 2; i < argc; i += 2) {
      const std::string arg = argv[i];
      const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
      const bool ok = (arg == "--records" && ParseCount(value, kMaxRecords, records)) ||
                      (arg == "--iterations" && ParseCount(value, kMaxIterations, iterations));
      if (!ok) {
        std::fputs(kUsage, stderr);
        return 2;
      }
    }
    return CallgrindRun(static_cast<std::uint32_t>(records), iterations);
  }
  if (mode == "-h" || mode == "--help") std::fputs(kUsage, stdout);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
