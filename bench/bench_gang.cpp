// bench_gang: several pagers at once. Runs the tarvex-flash program against
// 1, 4 and 8 paced pager emulators (each its own process, as separate cables
// would be) with the same file, and compares the wall time of each gang with
// one pager alone. The flasher's own CPU time, peak memory and the bytes it
// wrote to disk come from wait4(): per record and per pager, they should
// stay as for one.
//
//   bench_gang [--records N | --file-mib N] [--gangs 1,4,8] [--rate 2400|4800|9600]
//              [--no-pace] [--flasher PATH]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchImage.h"
#include "bench/BenchSupport.h"
#include "bench/LineBound.h"
#include "tests/e2e/PagerProcess.h"
#include "tests/support/HexText.h"

namespace {

using Texts = std::vector<std::string>;

constexpr char kUsage[] =
    "usage: bench_gang [--records N | --file-mib N] [--gangs 1,4,8] [--rate 2400|4800|9600]\n"
    "                  [--no-pace] [--flasher PATH]\n";
constexpr std::uint64_t kMaxRecords = 1u << 20;
constexpr std::uint64_t kMaxGang = 32;
constexpr std::uint64_t kMaxFileMiB = 64;
constexpr std::uint64_t kMiB = 1u << 20;
constexpr long kBlockBytes = 512;  // the unit of ru_oublock

struct Options {
  std::uint32_t records = 1000;
  std::vector<int> gangs = {1, 4, 8};
  int rate = 9600;
  bool pace = true;
  std::string flasher = TARVEX_FLASH_PATH;
};

// The number of records whose file comes closest to `mib` MiB without
// passing it.
std::uint32_t RecordsForMiB(std::uint64_t mib) {
  const std::uint64_t per_record = ImageFileBytes(kRecordsPer64KiB) / kRecordsPer64KiB;
  auto records = static_cast<std::uint32_t>(mib * kMiB / per_record);
  while (records > 1 && ImageFileBytes(records) > mib * kMiB) --records;
  return records;
}

bool ParseGangs(const char* text, std::vector<int>& gangs) {
  if (text == nullptr) return false;
  gangs.clear();
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    std::uint64_t count = 0;
    if (!ParseCount(item.c_str(), kMaxGang, count)) return false;
    gangs.push_back(static_cast<int>(count));
  }
  return !gangs.empty();
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    std::uint64_t number = 0;
    if (arg == "--no-pace") {
      options.pace = false;
      continue;
    }
    if (arg == "--records" && ParseCount(value, kMaxRecords, number)) {
      options.records = static_cast<std::uint32_t>(number);
    } else if (arg == "--file-mib" && ParseCount(value, kMaxFileMiB, number)) {
      options.records = RecordsForMiB(number);
    } else if (arg == "--flasher" && value != nullptr) {
      options.flasher = value;
    } else if (arg == "--rate" && ParseCount(value, 9600, number) &&
               (number == 2400 || number == 4800 || number == 9600)) {
      options.rate = static_cast<int>(number);
    } else if (arg == "--gangs" && ParseGangs(value, options.gangs)) {
    } else {
      return false;
    }
    ++i;
  }
  return true;
}

struct GangRun {
  int pagers = 0;
  double wall = 0;
  double cpu = 0;       // the flasher's user + system time
  long peak_rss = 0;    // the flasher's, KiB
  long disk_kib = 0;    // what the flasher wrote to files, KiB
  std::string problem;  // empty when every pager holds the image
};

double Seconds(const timeval& value) {
  return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_usec) * 1e-6;
}

// Runs the flasher on `lines`; fills wall, CPU and peak memory.
int RunFlasher(const std::vector<std::string>& lines, const std::string& hex_path,
               const Options& options, GangRun& run) {
  std::vector<std::string> args = {options.flasher, "-q", "-b", std::to_string(options.rate)};
  for (const std::string& line : lines) {
    args.push_back("-p");
    args.push_back(line);
  }
  args.push_back(hex_path);
  const double start = WallSeconds();
  const pid_t pid = fork();
  if (pid == 0) {
    // The child is the flasher: without a /dev/null for its table it is
    // not the run being measured.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.wall = WallSeconds() - start;
  run.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.peak_rss = usage.ru_maxrss;
  run.disk_kib = usage.ru_oublock * kBlockBytes / 1024;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

GangRun FlashGang(int pagers, const std::string& hex_path, const TempDir& dir,
                  const Options& options) {
  GangRun run;
  run.pagers = pagers;
  std::vector<std::unique_ptr<PagerProcess>> emulators;
  std::vector<std::string> lines;
  std::vector<std::string> images;
  for (int i = 0; i < pagers; ++i) {
    const auto sub = dir.path() / ("gang" + std::to_string(pagers) + "-" + std::to_string(i));
    std::filesystem::create_directories(sub);
    emulators.push_back(std::make_unique<PagerProcess>(sub.string()));
    images.push_back((sub / "image.bin").string());
    Texts emulator_options = {"--image-bin", images.back()};
    if (options.pace) emulator_options.push_back("--pace");
    lines.push_back(emulators.back()->Start(emulator_options));
    if (lines.back().empty()) {
      run.problem = "an emulator did not start";
      return run;
    }
  }
  const int code = RunFlasher(lines, hex_path, options, run);
  for (auto& emulator : emulators) emulator->Stop();
  if (code != 0) run.problem = "tarvex-flash ended with " + std::to_string(code);
  for (int i = 0; i < pagers && run.problem.empty(); ++i) {
    if (!BinaryHoldsImage(images[i], options.records)) {
      run.problem = "pager " + std::to_string(i + 1) + " does not hold the image";
    }
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  TempDir dir;
  const std::string hex_path = dir.PathOf("image.hex");
  std::string error;
  if (!WriteImageFile(hex_path, options.records, error)) {
    std::fprintf(stderr, "bench_gang: %s\n", error.c_str());
    return 1;
  }
  const LineBound bound = ComputeLineBound(options.records, options.rate);
  const double records = static_cast<double>(ImageSentRecords(options.records));
  std::printf(
      "bench_gang: %u records (%.2f MiB) at %d bit/s, pacing %s; line bound %.3f s per "
      "pager\n",
      options.records, static_cast<double>(ImageFileBytes(options.records)) / kMiB, options.rate,
      options.pace ? "on" : "off", bound.seconds);
  std::printf("%7s %10s %12s %10s %16s %14s %18s %14s\n", "pagers", "wall s", "wall / one", "CPU s",
              "CPU / record us", "peak RSS KiB", "RSS added / pager", "disk KiB");
  std::fflush(stdout);
  bool ok = true;
  // The first gang is the reference: one pager alone, unless told otherwise.
  GangRun alone;
  for (const int pagers : options.gangs) {
    const GangRun run = FlashGang(pagers, hex_path, dir, options);
    if (alone.pagers == 0) alone = run;
    // What each pager beyond the reference adds to the flasher's peak memory.
    const int added = pagers - alone.pagers;
    const double rss_per_added =
        added > 0 ? static_cast<double>(run.peak_rss - alone.peak_rss) / added : 0.0;
    std::printf("%7d %10.3f %12.4f %10.3f %16.2f %14ld %18.1f %14ld  %s\n", pagers, run.wall,
                run.wall / alone.wall, run.cpu, 1e6 * run.cpu / (records * pagers), run.peak_rss,
                rss_per_added, run.disk_kib,
                run.problem.empty() ? "all images equal the file" : run.problem.c_str());
    std::fflush(stdout);
    ok = ok && run.problem.empty();
  }
  std::printf("(RSS added / pager: KiB over the first gang's peak, per pager beyond it)\n");
  return ok ? 0 : 1;
}
