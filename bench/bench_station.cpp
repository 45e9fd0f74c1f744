// bench_station: a production bench. Runs `tarvex-flash --station` on 8
// ports, each a paced pager emulator (optionally behind an adapter's latency
// timer) playing 5 pagers one after another (a pager is connected, flashed, left on
// the cable a while, removed, and after a time off the cable the next one
// comes). From the emulators' logs it takes, for every pager, the time from
// its connection to the "f" that started its update; from the clock, the
// whole bench's time, the pagers per hour and the share of the time the
// lines were busy against the most the technician's own time allows. Then
// it flashes the same 40 pagers as 5 one-shot gangs of 8, back to back, for
// comparison; and with --sweep, finds the shortest time off the cable at
// which every pager is still flashed once. With --latencies, the same bench
// behind each adapter latency timer listed, one after another, side by side.
//
//   bench_station [--records N] [--ports N] [--pagers N] [--rate 2400|4800|9600]
//                 [--linger-ms MS] [--gap-ms MS] [--latency-ms MS] [--sweep]
//                 [--no-gangs] [--latencies MS,MS...] [--flasher PATH]
#include <signal.h>
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
    "                     [--linger-ms MS] [--gap-ms MS] [--latency-ms MS] [--sweep]\n"
    "                     [--no-gangs] [--latencies MS,MS...] [--flasher PATH]\n";
constexpr std::uint64_t kMaxRecords = 1u << 20;
constexpr std::uint64_t kMaxPorts = 32;
constexpr std::uint64_t kMaxPagers = 100;
constexpr std::uint64_t kMaxPauseMs = 600000;
// The ports' pagers come this far apart, so their attaches fall at different
// moments of the station's probe cycles.
constexpr int kAttachStaggerMs = 113;
// Times off the cable the sweep tries, longest first.
constexpr int kSweepGapsMs[] = {1000, 600, 400, 300, 200, 100};

struct Options {
  std::uint32_t records = 200;
  int ports = 8;
  int pagers = 5;
  int rate = 9600;
  int linger_ms = 1000;
  // The time the cable is empty between two pagers.
  int gap_ms = 1000;
  // The adapters' latency timer: none, as an FTDI chip's is on Linux while
  // the port is open (tarvex-flash asks for low latency); 16 ms as Windows
  // leaves it by default.
  int latency_ms = 0;
  bool sweep = false;
  bool gangs = true;
  // The adapter latency timers to compare, each a bench run of its own.
  std::vector<int> latencies;
  std::string flasher = TARVEX_FLASH_PATH;
};

// "16,1": timers from 0 to 255 ms, at least one.
bool ParseLatencies(const char* value, std::vector<int>& latencies) {
  if (value == nullptr) return false;
  std::string list = value;
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, comma - start);
    std::uint64_t number = 0;
    if (item == "0") {
      latencies.push_back(0);
    } else if (ParseCount(item.c_str(), 255, number)) {
      latencies.push_back(static_cast<int>(number));
    } else {
      return false;
    }
    start = comma + 1;
  }
  return !latencies.empty();
}

bool ParseOption(const std::string& arg, const char* value, Options& options) {
  std::uint64_t number = 0;
  if (arg == "--latencies") return ParseLatencies(value, options.latencies);
  if (arg == "--latency-ms" && value != nullptr && std::string(value) == "0") {
    options.latency_ms = 0;
  } else if (arg == "--latency-ms" && ParseCount(value, 255, number)) {
    options.latency_ms = static_cast<int>(number);
  } else if (arg == "--flasher" && value != nullptr) {
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
  for (int i = 1; i < argc;) {
    const std::string arg = argv[i];
    if (arg == "--sweep" || arg == "--no-gangs") {
      (arg == "--sweep" ? options.sweep : options.gangs) = arg == "--sweep";
      ++i;
    } else if (ParseOption(arg, i + 1 < argc ? argv[i + 1] : nullptr, options)) {
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

// Runs the flasher with `args`, its output thrown away; the exit code and
// the wall time it took. One still running after `limit_s` is stopped as
// Ctrl+C would stop it.
int RunFlasher(const Texts& args, double& wall, double limit_s = 0) {
  // The child must not inherit, and write out, what this one has yet to.
  std::fflush(stdout);
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
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (limit_s > 0 && WallSeconds() - start > limit_s) kill(pid, SIGINT);
    usleep(20000);
  }
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

// For each pager of one emulator's log: from its connection to the "f" that
// started its update. False when a pager was flashed more or less than once.
bool AttachToF(const std::vector<std::string>& log, int pagers, std::vector<double>& seconds) {
  long attached = -1;
  int attaches = 0;
  int erases = 0;
  for (const std::string& line : log) {
    if (line.find(" INFO pager ") != std::string::npos &&
        line.find(" attached") != std::string::npos) {
      attached = LogMs(line);
      ++attaches;
    } else if (line.size() > 5 && line.compare(line.size() - 5, 5, " RX f") == 0 && attached >= 0) {
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
  std::vector<double> attach_to_f;  // seconds, one per pager
  std::string problem;              // empty when every pager holds the image, once
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

// Port i's pagers each wait i x kAttachStaggerMs more before they are
// connected, and the cable is empty that much less after each: every pager
// is off the cable for the same time.
Texts BenchOptions(const Options& options, int port) {
  const int stagger = (port * kAttachStaggerMs) % std::max(1, options.gap_ms);
  return Texts{"--sessions",     std::to_string(options.pagers),
               "--attach-after", std::to_string(stagger),
               "--linger-ms",    std::to_string(options.linger_ms),
               "--gap-ms",       std::to_string(options.gap_ms - stagger),
               "--latency-ms",   std::to_string(options.latency_ms)};
}

// A bench run no pager should take longer than, so a station that never
// sees its pagers ends: every pager's line time, linger and time off the
// cable twice over, and half a minute.
double RunLimitSeconds(const Options& options) {
  const double per_pager = ComputeLineBound(options.records, options.rate).seconds +
                           (options.linger_ms + options.gap_ms) / 1000.0;
  return 2 * options.pagers * per_pager + 30;
}

BenchRun RunStationBench(const std::string& hex, const TempDir& dir, const Options& options,
                         const std::string& name = "station") {
  BenchRun run;
  std::vector<Line> lines =
      StartLines(dir, name, options.ports, [&](int i) { return BenchOptions(options, i); });
  if (lines.empty()) return {0, {}, "an emulator did not start"};
  Texts args = FlasherArgs(options, lines);
  args.insert(args.end(),
              {"--station", "--count", std::to_string(options.ports * options.pagers), hex});
  const int code = RunFlasher(args, run.wall, RunLimitSeconds(options));
  for (Line& line : lines) line.emulator->Stop();
  if (code != 0) run.problem = "tarvex-flash --station ended with " + std::to_string(code);
  for (const Line& line : lines) {
    if (!AttachToF(line.emulator->LogLines(), options.pagers, run.attach_to_f) &&
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
        StartLines(dir, "gang" + std::to_string(gang), options.ports, [&](int) {
          return Texts{"--latency-ms", std::to_string(options.latency_ms)};
        });
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

void PrintConnectionToF(std::vector<double> seconds) {
  if (seconds.empty()) return;
  std::sort(seconds.begin(), seconds.end());
  const double mean =
      std::accumulate(seconds.begin(), seconds.end(), 0.0) / static_cast<double>(seconds.size());
  std::printf(
      "connection to \"f\", %zu pagers: min %.3f s, median %.3f s, mean %.3f s, "
      "max %.3f s\n",
      seconds.size(), seconds.front(), seconds[seconds.size() / 2], mean, seconds.back());
}

// The most the technician's own time allows: each port's pagers one after
// another, each for its line-time bound, the ones before the last each also
// lingering and then off the cable, after the port's first wait.
double TechnicianSeconds(const Options& options) {
  const double bound = ComputeLineBound(options.records, options.rate).seconds;
  double technician = 0;
  for (int port = 0; port < options.ports; ++port) {
    const double first_wait = (port * kAttachStaggerMs) % std::max(1, options.gap_ms) / 1000.0;
    technician = std::max(technician,
                          first_wait + options.pagers * bound +
                              (options.pagers - 1) * (options.linger_ms + options.gap_ms) / 1000.0);
  }
  return technician;
}

double PagersPerHour(const Options& options, double wall) {
  return options.ports * options.pagers * 3600.0 / wall;
}

// The lines' busy time over the station's, against the most the
// technician's own time allows.
void PrintThroughput(const Options& options, const BenchRun& station) {
  const double technician = TechnicianSeconds(options);
  const double line_time = options.pagers * ComputeLineBound(options.records, options.rate).seconds;
  std::printf(
      "%.0f pagers per hour; lines busy %.1f %% of the time, against %.1f %% the technician's "
      "time allows (%.3f s): %.1f %% of it\n",
      PagersPerHour(options, station.wall), 100 * line_time / station.wall,
      100 * line_time / technician, technician, 100 * technician / station.wall);
}

// The shortest time off the cable at which every pager of a single port is
// still flashed once, a few pagers and a short file at each time tried.
void Sweep(const std::string& hex, const TempDir& dir, Options options) {
  options.ports = 1;
  options.pagers = 4;
  int shortest = 0;
  for (const int gap_ms : kSweepGapsMs) {
    options.gap_ms = gap_ms;
    const BenchRun run = RunStationBench(hex, dir, options, "sweep-" + std::to_string(gap_ms));
    std::printf("  %4d ms off the cable: %s\n", gap_ms,
                run.problem.empty() ? "every pager flashed once" : run.problem.c_str());
    std::fflush(stdout);
    if (!run.problem.empty()) break;
    shortest = gap_ms;
  }
  std::printf("shortest time off the cable seen to work: %d ms\n", shortest);
}

// The same bench behind each adapter latency timer in turn, in one run of
// this program, so the figures share the machine's load: the pagers per
// hour each timer allows, and each against the first.
bool CompareLatencies(const std::string& hex, const TempDir& dir, Options options) {
  struct Row {
    int latency_ms;
    BenchRun run;
  };
  std::vector<Row> rows;
  for (const int latency_ms : options.latencies) {
    options.latency_ms = latency_ms;
    rows.push_back(
        {latency_ms, RunStationBench(hex, dir, options, "latency-" + std::to_string(latency_ms))});
    std::printf("  adapter latency timer %3d ms: %.3f s  %s\n", latency_ms, rows.back().run.wall,
                rows.back().run.problem.empty() ? "every pager flashed once, images equal the file"
                                                : rows.back().run.problem.c_str());
    std::fflush(stdout);
  }
  const double technician = TechnicianSeconds(options);
  std::printf(
      "\n| Adapter latency timer | Station | Pagers per hour | Of the technician's ceiling "
      "| Against %d ms |\n| --- | --- | --- | --- | --- |\n",
      rows.front().latency_ms);
  bool all_flashed = true;
  for (const Row& row : rows) {
    all_flashed = all_flashed && row.run.problem.empty();
    std::printf("| %d ms | %.3f s | %.0f | %.1f %% | %.3f |\n", row.latency_ms, row.run.wall,
                PagersPerHour(options, row.run.wall), 100 * technician / row.run.wall,
                rows.front().run.wall / row.run.wall);
  }
  return all_flashed;
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
  std::string timers = std::to_string(options.latency_ms);
  for (std::size_t i = 0; i < options.latencies.size(); ++i) {
    timers = (i == 0 ? "" : timers + ", ") + std::to_string(options.latencies[i]);
  }
  std::printf(
      "bench_station: %d ports x %d pagers, %u records at %d bit/s, pacing on, adapter latency "
      "timer %s ms; line bound %.3f s per pager; linger %d ms, off the cable %d ms\n",
      options.ports, options.pagers, options.records, options.rate, timers.c_str(),
      ComputeLineBound(options.records, options.rate).seconds, options.linger_ms, options.gap_ms);
  std::fflush(stdout);
  if (!options.latencies.empty()) return CompareLatencies(hex, dir, options) ? 0 : 1;
  const BenchRun station = RunStationBench(hex, dir, options);
  std::printf("station: %.3f s  %s\n", station.wall,
              station.problem.empty() ? "every pager flashed once, images equal the file"
                                      : station.problem.c_str());
  PrintConnectionToF(station.attach_to_f);
  PrintThroughput(options, station);
  std::fflush(stdout);
  bool gangs_ok = true;
  if (options.gangs) {
    const BenchRun gangs = RunGangs(hex, dir, options);
    gangs_ok = gangs.problem.empty();
    std::printf("%d gangs of %d: %.3f s  %s\n", options.pagers, options.ports, gangs.wall,
                gangs_ok ? "images equal the file" : gangs.problem.c_str());
    std::printf("station / gangs: %.3f\n", station.wall / gangs.wall);
  }
  if (options.sweep) Sweep(hex, dir, options);
  return station.problem.empty() && gangs_ok ? 0 : 1;
}
