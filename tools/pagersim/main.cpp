// pagersim: command-line front end of the emulated pager loader.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "PagerSim.h"

namespace {

using pagersim::PagerOptions;
using pagersim::PagerSim;

constexpr int kExitOk = 0;
constexpr int kExitRuntimeError = 1;
constexpr int kExitBadOptions = 2;
constexpr int kMainPollMs = 100;  // how soon a self-finished emulator is noticed
constexpr size_t kStdinChunkBytes = 256;

// Signals are turned into bytes on a pipe so the main loop does all the work (writing
// files, removing the symlink) outside the handler.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int signo) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (write(g_signal_pipe[1], &byte, 1) < 0) {
    // Pipe full: a stop or dump request is already queued.
  }
  errno = saved_errno;
}

bool InstallSignalHandlers(std::string* err) {
  if (pipe(g_signal_pipe) != 0) {
    *err = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  for (int fd : g_signal_pipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaction(signo, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

// Symlink to the pty slave (e.g. a Wine prefix's dosdevices/com1). It replaces an existing
// symlink but never a real file, and on removal only deletes a link still pointing at
// our slave, so a newer instance's link survives.
class SymlinkGuard {
 public:
  ~SymlinkGuard() { Remove(); }

  bool Create(const std::string& link, const std::string& target, std::string* err) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      *err = link + " exists and is not a symlink; not replacing it";
      return false;
    }
    // Created beside the final name and renamed over it, so the path is never missing.
    const std::string tmp = link + ".pagersim-" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
      *err = "cannot create symlink " + link + ": " + std::strerror(errno);
      unlink(tmp.c_str());
      return false;
    }
    link_ = link;
    target_ = target;
    return true;
  }

  void Remove() {
    if (link_.empty()) return;
    std::array<char, PATH_MAX> buf{};
    const ssize_t n = readlink(link_.c_str(), buf.data(), buf.size() - 1);
    if (n >= 0 && target_ == std::string(buf.data(), static_cast<size_t>(n))) {
      unlink(link_.c_str());
    }
    link_.clear();
  }

 private:
  std::string link_;
  std::string target_;
};

void ReportOutputs(PagerSim& sim) {
  std::string err;
  if (!sim.WriteOutputs(&err)) std::fprintf(stderr, "pagersim: %s\n", err.c_str());
}

// Returns when asked to stop: a terminating signal, EOF on stdin (--stdin-stop), or the
// emulator finishing by itself. SIGUSR1 writes the outputs and carries on.
void ServeUntilStopped(PagerSim& sim, const PagerOptions& options) {
  bool watch_stdin = options.stdin_stop;
  while (!sim.Finished()) {
    std::array<pollfd, 2> fds = {{{g_signal_pipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}}};
    if (poll(fds.data(), watch_stdin ? 2 : 1, kMainPollMs) < 0 && errno != EINTR) return;
    unsigned char signo = 0;
    while (read(g_signal_pipe[0], &signo, 1) == 1) {
      if (signo != SIGUSR1) return;
      ReportOutputs(sim);
    }
    if (watch_stdin && fds[1].revents != 0) {
      std::array<char, kStdinChunkBytes> discard;
      const ssize_t n = read(STDIN_FILENO, discard.data(), discard.size());
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  PagerOptions options;
  std::string err;
  if (!pagersim::ParsePagerOptions(argc, argv, options, err)) {
    std::fprintf(stderr, "pagersim: %s\nTry 'pagersim --help' for the list of options.\n",
                 err.c_str());
    return kExitBadOptions;
  }
  if (options.show_help) {
    std::fputs(pagersim::PagerUsage().c_str(), stdout);
    return kExitOk;
  }
  if (options.show_version) {
    std::puts("pagersim " PAGERSIM_VERSION);
    return kExitOk;
  }
  if (!InstallSignalHandlers(&err)) {
    std::fprintf(stderr, "pagersim: %s\n", err.c_str());
    return kExitRuntimeError;
  }
  PagerSim sim(options);
  if (options.verbose) {
    sim.SetEventObserver([](const pagersim::LogEvent& event) {
      std::fprintf(stderr, "%s\n", pagersim::FormatLogEvent(event).c_str());
    });
  }
  if (!sim.Start(&err)) {
    std::fprintf(stderr, "pagersim: %s\n", err.c_str());
    return kExitRuntimeError;
  }
  SymlinkGuard link;
  if (!options.link_path.empty() && !link.Create(options.link_path, sim.SlavePath(), &err)) {
    sim.Stop();
    std::fprintf(stderr, "pagersim: %s\n", err.c_str());
    return kExitRuntimeError;
  }
  std::printf("%s\n", sim.SlavePath().c_str());
  std::fflush(stdout);

  ServeUntilStopped(sim, options);
  sim.Stop();
  link.Remove();
  if (!sim.WriteOutputs(&err)) {
    std::fprintf(stderr, "pagersim: %s\n", err.c_str());
    return kExitRuntimeError;
  }
  return kExitOk;
}
