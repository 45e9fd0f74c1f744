// The few file-system operations the settings file needs, one implementation
// file per platform (FileOps_posix.cpp, FileOps_win32.cpp), chosen by the build.
#pragma once

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
