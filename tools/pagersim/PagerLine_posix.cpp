// The line on POSIX: a pseudo-terminal of its own, or an existing serial
// device, polled beside a pipe that Wake() writes to.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "PagerLine.h"

namespace pagersim {
namespace {

constexpr int kWritePollTimeoutMs = 1000;  // host not reading and its buffer is full
constexpr size_t kPtyNameBytes = 128;

struct SpeedEntry {
  speed_t speed;
  int bps;
};
constexpr std::array<SpeedEntry, 17> kSpeeds = {{{B50, 50},
                                                 {B75, 75},
                                                 {B110, 110},
                                                 {B150, 150},
                                                 {B300, 300},
                                                 {B600, 600},
                                                 {B1200, 1200},
                                                 {B1800, 1800},
                                                 {B2400, 2400},
                                                 {B4800, 4800},
                                                 {B9600, 9600},
                                                 {B19200, 19200},
                                                 {B38400, 38400},
                                                 {B57600, 57600},
                                                 {B115200, 115200},
                                                 {B230400, 230400},
                                                 {B460800, 460800}}};

int SpeedToBps(speed_t speed) {
  for (const auto& entry : kSpeeds) {
    if (entry.speed == speed) return entry.bps;
  }
  return 0;
}

speed_t BpsToSpeed(int bps) {
  for (const auto& entry : kSpeeds) {
    if (entry.bps == bps) return entry.speed;
  }
  return B1200;
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

void SetCloseOnExec(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }

bool SetNonBlocking(int fd) { return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; }

// Raw 8N1 without modem control: the loader's bytes must pass unchanged (no echo, no
// line buffering, no CR/LF mapping) in both directions.
bool SetRawAtRate(int fd, int bps) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&tio, BpsToSpeed(bps));
  cfsetospeed(&tio, BpsToSpeed(bps));
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

class PosixLine final : public PagerLine {
 public:
  ~PosixLine() override {
    Close();
    CloseFd(wake_pipe_[0]);
    CloseFd(wake_pipe_[1]);
  }

  bool OpenPty(int rate_bps, std::string* err) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
      *err = Errno("posix_openpt");
      return false;
    }
    SetCloseOnExec(master);
    char name[kPtyNameBytes] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name)) {
      *err = Errno("cannot set up pty");
      close(master);
      return false;
    }
    // Holding the slave open ourselves means the master never sees EIO/HUP while the host
    // has the port closed (before it first opens it, or while it reopens it for a rate
    // change), and the slave's termios survive the host's close.
    int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !SetRawAtRate(slave, rate_bps) || !SetNonBlocking(master)) {
      *err = Errno(std::string("cannot prepare pty slave ") + name);
      if (slave >= 0) close(slave);
      close(master);
      return false;
    }
    emulated_ = true;
    fd_ = master;
    own_slave_fd_ = slave;
    path_ = name;
    return OpenWakePipe(err);
  }

  bool OpenDevice(const std::string& path, int rate_bps, std::string* err) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      *err = Errno("cannot open " + path);
      return false;
    }
    if (!SetRawAtRate(fd, rate_bps)) {
      *err = Errno(path + " is not a usable serial device");
      close(fd);
      return false;
    }
    emulated_ = false;
    fd_ = fd;
    path_ = path;
    return OpenWakePipe(err);
  }

  std::string Path() const override { return path_; }
  bool Emulated() const override { return emulated_; }
  bool IsOpen() const override { return fd_ >= 0; }

  Ready Wait(int timeout_ms) override {
    std::array<pollfd, 2> fds = {{{wake_pipe_[0], POLLIN, 0}, {fd_, POLLIN, 0}}};
    const nfds_t count = fd_ >= 0 ? 2 : 1;
    const int ready = poll(fds.data(), count, timeout_ms);
    if (ready < 0 && errno != EINTR) {
      error_ = Errno("poll");
      return Ready::kFailed;
    }
    if (ready <= 0) return Ready::kTimeout;
    if (fds[0].revents != 0) return Ready::kWoken;
    return Ready::kBytes;
  }

  void Wake() override {
    const char wake = 'x';
    if (write(wake_pipe_[1], &wake, 1) < 0) {
      // The pipe cannot be full with a single byte.
    }
  }

  int Read(std::uint8_t* buffer, std::size_t size) override {
    const ssize_t n = read(fd_, buffer, size);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    // End of file or EIO: nobody on the other side (only possible on a --device line).
    error_ = n == 0 ? std::string("line closed by peer") : Errno("line read");
    return -1;
  }

  bool Write(const std::uint8_t* bytes, std::size_t count) override {
    while (count > 0) {
      const ssize_t written = write(fd_, bytes, count);
      if (written > 0) {
        bytes += written;
        count -= static_cast<size_t>(written);
        continue;
      }
      if (written < 0 && errno == EINTR) continue;
      if (written == 0 || errno != EAGAIN) {
        error_ = written == 0 ? "nothing written" : std::strerror(errno);
        return false;
      }
      pollfd out = {fd_, POLLOUT, 0};
      const int ready = poll(&out, 1, kWritePollTimeoutMs);
      if (ready <= 0) {
        error_ = ready == 0 ? "the host reads nothing" : std::strerror(errno);
        return false;
      }
    }
    return true;
  }

  std::string LastError() const override { return error_; }

  void SetRate(int bps) override {
    if (emulated_ || fd_ < 0) return;
    tcdrain(fd_);
    SetRawAtRate(fd_, bps);
  }

  // On Linux tcgetattr on a pty master reports the slave's termios, i.e. what the host
  // set. On a real device we would only read back our own setting.
  int HostRate() const override {
    if (!emulated_ || fd_ < 0) return 0;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return 0;
    return SpeedToBps(cfgetospeed(&tio));
  }

  void FlushOutput() override {
    if (fd_ >= 0) tcdrain(fd_);
  }

  // Closing the master discards whatever the host has not read yet; our own slave
  // descriptor shows what is still waiting in the slave's input queue.
  int UnreadByHost() const override {
    int unread = 0;
    if (own_slave_fd_ < 0 || ioctl(own_slave_fd_, FIONREAD, &unread) != 0) return -1;
    return unread;
  }

  // A pty's master reads EIO once no slave is open: ours closed, the host's
  // close is seen.
  bool LetGo() override {
    if (!emulated_) return false;
    CloseFd(own_slave_fd_);
    return true;
  }

  void Close() override {
    CloseFd(fd_);
    CloseFd(own_slave_fd_);
  }

 private:
  bool OpenWakePipe(std::string* err) {
    if (pipe(wake_pipe_) != 0) {
      *err = Errno("pipe");
      Close();
      return false;
    }
    SetCloseOnExec(wake_pipe_[0]);
    SetCloseOnExec(wake_pipe_[1]);
    return true;
  }

  bool emulated_ = true;
  int fd_ = -1;
  int own_slave_fd_ = -1;  // keeps the pty alive while the host has the slave closed
  int wake_pipe_[2] = {-1, -1};
  std::string path_;
  std::string error_;
};

}  // namespace

std::unique_ptr<PagerLine> OpenPagerLine(const std::string& device_path, int rate_bps,
                                         std::string* err) {
  auto line = std::make_unique<PosixLine>();
  const bool opened = device_path.empty() ? line->OpenPty(rate_bps, err)
                                          : line->OpenDevice(device_path, rate_bps, err);
  if (!opened) return nullptr;
  return line;
}

}  // namespace pagersim
