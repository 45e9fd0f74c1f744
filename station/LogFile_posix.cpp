#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "station/LogFile.h"

namespace {

// Why a line was not written once its caller gave up waiting: the lock
// another appender held all that time.
constexpr char kGivenUpText[] = "another program holds it locked";

// How often a lock another appender holds is tried again.
constexpr auto kLockRetrySpacing = std::chrono::milliseconds(10);
// Unix98 pseudo-terminals (/dev/pts/N) have these major numbers and no
// entry in sysfs.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;

LogAppend Refused(std::string reason) { return {false, std::move(reason)}; }

// errno's words, with the usual cause of the usual slip.
std::string ErrorText(int error) {
  std::string text = std::strerror(error);
  if (error == ENOENT) text += " (its folder does not exist)";
  return text;
}

// A serial port or a terminal: the kernel's tty class, or a pseudo-terminal.
bool IsTerminal(dev_t device) {
  const unsigned major_number = major(device);
  if (major_number >= kFirstPtyMajor && major_number <= kLastPtyMajor) return true;
  std::error_code error;
  const std::filesystem::path subsystem =
      std::filesystem::read_symlink("/sys/dev/char/" + std::to_string(major_number) + ":" +
                                        std::to_string(minor(device)) + "/subsystem",
                                    error);
  return !error && subsystem.filename() == "tty";
}

// What is there, said for a log that is no regular file; empty for one.
std::string NotAFile(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return "";
  if (S_ISDIR(info.st_mode)) return "it is a folder, not a file";
  if (S_ISFIFO(info.st_mode)) return "it is a FIFO (a named pipe), not a file";
  if (S_ISSOCK(info.st_mode)) return "it is a socket, not a file";
  if (S_ISBLK(info.st_mode)) return "it is a block device (a disk), not a file";
  if (S_ISCHR(info.st_mode) && IsTerminal(info.st_rdev)) {
    return "it is a serial port or a terminal, not a file";
  }
  return "it is a device, not a file";
}

// The same for a name, before anything opens it; empty when nothing is
// there yet, which the open then creates.
std::string NotAFileAt(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? NotAFile(info) : "";
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  // errno of a failed close, else 0.
  int Close() {
    if (fd_ < 0) return 0;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Opens the log to append without waiting on whatever the name leads to,
// and makes sure it is a regular file; the descriptor then blocks as an
// ordinary file's does.
LogAppend OpenRegular(const std::string& path, Descriptor& file) {
  if (const std::string what = NotAFileAt(path); !what.empty()) return Refused(what);
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) {
    const int error = errno;
    // It may have become something else since it was looked at: a FIFO
    // with no reader refuses a non-blocking open (ENXIO).
    const std::string what = NotAFileAt(path);
    return Refused(what.empty() ? ErrorText(error) : what);
  }
  file.Reset(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Refused(ErrorText(errno));
  if (const std::string what = NotAFile(info); !what.empty()) return Refused(what);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return Refused(ErrorText(errno));
  return {true, ""};
}

// The lock all our appenders take, tried again until it is free or
// `turn` is given up.
LogAppend Lock(int fd, AppendTurn& turn) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error != EWOULDBLOCK && error != EINTR) return Refused(ErrorText(error));
    if (turn.GivenUp()) return Refused(kGivenUpText);
    std::this_thread::sleep_for(kLockRetrySpacing);
  }
  return {true, ""};
}

// Writes the line and, when it went short, gives the file back its old
// length. Called with the file locked against our other appenders.
LogAppend WriteOrCutBack(int fd, std::string_view line) {
  struct stat before {};
  if (::fstat(fd, &before) != 0) return Refused(ErrorText(errno));
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t written = ::write(fd, line.data() + done, line.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    // A full disk or a file-size limit: the rest is refused with its reason.
    const int error = written < 0 ? errno : EIO;
    if (done > 0 && ::ftruncate(fd, before.st_size) != 0) {
      return Refused(ErrorText(error) + "; the part written could not be taken back");
    }
    return Refused(ErrorText(error));
  }
  return {true, ""};
}

}  // namespace

LogAppend AppendWhole(const std::string& path, std::string_view line, AppendTurn& turn) {
  Descriptor file(-1);
  LogAppend result = OpenRegular(path, file);
  // Other flashers may append to the same log; one line at a time.
  if (result.whole && !line.empty()) result = Lock(file.Get(), turn);
  if (result.whole && !line.empty() && !turn.BeginWriting()) result = Refused(kGivenUpText);
  if (result.whole && !line.empty()) result = WriteOrCutBack(file.Get(), line);
  const int close_error = file.Close();
  if (result.whole && close_error != 0) return Refused(ErrorText(close_error));
  return result;
}
