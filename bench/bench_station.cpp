// bench_station: a production bench. Runs `tarvex-flash --station` on 8
// ports, each a paced pager emulator playing 5 pagers one after another (a
// pager is connected, flashed, left on the cable a while, removed, and after
// a gap the next one comes). From the emulators' logs it takes, for every
// pager, the time from its attach to the rate command that started its
// update; from the clock, the whole bench's time. Then it flashes the same
// 40 pagers as 5 one-shot gangs of 8, back to back, for comparison.
//
//   bench_station [--records N] [--ports N] [--pagers N] [--rate 2400|4800|9600]
//                 [--linger-ms MS] [--gap-ms MS] [--flasher PATH]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <numeric>
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
    "usage: bench_station [--records N] [--ports N] [--pagers N] [--rate 2400|4800|9600]\n"
    "                     [--linger-ms MS] [--gap-ms MS] [--flasher PATH]\n";
constexpr std::uint64_t kMaxRecords = 1u << 20;
constexpr std::uint64_t kMaxPorts = 32;
constexpr std::uint64_t kMaxPagers = 100;
constexpr std::uint64_t kMaxPauseMs = 600000;
// The ports' first pagers come this far apart, so their attaches fall at
// different moments of the station's probe cycle.
constexpr int kAttachStaggerMs = 313;

struct Options {
  std::uint32_t records = 200;
  int ports = 8;
  int pagers = 5;
  int rate = 9600;
  int linger_ms = 1000;
  // Long enough for the station to see the cable empty (two silent probes).
  int gap_ms = 5000;
  std::string flasher = TARVEX_FLASH_PATH;
};

bool ParseOption(const std::string& arg, const char* value, Options& options) {
  std::uint64_t number = 0;
  if (arg == "--flasher" && value != nullptr) {
    options.flasher = value;
  } else if (arg == "--records" && ParseCount(value, kMaxRecords, number)) {
    options.records = static_cast<std::uint32_t>(number);
  } else if (arg == "--ports" && ParseCount(value, kMaxPorts, number)) {
    options.ports = static_cast<int>(number);
  } else if (arg == "--pagers" && ParseCount(value, kMaxPagers, number)) {
    options.pagers = static_cast<int>(number);
  } else if (arg == "--rate" && ParseCount(value, 9600, number) &&
             (number == 2400 || number == 4800 || number == 9600)) {
    options.rate = static_cast<int>(number);
  } else if (arg == "--linger-ms" && ParseCount(value, kMaxPauseMs, number)) {
    options.linger_ms = static_cast<int>(number);
  } else if (arg == "--gap-ms" && ParseCount(value, kMaxPauseMs, number)) {
    options.gap_ms = static_cast<int>(number);
  } else {
    return false;
  }
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; i += 2) {
    if (!ParseOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, options)) return false;
  }
  return true;
}

// Runs the flasher with `args`, its output thrown away; the exit code and
// the wall time it took.
int RunFlasher(const Texts& args, double& wall) {
  const double start = WallSeconds();
  const pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr ||
        std::freopen("/dev/null", "w", stderr) == nullptr) {
      _exit(127);
    }
    std::vector<std::string> owned = args;
    std::vector<char*> argv;
    for (std::string& arg : owned) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  wall = WallSeconds() - start;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Line {
  std::unique_ptr<PagerProcess> emulator;
  std::string path;
  std::string dir;
};

// Starts one emulator per port in `name`'s folder; empty when one failed.
std::vector<Line> StartLines(const TempDir& dir, const std::string& name, int ports,
                             const std::function<Texts(int)>& options_of) {
  std::vector<Line> lines;
  for (int i = 0; i < ports; ++i) {
    Line line;
    line.dir = (dir.path() / (name + "-" + std::to_string(i))).string();
    std::filesystem::create_directories(line.dir);
    line.emulator = std::make_unique<PagerProcess>(line.dir);
    Texts options = options_of(i);
    options.insert(options.end(), {"--pace", "--image-bin", line.dir + "/image-%d.bin"});
    line.path = line.emulator->Start(options);
    if (line.path.empty()) return {};
    lines.push_back(std::move(line));
  }
  return lines;
}

Texts FlasherArgs(const Options& options, const std::vector<Line>& lines) {
  Texts args = {options.flasher, "-b", std::to_string(options.rate)};
  for (const Line& line : lines) args.insert(args.end(), {"-p", line.path});
  return args;
}

// Milliseconds since the emulator's start of a log line.
long LogMs(const std::string& line) { return std::stol(line.substr(0, line.find(' '))); }

// For each pager of one emulator's log: from its attach to the rate command
// of its update. False when a pager was flashed more or less than once.
bool AttachToRate(const std::vector<std::string>& log, int pagers, std::vector<double>& seconds) {
  long attached = -1;
  int attaches = 0;
  int erases = 0;
  for (const std::string& line : log) {
    if (line.find(" INFO pager ") != std::string::npos &&
        line.find(" attached") != std::string::npos) {
      attached = LogMs(line);
      ++attaches;
    } else if (line.find(" RX b") != std::string::npos && attached >= 0) {
      seconds.push_back(static_cast<double>(LogMs(line) - attached) / 1000.0);
      attached = -1;
    } else if (line.find(" INFO erase") != std::string::npos) {
      ++erases;
    }
  }
  return attaches == pagers && erases == pagers;
}

struct BenchRun {
  double wall = 0;
  std::vector<double> attach_to_rate;  // seconds, one per pager
  std::string problem;                 // empty when every pager holds the image, once
};

std::string CheckImages(const std::vector<Line>& lines, int pagers, std::uint32_t records) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (int pager = 1; pager <= pagers; ++pager) {
      const std::string bin = lines[i].dir + "/image-" + std::to_string(pager) + ".bin";
      if (!BinaryHoldsImage(bin, records)) {
        return "port " + std::to_string(i + 1) + " pager " + std::to_string(pager) +
               " does not hold the image";
      }
    }
  }
  return "";
}

BenchRun RunStationBench(const std::string& hex, const TempDir& dir, const Options& options) {
  BenchRun run;
  std::vector<Line> lines = StartLines(dir, "station", options.ports, [&](int i) {
    return Texts{"--sessions",     std::to_string(options.pagers),
                 "--attach-after", std::to_string(i * kAttachStaggerMs),
                 "--linger-ms",    std::to_string(options.linger_ms),
                 "--gap-ms",       std::to_string(options.gap_ms)};
  });
  if (lines.empty()) return {0, {}, "an emulator did not start"};
  Texts args = FlasherArgs(options, lines);
  args.insert(args.end(),
              {"--station", "--count", std::to_string(options.ports * options.pagers), hex});
  const int code = RunFlasher(args, run.wall);
  for (Line& line : lines) line.emulator->Stop();
  if (code != 0) run.problem = "tarvex-flash --station ended with " + std::to_string(code);
  for (const Line& line : lines) {
    if (!AttachToRate(line.emulator->LogLines(), options.pagers, run.attach_to_rate) &&
        run.problem.empty()) {
      run.problem = "a pager was not flashed exactly once";
    }
  }
  if (run.problem.empty()) run.problem = CheckImages(lines, options.pagers, options.records);
  return run;
}

// The same pagers as gangs: each gang all ports at once, one pager each.
BenchRun RunGangs(const std::string& hex, const TempDir& dir, const Options& options) {
  BenchRun run;
  for (int gang = 1; gang <= options.pagers && run.problem.empty(); ++gang) {
    std::vector<Line> lines =
        StartLines(dir, "gang" + std::to_string(gang), options.ports, [](int) { return Texts{}; });
    if (lines.empty()) return {0, {}, "an emulator did not start"};
    Texts args = FlasherArgs(options, lines);
    args.insert(args.end(), {"-q", hex});
    double wall = 0;
    const int code = RunFlasher(args, wall);
    run.wall += wall;
    for (Line& line : lines) line.emulator->Stop();
    if (code != 0) run.problem = "tarvex-flash ended with " + std::to_string(code);
    if (run.problem.empty()) run.problem = CheckImages(lines, 1, options.records);
  }
  return run;
}

// The time the last port's emulator spends with no pager ready to be
// flashed, as scheduled: the wait before its first pager, and between two
// pagers the linger, the gap and the wait again. The station's time beyond
// the gangs' and this is its own.
double OffCableSeconds(const Options& options) {
  const double attach = (options.ports - 1) * kAttachStaggerMs / 1000.0;
  const double between = (options.linger_ms + options.gap_ms) / 1000.0 + attach;
  return attach + (options.pagers - 1) * between;
}

void PrintLatency(std::vector<double> seconds) {
  if (seconds.empty()) return;
  std::sort(seconds.begin(), seconds.end());
  const double mean =
      std::accumulate(seconds.begin(), seconds.end(), 0.0) / static_cast<double>(seconds.size());
  std::printf(
      "attach to rate command, %zu pagers: min %.3f s, median %.3f s, mean %.3f s, "
      "max %.3f s\n",
      seconds.size(), seconds.front(), seconds[seconds.size() / 2], mean, seconds.back());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  TempDir dir;
  const std::string hex = dir.PathOf("image.hex");
  std::string error;
  if (!WriteImageFile(hex, options.records, error)) {
    std::fprintf(stderr, "bench_station: %s\n", error.c_str());
    return 1;
  }
  std::printf(
      "bench_station: %d ports x %d pagers, %u records at %d bit/s, pacing on; line bound "
      "%.3f s per pager; linger %d ms, gap %d ms, first attaches %d ms apart\n",
      options.ports, options.pagers, options.records, options.rate,
      ComputeLineBound(options.records, options.rate).seconds, options.linger_ms, options.gap_ms,
      kAttachStaggerMs);
  std::fflush(stdout);
  const BenchRun station = RunStationBench(hex, dir, options);
  std::printf("station: %.3f s  %s\n", station.wall,
              station.problem.empty() ? "every pager flashed once, images equal the file"
                                      : station.problem.c_str());
  PrintLatency(station.attach_to_rate);
  std::fflush(stdout);
  const BenchRun gangs = RunGangs(hex, dir, options);
  std::printf("%d gangs of %d: %.3f s  %s\n", options.pagers, options.ports, gangs.wall,
              gangs.problem.empty() ? "images equal the file" : gangs.problem.c_str());
  std::printf("station / gangs: %.3f; station - gangs: %.3f s (%.3f s per pager in turn)\n",
              station.wall / gangs.wall, station.wall - gangs.wall,
              (station.wall - gangs.wall) / options.pagers);
  const double off_cable = OffCableSeconds(options);
  std::printf(
      "of which the last port's pagers lingered or were off the cable, as scheduled: "
      "%.3f s; the rest: %.3f s (%.3f s per pager in turn)\n",
      off_cable, station.wall - gangs.wall - off_cable,
      (station.wall - gangs.wall - off_cable) / options.pagers);
  return station.problem.empty() && gangs.problem.empty() ? 0 : 1;
}
