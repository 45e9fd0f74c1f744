// What a file looks like from outside, to show that reading it changed
// nothing: its bytes, and the inode, mode and times its directory entry
// carries.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

struct FileState {
  bool exists = false;
  std::string bytes;
  ino_t inode = 0;
  mode_t mode = 0;
  timespec modified{};
  timespec changed{};

  friend bool operator==(const FileState& a, const FileState& b) {
    const auto same = [](const timespec& x, const timespec& y) {
      return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    };
    return a.exists == b.exists && a.bytes == b.bytes && a.inode == b.inode && a.mode == b.mode &&
           same(a.modified, b.modified) && same(a.changed, b.changed);
  }
};

inline std::ostream& operator<<(std::ostream& out, const FileState& s) {
  if (!s.exists) return out << "(no file)";
  return out << s.bytes.size() << " bytes, inode " << s.inode << ", mode " << std::oct << s.mode
             << std::dec << ", modified " << s.modified.tv_sec << "." << s.modified.tv_nsec
             << ", changed " << s.changed.tv_sec << "." << s.changed.tv_nsec;
}

// Dates the file back to 2001, so that any write to it, however soon, shows
// in its modification time.
inline bool AgeFile(const std::string& path) {
  constexpr time_t kLongAgo = 978307200;  // 2001-01-01
  const timespec times[2] = {{kLongAgo, 0}, {kLongAgo, 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

inline FileState StateOf(const std::string& path) {
  FileState state;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return state;
  state.exists = true;
  state.inode = info.st_ino;
  state.mode = info.st_mode;
  state.modified = info.st_mtim;
  state.changed = info.st_ctim;
  if (S_ISREG(info.st_mode)) {
    std::ifstream in(path, std::ios::binary);
    state.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return state;
}
