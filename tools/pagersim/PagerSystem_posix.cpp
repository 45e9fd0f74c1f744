// The pagersim program on POSIX: signals turned into bytes on a pipe, the
// --link as a symlink to the pty slave, files replaced by rename.
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

#include "PagerSystem.h"

namespace pagersim {
namespace {

constexpr int kMainPollMs = 100;  // how soon a self-finished emulator is noticed
constexpr size_t kStdinChunkBytes = 256;
// Where the system keeps its pseudo-terminals' slaves.
constexpr std::string_view kPtySlaveFolder = "/dev/pts/";

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

std::string LinkTarget(const std::string& link) {
  std::array<char, PATH_MAX> buf{};
  const ssize_t n = readlink(link.c_str(), buf.data(), buf.size() - 1);
  return n < 0 ? std::string() : std::string(buf.data(), static_cast<size_t>(n));
}

// A pty slave exists only while its master is open: a link to one that
// still exists leads to a line some emulator still serves.
std::string LinkInUse(const std::string& link) {
  struct stat st {};
  if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return "";
  const std::string target = LinkTarget(link);
  struct stat line {};
  if (!target.starts_with(kPtySlaveFolder) || stat(target.c_str(), &line) != 0 ||
      !S_ISCHR(line.st_mode)) {
    return "";
  }
  return link + " leads to " + target +
         ", a line still in use (another pagersim's?): stop that one first, or give another "
         "--link";
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string RefusalOnThisSystem(const PagerOptions& options) {
  return options.link_path.empty() ? "" : LinkInUse(options.link_path);
}

bool CatchStopRequests(std::string* err) {
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

void WaitForStop(bool stdin_stop, const std::function<bool()>& finished,
                 const std::function<void()>& write_outputs) {
  bool watch_stdin = stdin_stop;
  while (!finished()) {
    std::array<pollfd, 2> fds = {{{g_signal_pipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}}};
    if (poll(fds.data(), watch_stdin ? 2 : 1, kMainPollMs) < 0 && errno != EINTR) return;
    unsigned char signo = 0;
    while (read(g_signal_pipe[0], &signo, 1) == 1) {
      if (signo != SIGUSR1) return;
      write_outputs();
    }
    if (watch_stdin && fds[1].revents != 0) {
      std::array<char, kStdinChunkBytes> discard;
      const ssize_t n = read(STDIN_FILENO, discard.data(), discard.size());
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
    }
  }
}

bool LineLink::Create(const std::string& link, const std::string& target, std::string* err) {
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

void LineLink::Remove() {
  if (link_.empty()) return;
  if (LinkTarget(link_) == target_) unlink(link_.c_str());
  link_.clear();
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* err) {
  const std::string tmp = path + ".tmp" + std::to_string(getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    *err = "cannot create " + tmp + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(tmp.c_str(), path.c_str()) != 0) {
    *err = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace pagersim
