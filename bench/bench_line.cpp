// bench_line: line efficiency. Flashes the benchmark image through the real
// channel into the pager emulator with pacing on, so every byte takes the
// time it takes on a cable, and compares the wall time of the update with
// the least time the bytes on the line need.
//
// With --reference the same traffic is also sent by a bare host: one write
// per command and a blocking wait for each reply, no engine at all. Its time
// over the bound is what the emulator's pacing adds by itself; the engine's
// time over the bare host's is what the engine adds.
//
// With --latency-ms the emulator delivers every reply at the next multiple
// of N ms, as a USB adapter's latency timer does, and the figure is set
// beside the model: (line time + 2 x average lateness) / line time per record,
// the average lateness being N / 2.
//
//   bench_line [--records N] [--rate 2400|4800|9600] [--reference]
//              [--latency-ms N] [--slack-ns NS] [--log FILE]
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "PagerSim.h"
#include "bench/BenchImage.h"
#include "bench/BenchSupport.h"
#include "bench/LineBound.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"

namespace {

constexpr char kUsage[] =
    "usage: bench_line [--records N] [--rate 2400|4800|9600] [--reference]\n"
    "                  [--latency-ms N] [--slack-ns NS] [--log FILE]\n";
constexpr std::uint64_t kMaxRecords = 1u << 20;
constexpr std::uint64_t kMaxSlackNs = 50000;
constexpr int kProgressStep = 10;
constexpr int kBareReplyLimitMs = 2000;
constexpr std::uint64_t kMaxLatencyMs = 255;
// A record's bytes on the line: "s", 43 record characters and the ACK, then
// "p" and its ACK.
constexpr int kRecordLineBytes = 47;

struct Options {
  std::uint32_t records = kRecordsPer64KiB;
  int rate = 9600;
  bool reference = false;
  unsigned long slack_ns = 0;
  int latency_ms = 0;
  std::string log_path;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    std::uint64_t number = 0;
    if (arg == "--reference") {
      options.reference = true;
      continue;
    }
    if (arg == "--records" && ParseCount(value, kMaxRecords, number)) {
      options.records = static_cast<std::uint32_t>(number);
    } else if (arg == "--rate" && ParseCount(value, 9600, number) &&
               (number == 2400 || number == 4800 || number == 9600)) {
      options.rate = static_cast<int>(number);
    } else if (arg == "--latency-ms" && value != nullptr && std::string(value) == "0") {
      options.latency_ms = 0;
    } else if (arg == "--latency-ms" && ParseCount(value, kMaxLatencyMs, number)) {
      options.latency_ms = static_cast<int>(number);
    } else if (arg == "--slack-ns" && ParseCount(value, kMaxSlackNs, number)) {
      options.slack_ns = static_cast<unsigned long>(number);
    } else if (arg == "--log" && value != nullptr) {
      options.log_path = value;
    } else {
      return false;
    }
    ++i;
  }
  return true;
}

// Compares the emulator's flash with the image's data; empty when they agree.
std::string CheckImage(const pagersim::FlashImage& image, std::uint32_t records) {
  const std::uint64_t expected = static_cast<std::uint64_t>(records) * kImageRecordBytes;
  if (image.size() != expected) {
    return "image holds " + std::to_string(image.size()) + " bytes, expected " +
           std::to_string(expected);
  }
  for (const auto& [address, byte] : image.bytes()) {
    if (address >= expected || byte != ImageByte(address)) {
      return "image differs at address " + std::to_string(address);
    }
  }
  return "";
}

// Checks what the emulator saw: every command once, no complaint, the
// chosen rate taken up, the image complete. Empty when all is well.
std::string CheckEmulator(const pagersim::PagerSim& sim, const Options& options,
                          const LineBound& bound) {
  std::uint64_t received = 0;
  std::uint64_t complaints = 0;
  bool rate_seen = false;
  for (const pagersim::LogEvent& event : sim.Log()) {
    if (event.kind == pagersim::EventKind::kRx) ++received;
    if (event.kind == pagersim::EventKind::kErr || event.kind == pagersim::EventKind::kFault) {
      ++complaints;
    }
    if (event.kind == pagersim::EventKind::kRate && event.text == std::to_string(options.rate)) {
      rate_seen = true;
    }
  }
  if (received != bound.commands) {
    return "the emulator received " + std::to_string(received) + " commands, expected " +
           std::to_string(bound.commands);
  }
  if (complaints != 0) return std::to_string(complaints) + " ERR/FAULT events in its log";
  if (!rate_seen) return "it never listened at " + std::to_string(options.rate) + " bit/s";
  return CheckImage(sim.image(), options.records);
}

struct Timing {
  double wall = 0;
  double host_cpu = 0;     // the thread that ran the host
  double process_cpu = 0;  // host and emulator
  std::string problem;
};

// The update as the application runs it: UpdateFlow over TDComm.
std::string EngineHost(const std::string& line, const std::string& hex_path, int rate) {
  RecordingGui gui;
  TDComm comm(gui);
  comm.DevicePath = line;
  const FixedUpdateSettings settings(rate, 0);
  UpdateFlow flow({comm, settings, gui, SystemTickSource()});
  int shown = 0;
  gui.on_pump = [&] {
    const int progress = flow.GetProgress();
    if (progress >= shown + kProgressStep) {
      shown = progress - progress % kProgressStep;
      std::fprintf(stderr, "  %3d %%\n", shown);
    }
  };
  const int state = flow.Run(hex_path);
  if (state != stFinish) return "the update ended in state " + std::to_string(state);
  if (gui.boxes.size() != 1 || gui.boxes[0].text != msgFinished.Text) {
    return "boxes shown: " + std::to_string(gui.boxes.size()) +
           (gui.boxes.empty() ? "" : ", first \"" + gui.boxes[0].text + "\"");
  }
  return "";
}

// The bare host's line: raw 8N1, blocking waits.
class BareLine {
 public:
  explicit BareLine(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~BareLine() {
    if (fd_ >= 0) close(fd_);
  }
  BareLine(const BareLine&) = delete;
  BareLine& operator=(const BareLine&) = delete;

  bool SetRate(int rate) {
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    const speed_t speed = rate == 1200   ? B1200
                          : rate == 2400 ? B2400
                          : rate == 4800 ? B4800
                                         : B9600;
    return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0 &&
           tcsetattr(fd_, TCSANOW, &tio) == 0;
  }

  // Sends one command and waits for its reply; true for an ACK.
  bool Command(const std::string& bytes) {
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return false;
    pollfd entry{fd_, POLLIN, 0};
    std::uint8_t reply = 0;
    return poll(&entry, 1, kBareReplyLimitMs) == 1 && read(fd_, &reply, 1) == 1 && reply == kAck;
  }

 private:
  int fd_ = -1;
};

std::string BareHost(const std::string& line, std::uint32_t records, int rate) {
  BareLine bare(line);
  if (!bare.SetRate(kStartBaudRate)) return "cannot open " + line;
  const char* rate_command = rate == 2400 ? "b2400DC" : rate == 4800 ? "b4800B8" : "b96006A";
  if (!bare.Command("f") || !bare.Command(rate_command) || !bare.SetRate(rate) ||
      !bare.Command(kCmdErase)) {
    return "the bare host's start was refused";
  }
  bool ok = true;
  ForEachImageRecord(records, [&](const std::string& record) {
    if (record[7] == '0' && record[8] == '1') return;
    ok = ok && bare.Command("s" + record) && bare.Command("p");
  });
  usleep(kExitPauseMs * 1000);
  if (!ok || !bare.Command("q")) return "the bare host's transfer was refused";
  return "";
}

Timing FlashOnce(const Options& options, bool engine, const std::string& hex_path,
                 const LineBound& bound) {
  Timing timing;
  pagersim::PagerOptions pager_options;
  pager_options.pace = true;
  pager_options.latency_ms = options.latency_ms;
  if (engine) pager_options.log_path = options.log_path;
  pagersim::PagerSim sim(pager_options);
  if (!sim.Start(&timing.problem)) {
    timing.problem = "cannot start the emulator: " + timing.problem;
    return timing;
  }
  const double cpu_start = ProcessCpuSeconds();
  const double thread_start = ThreadCpuSeconds();
  const double wall_start = WallSeconds();
  timing.problem = engine ? EngineHost(sim.SlavePath(), hex_path, options.rate)
                          : BareHost(sim.SlavePath(), options.records, options.rate);
  timing.wall = WallSeconds() - wall_start;
  timing.host_cpu = ThreadCpuSeconds() - thread_start;
  timing.process_cpu = ProcessCpuSeconds() - cpu_start;
  sim.Stop();
  if (timing.problem.empty()) timing.problem = CheckEmulator(sim, options, bound);
  std::string error;
  if (engine && !options.log_path.empty() && !sim.WriteOutputs(&error)) {
    std::fprintf(stderr, "bench_line: %s\n", error.c_str());
  }
  return timing;
}

void Report(const char* host, const Timing& timing, const LineBound& bound) {
  const double overhead = timing.wall - bound.seconds;
  std::printf("  %s:\n", host);
  std::printf("    measured: %.3f s\n", timing.wall);
  std::printf("    ratio:    %.4f (%+.2f %% over the bound, %.1f us per command)\n",
              timing.wall / bound.seconds, 100.0 * overhead / bound.seconds,
              1e6 * overhead / static_cast<double>(bound.commands));
  std::printf("    CPU:      host thread %.3f s, process (host + emulator) %.3f s\n",
              timing.host_cpu, timing.process_cpu);
  if (timing.problem.empty()) {
    std::printf(
        "    check:    image equals the file's data, every command ACKed once, "
        "no ERR events\n");
  } else {
    std::printf("    check:    FAILED: %s\n", timing.problem.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // Timer slack is inherited by threads created later, the emulator's too.
  if (options.slack_ns != 0) prctl(PR_SET_TIMERSLACK, options.slack_ns);
  TempDir dir;
  const std::string hex_path = dir.PathOf("image.hex");
  std::string error;
  if (!WriteImageFile(hex_path, options.records, error)) {
    std::fprintf(stderr, "bench_line: %s\n", error.c_str());
    return 1;
  }
  const LineBound bound = ComputeLineBound(options.records, options.rate);
  std::printf("bench_line: %u records (%u data bytes, file %llu bytes) at %d bit/s, pacing on\n",
              options.records, options.records * kImageRecordBytes,
              static_cast<unsigned long long>(ImageFileBytes(options.records)), options.rate);
  std::printf("  line bytes: %llu at %d bit/s, %llu at %d bit/s; %llu commands\n",
              static_cast<unsigned long long>(bound.start_rate_bytes), kStartBaudRate,
              static_cast<unsigned long long>(bound.flash_rate_bytes), options.rate,
              static_cast<unsigned long long>(bound.commands));
  std::printf("  bound:      %.3f s (line %.3f s + pause %.3f s)\n", bound.seconds,
              bound.line_seconds, bound.pause_seconds);
  if (options.latency_ms > 0) {
    const double record_ms = kRecordLineBytes * 10.0 * 1000.0 / options.rate;
    std::printf(
        "  latency:    replies on a %d ms timer; model %.4f per record (%.3f ms + 2 x %.1f ms)\n",
        options.latency_ms, (record_ms + options.latency_ms) / record_ms, record_ms,
        options.latency_ms / 2.0);
  }
  std::fflush(stdout);

  const Timing engine = FlashOnce(options, true, hex_path, bound);
  Report("engine (UpdateFlow over TDComm)", engine, bound);
  bool ok = engine.problem.empty();
  if (options.reference) {
    const Timing bare = FlashOnce(options, false, hex_path, bound);
    Report("bare host (same traffic, no engine)", bare, bound);
    ok = ok && bare.problem.empty();
    if (ok) {
      std::printf("  engine / bare host: %.4f (%+.2f %%)\n", engine.wall / bare.wall,
                  100.0 * (engine.wall - bare.wall) / bare.wall);
    }
  }
  return ok ? 0 : 1;
}
