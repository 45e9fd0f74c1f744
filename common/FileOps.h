// The few file-system operations the window programs' settings files need
// (TARVEXUPD.INI, TARVEXBENCH.INI), one implementation file per platform
// (FileOps_posix.cpp, FileOps_win32.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fileops {

// '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// The process's current directory, or nothing when it cannot be had (on POSIX
// the directory may have been removed while we stand in it).
std::optional<std::string> CurrentDirectory();

// True when `path` names an existing file that is not a directory.
bool IsRegularFile(const std::string& path);

// A regular file opened for reading, a byte at a time. It is opened without
// blocking and judged by what was opened, so a pipe or a device put in its
// place, even in the moment after a check of the name, is neither waited on
// nor read.
class RegularFile {
 public:
  RegularFile() = default;
  ~RegularFile() { Close(); }
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  // False when nothing could be opened or it is no regular file.
  bool Open(const std::string& path);
  // The next byte, or -1 at the end of the file or on a read error.
  int Get() {
    if (at_ == have_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[at_++]);
  }

 private:
  bool Fill();  // reads the next chunk into the buffer; false at the end
  void Close();

  std::intptr_t handle_ = -1;
  char buffer_[4096] = {};
  std::size_t have_ = 0;
  std::size_t at_ = 0;
};

// True when anything at all stands at `path`: a file, a directory, a device,
// a pipe, or a link whether or not it leads anywhere.
bool Exists(const std::string& path);

// Replaces the whole content of `directory`/`name` without ever leaving a
// partly written file behind: the bytes go to a new file in the same
// directory, which is flushed and then renamed over the old one in one step.
// An existing file that is read-only is left alone, as opening it for writing
// would fail. On failure nothing is changed and no temporary file is left.
bool ReplaceFileContents(const std::string& directory, const std::string& name,
                         std::string_view content);

// `directory` and `name` joined by one separator.
inline std::string JoinPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == kPathSeparator) return directory + name;
  return directory + kPathSeparator + name;
}

}  // namespace fileops
