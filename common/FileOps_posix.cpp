#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "common/FileOps.h"

namespace fileops {

const char kPathSeparator = '/';

std::optional<std::string> CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  // A deeper directory than PATH_MAX is possible; grow until it fits.
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool RegularFile::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool RegularFile::Fill() {
  if (handle_ < 0) return false;
  ssize_t got = 0;
  do {
    got = ::read(static_cast<int>(handle_), buffer_, sizeof buffer_);
  } while (got < 0 && errno == EINTR);
  have_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  at_ = 0;
  return have_ > 0;
}

void RegularFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  have_ = at_ = 0;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

namespace {

// Under a file-size limit (ulimit -f) a write past it raises SIGXFSZ, whose
// default kills the program before the temporary file can be removed.
// Ignored for the span of a save, the write fails with EFBIG instead.
class FileSizeSignalIgnored {
 public:
  FileSizeSignalIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    restore_ = ::sigaction(SIGXFSZ, &ignore, &saved_) == 0;
  }
  ~FileSizeSignalIgnored() {
    if (restore_) ::sigaction(SIGXFSZ, &saved_, nullptr);
  }
  FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
  FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

 private:
  struct sigaction saved_ {};
  bool restore_ = false;
};

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The new file takes the old one's permission bits, so a replace does not
// quietly change who may read the settings. A first file keeps the bits that
// open() gave it under the umask.
void CopyModeOf(const std::string& original, int fd) {
  struct stat info {};
  if (::stat(original.c_str(), &info) == 0) (void)::fchmod(fd, info.st_mode & 07777);
}

// Creates a file of a fresh name beside the target; mkstemp is not used as its
// files are private to the owner whatever the umask says.
int CreateTemporary(const std::string& directory, const std::string& name, std::string& temp) {
  constexpr int kAttempts = 100;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    temp = JoinPath(
        directory, "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(counter++));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool FillAndSync(int fd, const std::string& original, std::string_view content) {
  CopyModeOf(original, fd);
  return WriteAll(fd, content) && ::fsync(fd) == 0;
}

// Read-only by its mode bits, as Windows keeps a read-only attribute even
// from an administrator; access() alone would let root through.
bool IsReadOnly(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

// A settings file reached through a link is replaced where it really is, so
// the link stays and still leads to the saved settings.
void ResolveLink(std::string& directory, std::string& name) {
  char resolved[PATH_MAX];
  if (::realpath(JoinPath(directory, name).c_str(), resolved) == nullptr) return;
  const std::string target(resolved);
  const std::size_t slash = target.rfind(kPathSeparator);
  if (slash == std::string::npos) return;
  directory = slash == 0 ? "/" : target.substr(0, slash);
  name = target.substr(slash + 1);
}

}  // namespace

bool ReplaceFileContents(const std::string& directory_in, const std::string& name_in,
                         std::string_view content) {
  std::string directory = directory_in;
  std::string name = name_in;
  ResolveLink(directory, name);
  const std::string path = JoinPath(directory, name);
  if (IsReadOnly(path)) return false;

  const FileSizeSignalIgnored no_kill_past_the_size_limit;
  std::string temp;
  const int fd = CreateTemporary(directory, name, temp);
  if (fd < 0) return false;
  const bool filled = FillAndSync(fd, path, content);
  const bool closed = ::close(fd) == 0;
  if (filled && closed && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace fileops
