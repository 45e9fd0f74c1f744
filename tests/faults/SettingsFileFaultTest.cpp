// Settings files that are odd, damaged, in the way or out of reach. Loading
// never changes the file, whatever it holds; saving replaces it whole or not
// at all, so it is never left cut short; and when the file cannot be had the
// defaults hold.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "shell/Globals.h"
#include "shell/Settings.h"
#include "tests/faults/FileState.h"
#include "tests/faults/HeapCounter.h"
#include "tests/shell/ShellTestSupport.h"
#include "tests/support/HexText.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

const char kDefaults[] = "1\r\nM\r\n3\r\n";

struct Values {
  std::int8_t port = 0;
  std::int32_t rate = 0;
  std::int32_t resends = 0;
  friend bool operator==(const Values&, const Values&) = default;
};

std::ostream& operator<<(std::ostream& out, const Values& v) {
  return out << "(" << int{v.port} << ", " << v.rate << ", " << v.resends << ")";
}

Values Globals() { return {ComPortIndex, FlashBaudRate, ResendTimes}; }

void SetGlobals(const Values& v) {
  ComPortIndex = v.port;
  FlashBaudRate = v.rate;
  ResendTimes = v.resends;
}

const Values kDefaultValues{0, 4800, 3};

class SettingsFile : public ::testing::Test {
 protected:
  std::string Ini() const { return (dir.path() / kSettingsFileName).string(); }
  void WriteIni(const std::string& content) const {
    dir.Write(kSettingsFileName, content);
    AgeFile(Ini());
  }

  TempDir dir;
  InDirectory in_dir{dir.path()};
  FreshGlobals fresh;
};

// ---- Whatever the file holds, loading leaves it alone -----------------------

struct ContentCase {
  const char* name;
  std::string content;
  Values loaded;  // from globals that were all zero
};

std::ostream& operator<<(std::ostream& out, const ContentCase& c) { return out << c.name; }

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::vector<ContentCase> ContentCases() {
  std::string high_bytes;
  for (int i = 0; i < 4096; ++i) high_bytes.push_back(static_cast<char>(0x80 + i % 0x80));
  return {
      {"Empty", "", {-1, 0, 0}},
      {"Binary",
       std::string("\0\xFF\x1A\x80\r\n\x01H\r\n\x7F"
                   "9\r\n",
                   14),
       {-1, 0, 0}},
      {"BinaryWithoutLineEnds", high_bytes, {-1, 0, 0}},
      // Each line starts with a byte that is no digit, blank or rate letter.
      {"Utf16WithByteOrderMark",
       std::string("\xFF\xFE"
                   "3\0\r\0\n\0H\0\r\0\n\0"
                   "5\0\r\0\n\0",
                   20),
       {-1, 0, 0}},
      {"ZeroByteInsideALine", std::string("3\0\r\nH\r\n5\r\n", 10), {2, 9600, 5}},
      // A line is cut to four characters: "7777" is port 7777, index 7776,
      // whose low byte is 0x60.
      {"MegabyteFirstLine", std::string(1 << 20, '7') + "\r\nL\r\n5\r\n", {0x60, 2400, 5}},
      {"HundredThousandLines", "2\r\nH\r\n0\r\n" + Repeat("9\r\n", 100000), {1, 9600, 0}},
      // "9999" gives index 9998, low byte 0x0E; "-214" is what is left of
      // the smallest 32-bit number.
      {"NumbersLongerThanTheirLines",
       "99999999999999999999\r\nM\r\n-2147483648\r\n",
       {0x0E, 4800, -214}},
      {"BlanksAndSigns", " +3\r\n\tH\r\n -7\r\n", {2, 0, -7}},
      {"OnlyLineEnds", "\r\n\r\n\r\n", {-1, 0, 0}},
      // Only a line feed ends a line: this is one line, "4\rL\r" once cut,
      // and the two lines that are not there repeat it.
      {"CarriageReturnsAlone", "4\rL\r5\r", {3, 0, 4}},
  };
}

class SettingsContent : public SettingsFile, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(SettingsContent, LoadsWithoutChangingTheFile) {
  WriteIni(GetParam().content);
  const FileState before = StateOf(Ini());
  heap::ResetPeak();
  const std::size_t held_before = heap::Live();
  LoadSettings();
  const std::size_t peak = heap::Peak() - held_before;
  EXPECT_EQ(Globals(), GetParam().loaded);
  EXPECT_EQ(StateOf(Ini()), before);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
  // A line is never kept past its four characters, however long it is.
  EXPECT_LT(peak, 64u * 1024u);
}

INSTANTIATE_TEST_SUITE_P(Contents, SettingsContent, ::testing::ValuesIn(ContentCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Files in the way -----------------------------------------------------

TEST_F(SettingsFile, MissingFileIsCreatedWhole) {
  LoadSettings();
  EXPECT_EQ(Globals(), kDefaultValues);
  EXPECT_EQ(StateOf(Ini()).bytes, kDefaults);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

TEST_F(SettingsFile, DirectoryInItsPlaceIsLeftAloneOnLoadAndSave) {
  ASSERT_TRUE(fs::create_directory(Ini()));
  AgeFile(Ini());
  const FileState before = StateOf(Ini());
  SetGlobals({2, 9600, 5});
  LoadSettings();
  EXPECT_EQ(Globals(), kDefaultValues);
  SaveSettings();
  EXPECT_EQ(StateOf(Ini()), before);
  EXPECT_TRUE(fs::is_empty(Ini()));
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

TEST_F(SettingsFile, ReadOnlyFileLoadsAndStaysAsItWas) {
  WriteIni("3\r\nL\r\n5\r\n");
  fs::permissions(Ini(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  AgeFile(Ini());
  const FileState before = StateOf(Ini());
  LoadSettings();
  EXPECT_EQ(Globals(), (Values{2, 2400, 5}));
  EXPECT_EQ(StateOf(Ini()), before);
}

// ---- Out of reach: in a child process, as a user file modes bind ------------

struct ChildRun {
  bool ran = false;
  Values values;
};

// Runs `body` in a child process in `directory`, as the unprivileged user
// "nobody" when this process may become it (file modes bind root too little
// to test with), with `limit` applied first. The globals start as `start`;
// the child hands back what they are afterwards.
ChildRun InChild(const fs::path& directory, const Values& start, const std::function<void()>& limit,
                 const std::function<void()>& body) {
  ChildRun result;
  int channel[2];
  if (::pipe(channel) != 0) return result;
  const pid_t child = ::fork();
  if (child < 0) return result;
  if (child == 0) {
    ::close(channel[0]);
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
          ::setuid(nobody->pw_uid) != 0) {
        ::_exit(3);
      }
    }
    if (::chdir(directory.c_str()) != 0) ::_exit(4);
    if (limit) limit();
    SetGlobals(start);
    body();
    const Values after = Globals();
    const bool sent = ::write(channel[1], &after, sizeof after) == sizeof after;
    ::_exit(sent ? 0 : 5);
  }
  ::close(channel[1]);
  const bool got = ::read(channel[0], &result.values, sizeof result.values) ==
                   static_cast<ssize_t>(sizeof result.values);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  result.ran = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

// Hands `path` to the user the child runs as, so it may write there.
void GiveToChild(const fs::path& path) {
  if (::geteuid() != 0) return;
  if (const passwd* nobody = ::getpwnam("nobody")) {
    (void)!::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid);
  }
}

TEST_F(SettingsFile, UnreadableFileGivesTheDefaultsAndStaysAsItWas) {
  WriteIni("3\r\nH\r\n5\r\n");
  GiveToChild(dir.path());
  GiveToChild(Ini());
  fs::permissions(Ini(), fs::perms::none);
  AgeFile(Ini());
  const FileState before = StateOf(Ini());
  const ChildRun run = InChild(dir.path(), {2, 2400, 0}, nullptr, [] { LoadSettings(); });
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(run.values, kDefaultValues);
  EXPECT_EQ(StateOf(Ini()), before);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

TEST_F(SettingsFile, ReadOnlyFileIsNotReplacedBySave) {
  WriteIni("3\r\nH\r\n5\r\n");
  GiveToChild(dir.path());
  GiveToChild(Ini());
  fs::permissions(Ini(), fs::perms::owner_read);
  AgeFile(Ini());
  const FileState before = StateOf(Ini());
  const ChildRun run = InChild(dir.path(), {0, 2400, 0}, nullptr, [] { SaveSettings(); });
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(StateOf(Ini()), before);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

// A directory nobody may write to, for as long as it is in scope.
class LockedDirectory {
 public:
  explicit LockedDirectory(fs::path path) : path_(std::move(path)) {
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  }
  ~LockedDirectory() { fs::permissions(path_, fs::perms::owner_all); }
  LockedDirectory(const LockedDirectory&) = delete;
  LockedDirectory& operator=(const LockedDirectory&) = delete;

 private:
  fs::path path_;
};

TEST_F(SettingsFile, LockedDirectoryGetsNoNewFileAndTheDefaultsHold) {
  const LockedDirectory locked(dir.path());
  const ChildRun run = InChild(dir.path(), {2, 9600, 5}, nullptr, [] { LoadSettings(); });
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(run.values, kDefaultValues);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{});
}

TEST_F(SettingsFile, LockedDirectoryKeepsTheOldFileWhole) {
  WriteIni("3\r\nH\r\n5\r\n");
  GiveToChild(Ini());  // the file is the child's, the directory is not
  AgeFile(Ini());
  const FileState before = StateOf(Ini());
  const LockedDirectory locked(dir.path());
  const ChildRun run = InChild(dir.path(), {0, 2400, 0}, nullptr, [] { SaveSettings(); });
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(StateOf(Ini()), before);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

// ---- Not a plain file -----------------------------------------------------

// Something that is not a file stands where the settings file goes. Loading
// must neither wait on it nor put a file in its place. Run in a child with
// an alarm, as a load that opened the pipe would wait for a writer forever;
// the child owns the pipe and may write in the directory, so nothing but the
// load's own restraint keeps the pipe there.
TEST_F(SettingsFile, PipeInItsPlaceIsLeftAloneByLoad) {
  ASSERT_EQ(::mkfifo(Ini().c_str(), 0644), 0);
  GiveToChild(dir.path());
  GiveToChild(Ini());
  AgeFile(Ini());
  const FileState before = StateOf(Ini());
  const ChildRun run = InChild(
      dir.path(), {2, 9600, 5}, [] { ::alarm(10); }, [] { LoadSettings(); });
  ASSERT_TRUE(run.ran) << "the load hung on the pipe or died";
  EXPECT_EQ(run.values, kDefaultValues);
  EXPECT_EQ(StateOf(Ini()), before) << "the pipe was replaced";
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

// The file is swapped for a pipe and back, over and over, while the program
// loads it again and again: whenever a load meets the pipe, whether before
// or after it looked at the name, it goes on with the defaults at once.
TEST_F(SettingsFile, PipeSwappedInDuringLoadsNeverHoldsOne) {
  GiveToChild(dir.path());
  const ChildRun run = InChild(
      dir.path(), {}, [] { ::alarm(20); },
      [] {
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
          while (!stop) {
            std::ofstream("file.tmp") << "3\r\nH\r\n5\r\n";
            ::rename("file.tmp", kSettingsFileName);
            ::mkfifo("fifo.tmp", 0644);
            ::rename("fifo.tmp", kSettingsFileName);
          }
        });
        for (int load = 0; load < 3000; ++load) LoadSettings();
        stop = true;
        swapper.join();
      });
  EXPECT_TRUE(run.ran) << "a load waited on the pipe";
}

// The settings file is a link to a file kept elsewhere: loading reads that
// file, saving writes it, and the link stays a link.
TEST_F(SettingsFile, LinkToTheFileIsReadAndWrittenThrough) {
  const std::string target = dir.Write("shared.ini", "3\r\nH\r\n5\r\n");
  fs::create_symlink("shared.ini", Ini());
  LoadSettings();
  EXPECT_EQ(Globals(), (Values{2, 9600, 5}));
  SetGlobals({1, 2400, 0});
  SaveSettings();
  EXPECT_TRUE(fs::is_symlink(Ini())) << "the link was replaced by a file";
  EXPECT_EQ(ReadBytes(target), "2\r\nL\r\n0\r\n");
  Names names = FileNamesIn(dir.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Names{kSettingsFileName, "shared.ini"}));
}

// ---- A write that stops part-way -------------------------------------------

// Files may grow to four bytes: every write of a whole settings file stops
// part-way, as on a full disk. SIGXFSZ keeps its default, which kills a
// program that does not see to it itself, as under a shell's "ulimit -f".
void FourByteFiles() {
  const rlimit four{4, 4};
  ::setrlimit(RLIMIT_FSIZE, &four);
}

TEST_F(SettingsFile, SaveThatCannotFinishLeavesTheOldFileWhole) {
  WriteIni("3\r\nH\r\n5\r\n");
  GiveToChild(dir.path());
  GiveToChild(Ini());
  AgeFile(Ini());
  const FileState before = StateOf(Ini());
  const ChildRun run = InChild(dir.path(), {0, 2400, 0}, FourByteFiles, [] { SaveSettings(); });
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(StateOf(Ini()), before);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName}) << "a part-written file was left";
}

TEST_F(SettingsFile, FirstFileThatCannotFinishIsNotLeftHalfWritten) {
  GiveToChild(dir.path());
  const ChildRun run = InChild(dir.path(), {2, 9600, 5}, FourByteFiles, [] { LoadSettings(); });
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(run.values, kDefaultValues);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{});
}

// Saves then loads, over and over, in the same directory: the file is whole
// each time and nothing gathers beside it.
TEST_F(SettingsFile, RepeatedSavesLeaveOneWholeFile) {
  WriteIni(kDefaults);
  const std::vector<Values> choices = {
      {3, 9600, 5}, {0, 2400, 0}, {-128, 4800, 9999}, {127, 9600, -999}, {1, 2400, 3}};
  for (int round = 0; round < 50; ++round) {
    const Values saved = choices[round % choices.size()];
    SetGlobals(saved);
    SaveSettings();
    SetGlobals({});
    LoadSettings();
    ASSERT_EQ(Globals(), saved) << "round " << round;
  }
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

}  // namespace
