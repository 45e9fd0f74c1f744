// The pagersim program as a harness script uses it: spawned, killed with signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IntelHex.h"
#include "LoaderCore.h"
#include "PagerLog.h"
#include "PtyHost.h"

extern char** environ;

namespace pagersim {
namespace {

using testing::Eventually;
using testing::PtyHost;
using testing::SendCommand;

constexpr int kStartupTimeoutMs = 5000;
constexpr int kExitTimeoutMs = 5000;
constexpr int kExitBadOptions = 2;
constexpr int kExitRuntimeError = 1;

// A running pagersim with its stdin, stdout and stderr on pipes. Killed if a test
// leaves it running, so no stray processes outlive the test.
class Child {
 public:
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {stdin_, stdout_, stderr_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Spawn(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> argv = {const_cast<char*>(PAGERSIM_EXE)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, PAGERSIM_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }

  std::optional<std::string> ReadStdoutLine(int timeout_ms) {
    std::string line;
    char c = 0;
    pollfd p = {stdout_, POLLIN, 0};
    while (poll(&p, 1, timeout_ms) == 1 && read(stdout_, &c, 1) == 1) {
      if (c == '\n') return line;
      line += c;
    }
    return std::nullopt;
  }

  // Exit code, or nullopt if it did not exit normally in time.
  std::optional<int> Wait(int timeout_ms) {
    const bool exited = Eventually(
        [&] {
          int status = 0;
          if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
          status_ = status;
          pid_ = -1;
          return true;
        },
        timeout_ms);
    if (!exited || !WIFEXITED(status_)) return std::nullopt;
    return WEXITSTATUS(status_);
  }

  std::string Stderr() {
    std::string text;
    std::array<char, 256> buf;
    ssize_t n = 0;
    while ((n = read(stderr_, buf.data(), buf.size())) > 0) text.append(buf.data(), n);
    return text;
  }

  std::string Stdout() {
    std::string text;
    std::array<char, 256> buf;
    ssize_t n = 0;
    while ((n = read(stdout_, buf.data(), buf.size())) > 0) text.append(buf.data(), n);
    return text;
  }

  void Signal(int signo) { kill(pid_, signo); }
  void CloseStdin() {
    close(stdin_);
    stdin_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir_template[] = "/tmp/pagersim_cli_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    dir_ = dir_template;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Spawns pagersim and returns the line path it announces.
  std::string StartChild(const std::vector<std::string>& args) {
    EXPECT_TRUE(child_.Spawn(args));
    const auto line = child_.ReadStdoutLine(kStartupTimeoutMs);
    EXPECT_TRUE(line.has_value()) << child_.Stderr();
    return line.value_or("");
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static std::optional<std::string> LinkTarget(const std::string& path) {
    std::array<char, PATH_MAX> buf{};
    const ssize_t n = readlink(path.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return std::nullopt;
    return std::string(buf.data(), static_cast<size_t>(n));
  }

  std::string dir_;
  Child child_;
};

TEST_F(CliTest, BadOptionExitsWithCode2AndSaysWhy) {
  ASSERT_TRUE(child_.Spawn({"--nak-send", "oops"}));
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), kExitBadOptions);
  const std::string err = child_.Stderr();
  EXPECT_NE(err.find("--nak-send: expected N:K, got 'oops'"), std::string::npos) << err;
  EXPECT_NE(err.find("--help"), std::string::npos) << err;
}

TEST_F(CliTest, HelpPrintsUsageAndSucceeds) {
  ASSERT_TRUE(child_.Spawn({"--help"}));
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
  const std::string help = child_.Stdout();
  EXPECT_NE(help.find("usage: pagersim"), std::string::npos);
  EXPECT_NE(help.find("until stopped: Ctrl+C or SIGTERM"), std::string::npos) << help;
}

using OptionNames = std::set<std::string>;

// The option column of --help: "  -h, --help   show this text" names -h and --help.
OptionNames OptionsOfHelp(const std::string& help) {
  OptionNames names;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  -")) continue;
    std::istringstream words(line.substr(0, line.find("  ", 2)));
    for (std::string word; words >> word;) {
      if (word.starts_with('-')) names.insert(word.substr(0, word.find(',')));
    }
  }
  return names;
}

// The line after each .TP of the manual page's OPTIONS: ".BR \-h ", " \-\-help" names -h
// and --help.
OptionNames OptionsOfManualPage(const std::string& page) {
  const std::size_t from = page.find(".SH OPTIONS\n");
  std::istringstream lines(page.substr(from, page.find("\n.SH ", from + 1) - from));
  const std::regex option_name("(^|[ \"])(--?[a-z][a-z0-9-]*)");
  OptionNames names;
  bool after_tp = false;
  for (std::string line; std::getline(lines, line);) {
    std::erase(line, '\\');
    for (std::sregex_iterator it(line.begin(), line.end(), option_name), end; after_tp && it != end;
         ++it) {
      names.insert((*it)[2]);
    }
    after_tp = line == ".TP";
  }
  return names;
}

TEST_F(CliTest, HelpAndManualPageNameTheSameOptions) {
  ASSERT_TRUE(child_.Spawn({"--help"}));
  ASSERT_EQ(child_.Wait(kExitTimeoutMs), 0);
  const OptionNames help = OptionsOfHelp(child_.Stdout());
  EXPECT_TRUE(help.contains("--nak-send") && help.contains("-h")) << ::testing::PrintToString(help);
  EXPECT_EQ(OptionsOfManualPage(ReadFile(PAGERSIM_MANUAL)), help);
}

TEST_F(CliTest, VersionIsTheProjectsAndNothingIsServed) {
  ASSERT_TRUE(child_.Spawn({"--version"}));
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
  EXPECT_EQ(child_.Stdout(), "pagersim " PAGERSIM_VERSION "\n");
}

TEST_F(CliTest, SessionThroughSymlinkWritesOutputsAndCleansUpOnSigterm) {
  const std::string link = Path("com1");
  const std::string slave = StartChild({"--link", link, "--log", Path("log"), "--image-bin",
                                        Path("img.bin"), "--image-hex", Path("img.hex")});
  EXPECT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
  EXPECT_EQ(LinkTarget(link), slave);

  PtyHost host;
  ASSERT_TRUE(host.Open(link, kInitialRateBps));
  for (const std::string& command :
       {std::string("f"), std::string("e0"), SendCommand(kRecordExtendedLinear, 0, {8, 0}),
        std::string("p"), SendCommand(kRecordData, 0, {1, 2}), std::string("p"),
        SendCommand(kRecordData, 4, {3}), std::string("p"), std::string("q")}) {
    ASSERT_EQ(host.Command(command), kAck) << command;
  }
  host.Close();
  child_.Signal(SIGTERM);
  ASSERT_EQ(child_.Wait(kExitTimeoutMs), 0) << child_.Stderr();

  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "symlink left behind";
  EXPECT_EQ(ReadFile(Path("img.bin")), std::string("\x01\x02\xFF\xFF\x03", 5));
  EXPECT_NE(ReadFile(Path("img.hex")).find(":020000040800F2\r\n"), std::string::npos);

  std::istringstream log(ReadFile(Path("log")));
  std::string line;
  int rx = 0;
  bool base_reported = false;
  while (std::getline(log, line)) {
    LogEvent event;
    ASSERT_TRUE(ParseLogLine(line, &event)) << line;
    rx += event.kind == EventKind::kRx;
    base_reported |= event.text.starts_with("image-bin base=0x08000000 size=5");
  }
  EXPECT_EQ(rx, 9);
  EXPECT_TRUE(base_reported);
}

TEST_F(CliTest, StaleSymlinkIsReplacedAndRemovedOnSigint) {
  const std::string link = Path("com1");
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  const std::string slave = StartChild({"--link", link});
  EXPECT_EQ(LinkTarget(link), slave);
  child_.Signal(SIGINT);
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
  EXPECT_EQ(LinkTarget(link), std::nullopt);
}

TEST_F(CliTest, RefusesToReplaceARegularFileWithTheLink) {
  const std::string link = Path("com1");
  std::ofstream(link) << "keep me";
  ASSERT_TRUE(child_.Spawn({"--link", link}));
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), kExitRuntimeError);
  EXPECT_NE(child_.Stderr().find("not a symlink"), std::string::npos);
  EXPECT_EQ(ReadFile(link), "keep me");
}

// A second emulator on the link of one still serving would take its
// pagers' line away from under the host.
TEST_F(CliTest, RefusesALinkThatLeadsToALineStillServed) {
  const std::string link = Path("com1");
  const std::string slave = StartChild({"--link", link});
  Child second;
  ASSERT_TRUE(second.Spawn({"--link", link}));
  // Its stderr is read only once it has ended.
  ASSERT_EQ(second.Wait(kExitTimeoutMs), kExitBadOptions);
  EXPECT_NE(second.Stderr().find(link + " leads to " + slave + ", a line still in use"),
            std::string::npos)
      << second.Stderr();
  EXPECT_EQ(LinkTarget(link), slave);
  child_.Signal(SIGTERM);
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
}

TEST_F(CliTest, StdinStopEndsAtEndOfInput) {
  StartChild({"--stdin-stop"});
  child_.CloseStdin();
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
}

TEST_F(CliTest, ExitAfterQEndsTheProgramItself) {
  const std::string slave = StartChild({"--exit-after-q", "1", "--log", Path("log")});
  PtyHost host;
  ASSERT_TRUE(host.Open(slave, kInitialRateBps));
  ASSERT_EQ(host.Command("f"), kAck);
  ASSERT_EQ(host.Command("q"), kAck);
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
  EXPECT_NE(ReadFile(Path("log")).find(" RX q\n"), std::string::npos);
}

// Not while the host still has the line open: a port it holds is not
// pulled from under it.
TEST_F(CliTest, ABenchOfPagersEndsTheProgramOnceTheLastHasLeftAndTheLineIsFree) {
  const std::string slave =
      StartChild({"--sessions", "2", "--linger-ms", "0", "--gap-ms", "100", "--log", Path("log")});
  PtyHost host;
  ASSERT_TRUE(host.Open(slave, kInitialRateBps));
  for (int pager = 1; pager <= 2; ++pager) {
    ASSERT_TRUE(Eventually([&] { return host.Command("f", testing::kNoReplyWaitMs) == kAck; },
                           kExitTimeoutMs))
        << pager;
    ASSERT_EQ(host.Command("q"), kAck);
  }
  EXPECT_EQ(child_.Wait(500), std::nullopt);
  host.Close();
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
  EXPECT_NE(ReadFile(Path("log")).find(" INFO pager 2 removed\n"), std::string::npos);
}

TEST_F(CliTest, Sigusr1WritesOutputsWhileServingOn) {
  const std::string slave = StartChild({"--log", Path("log")});
  PtyHost host;
  ASSERT_TRUE(host.Open(slave, kInitialRateBps));
  ASSERT_EQ(host.Command("f"), kAck);
  child_.Signal(SIGUSR1);
  ASSERT_TRUE(Eventually([&] { return ReadFile(Path("log")).find(" RX f\n") != std::string::npos; },
                         kExitTimeoutMs));
  EXPECT_EQ(host.Command("q"), kAck);
  child_.Signal(SIGTERM);
  EXPECT_EQ(child_.Wait(kExitTimeoutMs), 0);
}

}  // namespace
}  // namespace pagersim
