#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "station/LogFile.h"

namespace {

// Writes the line and, when it went short, gives the file back its old
// length. Called with the file locked against our other appenders.
bool WriteOrCutBack(int fd, std::string_view line) {
  struct stat before {};
  if (::fstat(fd, &before) != 0) return false;
  ssize_t written = 0;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(line.size())) return true;
  // If even the cut fails, there is nothing more to do than say so.
  if (written > 0 && S_ISREG(before.st_mode) && ::ftruncate(fd, before.st_size) != 0) return false;
  return false;
}

}  // namespace

bool AppendWhole(const std::string& path, std::string_view line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return false;
  // Other flashers may append to the same log; one line at a time.
  const bool locked = ::flock(fd, LOCK_EX) == 0;
  const bool whole = locked && WriteOrCutBack(fd, line);
  return ::close(fd) == 0 && whole;
}
