// bench_idle: CPU the host uses while it waits for nothing. Three waits, each
// timed on the wall clock and on the process CPU clock:
//   - a whole update against a pager that never answers (a pty nobody reads):
//     the first command's reply limit runs out, the update ends;
//   - one reply wait on that line;
//   - one reply wait on a closed channel, where every read fails at once.
//   bench_idle [--repeat N]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "bench/BenchImage.h"
#include "bench/BenchSupport.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"

namespace {

constexpr std::uint64_t kMaxRepeat = 100;

// A pseudo-terminal whose master end is held open and never read: whatever
// the host writes stays in the queue and no reply ever comes.
class DeafLine {
 public:
  DeafLine() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
        ptsname_r(master_, name, sizeof name) == 0) {
      slave_path_ = name;
    }
  }
  ~DeafLine() {
    if (master_ >= 0) close(master_);
  }
  DeafLine(const DeafLine&) = delete;
  DeafLine& operator=(const DeafLine&) = delete;

  const std::string& SlavePath() const { return slave_path_; }

 private:
  int master_ = -1;
  std::string slave_path_;
};

struct Sample {
  double wall = 0;
  double cpu = 0;
};

struct Summary {
  double wall_sum = 0;
  double cpu_sum = 0;
  double cpu_max = 0;
  int count = 0;
  void Add(const Sample& sample) {
    wall_sum += sample.wall;
    cpu_sum += sample.cpu;
    cpu_max = std::max(cpu_max, sample.cpu);
    ++count;
  }
};

Sample Measure(const std::function<void()>& wait) {
  const double cpu_start = ProcessCpuSeconds();
  const double wall_start = WallSeconds();
  wait();
  return {WallSeconds() - wall_start, ProcessCpuSeconds() - cpu_start};
}

void Print(const char* name, const Summary& summary) {
  const double wall = summary.wall_sum / summary.count;
  const double cpu = summary.cpu_sum / summary.count;
  std::printf("%-44s %8.3f s %9.3f ms %9.3f ms %8.3f %%\n", name, wall, 1e3 * cpu,
              1e3 * summary.cpu_max, 100.0 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t repeat = 3;
  if (argc == 3 && std::string(argv[1]) == "--repeat" && ParseCount(argv[2], kMaxRepeat, repeat)) {
  } else if (argc != 1) {
    std::fputs("usage: bench_idle [--repeat N]\n", stderr);
    return 2;
  }
  TempDir dir;
  // One record: checking the file before the first command costs next to nothing.
  const std::string hex_path = dir.PathOf("one-record.hex");
  std::string error;
  if (!WriteImageFile(hex_path, 1, error)) {
    std::fprintf(stderr, "bench_idle: %s\n", error.c_str());
    return 1;
  }
  DeafLine line;
  if (line.SlavePath().empty()) {
    std::perror("bench_idle: cannot open a pseudo-terminal");
    return 1;
  }

  RecordingGui gui;
  TDComm comm(gui);
  comm.DevicePath = line.SlavePath();
  const FixedUpdateSettings settings(9600, 0);
  const UpdateContext context{comm, settings, gui, SystemTickSource()};

  Summary silent_run;
  Summary silent_wait;
  Summary closed_wait;
  std::string problem;
  for (std::uint64_t i = 0; i < repeat && problem.empty(); ++i) {
    gui.boxes.clear();
    int state = -1;
    silent_run.Add(Measure([&] {
      UpdateFlow flow(context);
      state = flow.Run(hex_path);
    }));
    if (state != stFinish || gui.boxes.size() != 1 || gui.boxes[0].text != msgNoResponse.Text) {
      problem = "the update against the silent line did not end for want of a reply";
      break;
    }

    if (!comm.OpenPort()) {
      problem = "cannot open " + comm.DevicePath;
      break;
    }
    bool got = true;
    silent_wait.Add(Measure([&] {
      UpdateFlow flow(context);
      std::uint8_t byte = 0;
      got = flow.WaitReply(static_cast<int>(kReplyLimitMs), byte);
    }));
    comm.ClosePort();
    if (got) problem = "a reply came on the silent line";

    closed_wait.Add(Measure([&] {
      UpdateFlow flow(context);
      std::uint8_t byte = 0;
      got = flow.WaitReply(static_cast<int>(kReplyLimitMs), byte);
    }));
    if (got) problem = "a reply came on the closed channel";
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "bench_idle: %s\n", problem.c_str());
    return 1;
  }
  std::printf("bench_idle: reply limit %u ms, mean of %llu runs\n", kReplyLimitMs,
              static_cast<unsigned long long>(repeat));
  std::printf("%-44s %10s %12s %12s %10s\n", "wait", "wall", "CPU", "CPU max", "CPU/wall");
  Print("Run, pager silent (pty nobody answers)", silent_run);
  Print("WaitReply, pager silent (pty nobody answers)", silent_wait);
  Print("WaitReply, channel closed", closed_wait);
  return 0;
}
