#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/ReadOnlyFile.h"

namespace {
std::string Describe(int error_number) { return std::strerror(error_number); }

// Why what is there is no file to read: a folder, a device, or a FIFO or a
// socket.
std::string WhyNotAFile(mode_t mode) {
  if (S_ISDIR(mode)) return Describe(EISDIR);
  if (S_ISCHR(mode) || S_ISBLK(mode)) return kDeviceNotFileText;
  return "not a regular file";
}
}  // namespace

bool ReadOnlyFile::Open(const std::string& name, FileSharing sharing, std::string& error) {
  Close();
  // Without blocking: a FIFO or a device would otherwise hold the open until
  // a writer or a carrier came. A regular file ignores the flag.
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = Describe(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int saved = errno;
    ::close(fd);
    error = Describe(saved);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    error = WhyNotAFile(info.st_mode);
    return false;
  }
  // Refuse a file that another program holds locked; keep ours while the
  // file is held.
  const int lock = sharing == FileSharing::kExclusive ? LOCK_EX : LOCK_SH;
  if (::flock(fd, lock | LOCK_NB) != 0) {
    const int saved = errno;
    ::close(fd);
    error = saved == EWOULDBLOCK ? "the file is in use by another program" : Describe(saved);
    return false;
  }
  handle_ = fd;
  return true;
}

std::size_t ReadOnlyFile::Read(char* buffer, std::size_t count) {
  if (!IsOpen()) return 0;
  std::size_t total = 0;
  while (total < count) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer + total, count - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

bool ReadOnlyFile::Size(std::int64_t& size) const {
  struct stat info {};
  if (!IsOpen() || ::fstat(static_cast<int>(handle_), &info) != 0) return false;
  size = info.st_size;
  return true;
}

void ReadOnlyFile::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}
