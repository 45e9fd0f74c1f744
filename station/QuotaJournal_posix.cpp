#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "station/QuotaJournal.h"

namespace {

// The folder the package makes, group dialout (whose members may use the
// serial ports) and writable by it, so every technician shares one count.
constexpr char kMachineStateFolder[] = "/var/lib/tarvex-flasher";
constexpr mode_t kFolderMode = 02775;
constexpr mode_t kFileMode = 0664;

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

// Makes `folder` and the folders above it that are missing, each made one
// flushed into its parent; 0, or the errno of the failure.
int MakeFolders(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  const std::string parent = FolderOf(folder);
  if (parent != folder) {
    if (const int error = MakeFolders(parent); error != 0) return error;
  }
  if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) return errno;
  return SyncFolder(parent);
}

}  // namespace

QuotaJournal::~QuotaJournal() { Close(); }

void QuotaJournal::Close() {
  if (handle_ >= 0) ::close(Descriptor(handle_));
  if (folder_ >= 0) ::close(Descriptor(folder_));
  handle_ = folder_ = -1;
}

bool QuotaJournal::Fail(const std::string& what) {
  error_ = what;
  return false;
}

bool QuotaJournal::Open(const std::string& path, bool create) {
  Close();
  path_ = path;
  const std::string folder = FolderOf(path);
  if (create) {
    if (const int error = MakeFolders(folder); error != 0) return Fail(std::strerror(error));
  }
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd < 0) return Fail(std::strerror(errno));
  folder_ = folder_fd;
  int fd = -1;
  bool made = false;
  if (create) {
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    made = fd >= 0;
  }
  if (fd < 0 && (!create || errno == EEXIST)) {
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0) {
    const int error = errno;
    Close();
    return Fail(std::strerror(error));
  }
  handle_ = fd;
  // The new file's name is on the disk before anything counts on it.
  if (made && ::fsync(Descriptor(folder_)) != 0) return Fail(std::strerror(errno));
  return true;
}

bool QuotaJournal::Lock() {
  while (::flock(Descriptor(handle_), LOCK_EX) != 0) {
    if (errno != EINTR) return Fail(std::strerror(errno));
  }
  return true;
}

void QuotaJournal::Unlock() { (void)::flock(Descriptor(handle_), LOCK_UN); }

bool QuotaJournal::ReadAll(std::string& text) {
  text.clear();
  char buffer[4096];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(Descriptor(handle_), buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(std::strerror(errno));
    if (got == 0) return true;
    text.append(buffer, static_cast<std::size_t>(got));
    at += got;
  }
}

// The file is flushed, and its folder too: the count must be there after a
// power cut even if the file was made by a bench that died before flushing
// the folder.
bool QuotaJournal::AppendDurably(std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = ::write(Descriptor(handle_), text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return Fail(std::strerror(errno));
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  if (::fsync(Descriptor(handle_)) != 0) return Fail(std::strerror(errno));
  if (::fsync(Descriptor(folder_)) != 0) return Fail(std::strerror(errno));
  return true;
}

std::string JobStateFolder() {
  const char* named = std::getenv("TARVEX_STATE_DIR");
  return named != nullptr && *named != '\0' ? named : kMachineStateFolder;
}
