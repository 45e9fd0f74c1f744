// Invariants of the settings file under arbitrary content:
// - loading leaves the file as it was, to the byte and to its inode, times
//   and mode, and leaves nothing else behind in the directory;
// - what is loaded is in the range the file's format can carry;
// - saving writes two or three short CR LF lines and nothing else, keeps the
//   file's mode, and leaves nothing else behind;
// - what was saved loads back as the same choices.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "shell/Globals.h"
#include "shell/Settings.h"
#include "tests/fuzz/FuzzHarness.h"

namespace {

namespace fs = std::filesystem;

// The longest and the lowest number a four-character line carries.
constexpr std::int32_t kLargestNumber = 9999;
constexpr std::int32_t kSmallestNumber = -999;

// Values no load could produce from any file, so a value left untouched
// shows as itself.
constexpr std::int8_t kUntouchedPort = 77;
constexpr std::int32_t kUntouchedRate = 1234567;
constexpr std::int32_t kUntouchedResends = -55555;

struct Choices {
  std::int8_t port;
  std::int32_t rate;
  std::int32_t resends;
  friend bool operator==(const Choices&, const Choices&) = default;
};

Choices Current() { return {ComPortIndex, FlashBaudRate, ResendTimes}; }

void Set(const Choices& choices) {
  ComPortIndex = choices.port;
  FlashBaudRate = choices.rate;
  ResendTimes = choices.resends;
}

std::string Describe(const Choices& c) {
  return "(" + std::to_string(c.port) + ", " + std::to_string(c.rate) + ", " +
         std::to_string(c.resends) + ")";
}

bool RepresentableRate(std::int32_t rate) { return rate == 2400 || rate == 4800 || rate == 9600; }

struct Snapshot {
  std::string bytes;
  struct stat info {};
};

bool Take(const std::string& path, Snapshot& snapshot) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  snapshot.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return ::stat(path.c_str(), &snapshot.info) == 0;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::string OnlyTheFileIn(const fs::path& directory) {
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.path().filename() != kSettingsFileName) {
      return "a stray file was left beside the settings: " + entry.path().filename().string();
    }
  }
  return "";
}

// Saved content: two or three lines, each at most four characters and CR LF.
bool WellFormedSave(std::string_view text) {
  int lines = 0;
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    if (end == std::string_view::npos || end == 0 || end > kSettingsLineText) return false;
    if (text.substr(0, end).find_first_of("\r\n") != std::string_view::npos) return false;
    text.remove_prefix(end + 2);
    ++lines;
  }
  return lines == 2 || lines == 3;
}

// Makes the scratch directory current for one input, and puts the old one
// back; restores the globals too.
class InScratch {
 public:
  InScratch() : previous_(fs::current_path()), saved_(Current()) {
    directory_ = fs::path(FuzzScratchDirectory()) / "settings";
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::current_path(directory_);
  }
  ~InScratch() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    Set(saved_);
  }
  InScratch(const InScratch&) = delete;
  InScratch& operator=(const InScratch&) = delete;

  const fs::path& directory() const { return directory_; }

 private:
  fs::path previous_;
  fs::path directory_;
  Choices saved_;
};

std::string CheckLoad(const fs::path& directory, const std::string& path,
                      std::string_view content) {
  {
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  // Dated back, so a write however soon after shows in the times.
  const timespec long_ago[2] = {{978307200, 0}, {978307200, 0}};
  Snapshot before;
  if (::utimensat(AT_FDCWD, path.c_str(), long_ago, 0) != 0 || !Take(path, before)) {
    return "the scratch settings file could not be written";
  }
  Set({kUntouchedPort, kUntouchedRate, kUntouchedResends});
  LoadSettings();
  Snapshot after;
  if (!Take(path, after)) return "the settings file is gone after a load";
  if (after.bytes != before.bytes) return "loading changed the settings file's bytes";
  if (after.info.st_ino != before.info.st_ino || after.info.st_mode != before.info.st_mode ||
      !SameTime(after.info.st_mtim, before.info.st_mtim) ||
      !SameTime(after.info.st_ctim, before.info.st_ctim)) {
    return "loading touched the settings file";
  }
  if (std::string stray = OnlyTheFileIn(directory); !stray.empty()) return stray;
  const Choices loaded = Current();
  if (loaded.rate != kUntouchedRate && !RepresentableRate(loaded.rate)) {
    return "loaded a rate no line can name: " + Describe(loaded);
  }
  if (loaded.resends < kSmallestNumber || loaded.resends > kLargestNumber) {
    return "loaded a resend count longer than its line: " + Describe(loaded);
  }
  return "";
}

std::string CheckSaveAndReload(const fs::path& directory, const std::string& path) {
  const Choices loaded = Current();
  Snapshot before;
  if (!Take(path, before)) return "the settings file is gone before the save";
  SaveSettings();
  Snapshot saved;
  if (!Take(path, saved)) return "the settings file is gone after the save";
  if (!WellFormedSave(saved.bytes)) return "the saved file is not two or three short lines";
  if ((saved.info.st_mode & 07777) != (before.info.st_mode & 07777)) {
    return "saving changed the file's mode";
  }
  if (std::string stray = OnlyTheFileIn(directory); !stray.empty()) return stray;

  // A rate with no letter is saved as no line: the load then keeps whatever
  // rate it had, so start it from the saved one.
  Set({static_cast<std::int8_t>(loaded.port + 1),
       RepresentableRate(loaded.rate) ? kUntouchedRate : loaded.rate, loaded.resends + 1});
  LoadSettings();
  if (!(Current() == loaded)) {
    return "saved " + Describe(loaded) + " but loaded back " + Describe(Current());
  }
  return "";
}

}  // namespace

std::string CheckSettingsInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  InScratch scratch;
  const std::string path = (scratch.directory() / kSettingsFileName).string();
  std::string fault = CheckLoad(scratch.directory(), path, content);
  if (fault.empty()) fault = CheckSaveAndReload(scratch.directory(), path);
  return fault;
}
