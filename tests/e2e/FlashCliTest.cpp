// tarvex-flash as a user runs it: the program as a child process, the pager
// emulators as child processes on pseudo-terminals. These run in real time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "common/Sha256.h"
#include "station/RecordIdentity.h"
#include "tests/e2e/PagerProcess.h"
#include "tests/support/HexText.h"

namespace {

using Texts = std::vector<std::string>;

Texts Lines(const std::string& text) {
  Texts lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of `text` that hold `part`.
Texts LinesWith(const std::string& text, const std::string& part) {
  Texts found;
  for (const std::string& line : Lines(text)) {
    if (line.find(part) != std::string::npos) found.push_back(line);
  }
  return found;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Records over two 64 KiB pages, as a pager's firmware spreads them.
std::string FirmwareText(int data_records) {
  std::vector<std::string> records = {HexRecordText(0, 4, {0x00, 0x01})};
  for (int i = 0; i < data_records; ++i) {
    const auto offset = static_cast<std::uint16_t>(16 * i);
    records.push_back(HexRecordText(offset, 0, Bytes(16, static_cast<std::uint8_t>(i))));
  }
  records.push_back(kEndRecordLine);
  return HexFileText(records);
}

struct FlashRun {
  int exit_code = -1;
  std::string out;
  std::string err;
  // Killed after kRunLimit: it never ended by itself.
  bool hung = false;
};

// Longer than any run here takes; a run still going then waits for
// something that will not come.
constexpr auto kRunLimit = std::chrono::seconds(60);

class FlashCli : public ::testing::Test {
 protected:
  FlashCli() { ::setenv("TMPDIR", tmp.path().c_str(), 1); }
  ~FlashCli() override { ::unsetenv("TMPDIR"); }

  // Starts one emulator per option list; returns their lines in that order.
  Texts StartPagers(const std::vector<Texts>& options) {
    Texts lines;
    for (std::size_t i = 0; i < options.size(); ++i) {
      // Numbered on from the pagers already started, so each has its own files.
      const auto sub = dir.path() / ("pager" + std::to_string(pagers.size()));
      std::filesystem::create_directories(sub);
      pagers.push_back(std::make_unique<PagerProcess>(sub.string()));
      lines.push_back(pagers.back()->Start(options[i]));
      EXPECT_FALSE(lines.back().empty()) << "the pager emulator did not start";
    }
    return lines;
  }

  void StopPagers() {
    for (auto& pager : pagers) EXPECT_TRUE(pager->Stop());
  }

  using Act = std::function<void(pid_t)>;

  FlashRun Flash(const Texts& args) { return Launch(args, "", nullptr, {}, 0); }
  // Sends `signal` once the program's stderr holds `text`.
  FlashRun FlashStoppedAt(const Texts& args, const std::string& text, int signal = SIGINT) {
    return Launch(
        args, text, [signal](pid_t pid) { ::kill(pid, signal); }, {}, 0);
  }
  // Calls `act` with the program's pid once its stderr holds `text`.
  FlashRun FlashActingAt(const Texts& args, const std::string& text, const Act& act) {
    return Launch(args, text, act, {}, 0);
  }
  // Started without the standard descriptors `closed`.
  FlashRun FlashWithout(const Texts& args, const std::vector<int>& closed) {
    return Launch(args, "", nullptr, closed, 0);
  }
  // Started under a file-size limit (ulimit -f) of `bytes`.
  FlashRun FlashLimited(const Texts& args, rlim_t bytes) {
    return Launch(args, "", nullptr, {}, bytes);
  }

  bool TmpIsEmpty() const { return std::filesystem::is_empty(tmp.path()); }

  // Everything the program showed on a pseudo-terminal `columns` wide
  // (stdout and stderr both, TERM=xterm), which is resized to `resize_to`
  // columns once the output holds `resize_at`; and where in it that came.
  struct TerminalRun {
    int exit_code = -1;
    std::string shown;
    std::size_t resized_at = std::string::npos;
  };
  TerminalRun FlashOnTerminal(const Texts& args, unsigned short columns,
                              const std::string& resize_at, unsigned short resize_to) {
    TerminalRun run;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return run;
    const std::string slave = ::ptsname(master);
    const winsize size{24, columns, 0, 0};
    ::ioctl(master, TIOCSWINSZ, &size);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int terminal = ::open(slave.c_str(), O_RDWR);
      ::dup2(terminal, STDOUT_FILENO);
      ::dup2(terminal, STDERR_FILENO);
      ::setenv("TERM", "xterm", 1);
      ExecFlasher(args);
    }
    int status = 0;
    for (bool done = false; !done;) {
      done = ::waitpid(pid, &status, WNOHANG) != 0;
      pollfd ready{master, POLLIN, 0};
      while (::poll(&ready, 1, done ? 0 : 20) > 0 && (ready.revents & POLLIN) != 0) {
        char buffer[4096];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0) break;
        run.shown.append(buffer, static_cast<std::size_t>(got));
      }
      if (run.resized_at == std::string::npos && run.shown.find(resize_at) != std::string::npos) {
        run.resized_at = run.shown.size();
        const winsize smaller{24, resize_to, 0, 0};
        ::ioctl(master, TIOCSWINSZ, &smaller);
      }
    }
    ::close(master);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  TempDir dir;
  TempDir tmp;
  const std::string out_path = dir.PathOf("flash.out");
  const std::string err_path = dir.PathOf("flash.err");
  std::vector<std::unique_ptr<PagerProcess>> pagers;
  // A program the flasher is run under ("faketime -f +3d"), found on PATH.
  Texts run_under;

 private:
  // In a child: becomes the program with `args`.
  [[noreturn]] void ExecFlasher(const Texts& args) const {
    std::vector<std::string> argv_text = run_under;
    if (!run_under.empty()) {
      // A sanitized build refuses to start behind a library preloaded ahead
      // of its runtime, as faketime's is; that order does no harm here.
      const char* asan = std::getenv("ASAN_OPTIONS");
      const std::string options = asan == nullptr ? "" : std::string(asan) + ":";
      ::setenv("ASAN_OPTIONS", (options + "verify_asan_link_order=0").c_str(), 1);
    }
    argv_text.push_back(TARVEX_FLASH_PATH);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }

  FlashRun Launch(const Texts& args, const std::string& when, const Act& act,
                  const std::vector<int>& closed, rlim_t file_size_limit) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
      ::dup2(::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      for (const int fd : closed) ::close(fd);
      if (file_size_limit != 0) {
        const rlimit limit{file_size_limit, file_size_limit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      ExecFlasher(args);
    }
    int status = 0;
    const auto limit = std::chrono::steady_clock::now() + kRunLimit;
    if (!when.empty()) {
      while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < limit) {
        if (ReadAll(err_path).find(when) != std::string::npos) {
          act(pid);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    const bool hung = !EndedBy(pid, limit, status);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out_path), ReadAll(err_path),
            hung};
  }

  // Waits for the program to end; kills it when it has not by `limit`.
  static bool EndedBy(pid_t pid, std::chrono::steady_clock::time_point limit, int& status) {
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > limit) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
};

TEST_F(FlashCli, OnePagerIsFlashedAndTheSummarySaysSo) {
  const std::string hex = FirmwareText(12);
  const std::string file = dir.Write("fw.hex", hex);
  const Texts lines = StartPagers({{}});
  const FlashRun run = Flash({"-p", lines[0], "-b", "9600", file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.err.find(lines[0] + ": Firmware updated finished."), std::string::npos);
  EXPECT_NE(run.out.find("finished"), std::string::npos) << run.out;
  EXPECT_EQ(pagers[0]->ProgrammedImage(), ImageOfHex(hex));
  EXPECT_EQ(pagers[0]->Events("RATE").front(), "9600");
  EXPECT_TRUE(TmpIsEmpty());
}

// Every value a field takes in the log.
std::set<std::string> LoggedValues(const std::string& log, const char* field) {
  std::set<std::string> values;
  for (const std::string& line : Lines(ReadAll(log))) {
    values.insert(nlohmann::json::parse(line).at(field).get<std::string>());
  }
  return values;
}

TEST_F(FlashCli, GangOfFourKeepsEachFailureToItsOwnLine) {
  const std::string hex = FirmwareText(12);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string log = dir.PathOf("trace.log");
  const Texts lines = StartPagers({{}, {"--nak-program", "1000"}, {"--silent"}, {}});
  const FlashRun run =
      Flash({"-p", lines[0], "-p", lines[1], "-p", lines[2], "-p", lines[3], "--log", log, file});
  StopPagers();
  // The first failure in port order: the pager that refuses every "p".
  EXPECT_EQ(run.exit_code, 8) << run.err;
  // Each failure's reason on a line of its own below its pager, and below
  // that what to do (on two lines within 80 columns).
  const Texts summary = Lines(run.out);
  ASSERT_EQ(summary.size(), 11u) << run.out;
  EXPECT_NE(summary[1].find("finished"), std::string::npos);
  EXPECT_NE(summary[2].find("rewinds-exceeded"), std::string::npos);
  EXPECT_EQ(summary[3].rfind("  Max. rewind counter exceed", 0), 0u) << run.out;
  EXPECT_EQ(summary[4].rfind("  The pager could not program its flash", 0), 0u) << run.out;
  EXPECT_NE(summary[6].find("no-response"), std::string::npos);
  EXPECT_EQ(summary[7], "  No response from the pager, flash now terminated.");
  EXPECT_EQ(summary[8].rfind("  The pager did not answer", 0), 0u) << run.out;
  EXPECT_NE(summary[10].find("finished"), std::string::npos);
  EXPECT_EQ(pagers[0]->ProgrammedImage(), ImageOfHex(hex));
  EXPECT_EQ(pagers[3]->ProgrammedImage(), ImageOfHex(hex));
  EXPECT_EQ(pagers[1]->Commands().back(), "q");
  // One traceability line per pager, each with the file's SHA-256.
  std::set<std::string> logged_ports;
  for (const std::string& line : Lines(ReadAll(log))) {
    const auto record = nlohmann::json::parse(line);
    logged_ports.insert(record.at("port").get<std::string>());
    EXPECT_EQ(record.at("sha256").get<std::string>().size(), 64u);
  }
  EXPECT_EQ(logged_ports, std::set<std::string>(lines.begin(), lines.end()));
  // A gang's lines, too, are records of their own, named for this host.
  EXPECT_EQ(LoggedValues(log, "record_id").size(), lines.size());
  EXPECT_EQ(LoggedValues(log, "station"), std::set<std::string>{StationName("")});
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(FlashCli, CheckAndABadFileSendNothing) {
  const std::string good = dir.Write("good.hex", FirmwareText(3));
  std::string broken = FirmwareText(3);
  broken[20] = broken[20] == '0' ? '1' : '0';  // a checksum no longer matches
  const std::string bad = dir.Write("bad.hex", broken);
  const Texts lines = StartPagers({{}});

  const FlashRun checked = Flash({"--check", "-b", "2400", good});
  EXPECT_EQ(checked.exit_code, 0);
  EXPECT_NE(checked.out.find("records:     4"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find("data bytes:  48"), std::string::npos);
  EXPECT_NE(checked.out.find("00010000-0001002F"), std::string::npos);
  const FlashRun as_json = Flash({"--check", "--json", good});
  EXPECT_EQ(as_json.exit_code, 0);
  EXPECT_EQ(nlohmann::json::parse(as_json.out).at("records"), 4) << as_json.out;
  EXPECT_EQ(Flash({"--check", bad}).exit_code, 3);
  EXPECT_EQ(nlohmann::json::parse(Flash({"--check", "--json", bad}).out).at("sound"), false);
  const FlashRun refused = Flash({"-p", lines[0], bad});
  EXPECT_EQ(refused.exit_code, 3);
  EXPECT_NE(refused.err.find("Line 2: checksum mismatch."), std::string::npos) << refused.err;
  // Refused by its size alone, before a byte of it is read.
  const std::string huge = dir.Write("huge.hex", "");
  std::filesystem::resize_file(huge, (64u << 20) + 1);
  const FlashRun too_large = Flash({"-p", lines[0], huge});
  EXPECT_EQ(too_large.exit_code, 3);
  EXPECT_NE(too_large.err.find("larger than 64 MiB"), std::string::npos) << too_large.err;
  StopPagers();
  EXPECT_EQ(pagers[0]->Commands(), Texts{});
}

// A file whose lines end in LF, as Unix tools and git checkouts write it,
// checks and goes on the line as its CR LF twin does; the log's hash is the
// file's own.
TEST_F(FlashCli, AFileWithLfLineEndsIsFlashedAsItsCrLfTwin) {
  const std::string crlf = FirmwareText(12);
  std::string lf = crlf;
  std::erase(lf, '\r');
  const std::string crlf_file = dir.Write("crlf.hex", crlf);
  const std::string lf_file = dir.Write("lf.hex", lf);
  const std::string log = dir.PathOf("trace.log");
  const auto check_of = [&](const std::string& file) {
    auto object = nlohmann::json::parse(Flash({"--check", "--json", file}).out);
    object.erase("file");
    return object;
  };
  EXPECT_EQ(check_of(lf_file), check_of(crlf_file));
  const Texts lines = StartPagers({{}, {}});
  const FlashRun with_crlf = Flash({"-p", lines[0], "-b", "9600", "--log", log, crlf_file});
  const FlashRun with_lf = Flash({"-p", lines[1], "-b", "9600", "--log", log, lf_file});
  StopPagers();
  EXPECT_EQ(with_crlf.exit_code, 0) << with_crlf.err;
  EXPECT_EQ(with_lf.exit_code, 0) << with_lf.err;
  EXPECT_EQ(pagers[1]->Commands(), pagers[0]->Commands());
  EXPECT_EQ(pagers[1]->ProgrammedImage(), ImageOfHex(crlf));
  const Texts logged = Lines(ReadAll(log));
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(logged[1]).at("sha256"), Sha256Hex(lf));
}

// Flashers on one file read it side by side: one holding it open to read
// keeps no other from reading it too.
TEST_F(FlashCli, AFileBeingReadByAnotherFlasherCanBeReadToo) {
  const std::string hex = FirmwareText(3);
  const std::string file = dir.Write("fw.hex", hex);
  const int reader = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(reader, LOCK_SH | LOCK_NB), 0);
  const Texts lines = StartPagers({{}});
  const FlashRun checked = Flash({"--check", file});
  const FlashRun flashed = Flash({"-p", lines[0], file});
  ::close(reader);
  StopPagers();
  EXPECT_EQ(checked.exit_code, 0) << checked.err;
  EXPECT_EQ(flashed.exit_code, 0) << flashed.err;
  EXPECT_EQ(pagers[0]->ProgrammedImage(), ImageOfHex(hex));
}

TEST_F(FlashCli, JsonLinesCarryEveryStage) {
  const std::string file = dir.Write("fw.hex", FirmwareText(4));
  const Texts lines = StartPagers({{"--nak-send", "2:1"}});
  const FlashRun run = Flash({"--json", "-p", lines[0], file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 0);
  Texts events;
  std::set<std::string> stages;
  for (const std::string& line : Lines(run.out)) {
    const auto object = nlohmann::json::parse(line);
    events.push_back(object.at("event"));
    if (object.contains("stage")) stages.insert(object.at("stage").get<std::string>());
    // A resent record is not counted twice.
    if (object.contains("records_total")) {
      EXPECT_LE(object.at("records"), object.at("records_total"));
    }
  }
  EXPECT_EQ(events.front(), "start");
  EXPECT_EQ(std::count(events.begin(), events.end(), "message"), 2);  // a resend, the end
  EXPECT_EQ(events[events.size() - 2], "end");
  EXPECT_EQ(events.back(), "summary");
  EXPECT_EQ(stages, (std::set<std::string>{"enter-flash", "change-baud", "erase", "transfer",
                                           "exit-flash"}));
}

TEST_F(FlashCli, CtrlCTakesThePagerOutOfFlashModeAndLeavesNothingBehind) {
  const std::string file = dir.Write("fw.hex", FirmwareText(200));
  const std::string log = dir.PathOf("trace.log");
  const Texts lines = StartPagers({{"--pace"}});
  // Plain progress lines: the first at 10 %, well inside the transfer.
  const FlashRun run = FlashStoppedAt({"-p", lines[0], "-b", "2400", "--log", log, file}, " 10%");
  StopPagers();
  EXPECT_EQ(run.exit_code, 130) << run.err;
  EXPECT_NE(run.out.find("interrupted"), std::string::npos) << run.out;
  const Texts commands = pagers[0]->Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "q");
  EXPECT_EQ(pagers[0]->Events("RATE").back(), "1200");  // the loader left flash mode
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_NE(ReadAll(log).find("\"outcome\":\"interrupted\""), std::string::npos);
  EXPECT_TRUE(TmpIsEmpty());
}

// Started by a careless script or a service manager with stdout or stderr
// closed, the program must not let its first port take their place.
TEST_F(FlashCli, ClosedStandardStreamsNeverLeadToAPagersLine) {
  const std::string hex = FirmwareText(12);
  const std::string file = dir.Write("fw.hex", hex);
  const Texts lines = StartPagers({{}, {}});
  const FlashRun no_err = FlashWithout({"-p", lines[0], file}, {STDERR_FILENO});
  const FlashRun no_out = FlashWithout({"--json", "-p", lines[1], file}, {STDOUT_FILENO});
  StopPagers();
  EXPECT_EQ(no_err.exit_code, 0);
  EXPECT_EQ(no_out.exit_code, 0);
  for (const auto& pager : pagers) {
    EXPECT_EQ(pager->Events("ERR"), Texts{});
    EXPECT_EQ(pager->Commands().back(), "q");
    EXPECT_EQ(pager->ProgrammedImage(), ImageOfHex(hex));
  }
}

// A stop while "f" or the rate command waits for its reply: the reply is
// waited out, and the pager that took the command leaves flash mode at the
// rate it then listens at.
TEST_F(FlashCli, AStopWhileAReplyIsPendingStillTakesThePagerOutOfFlashMode) {
  const std::string file = dir.Write("fw.hex", FirmwareText(4));
  const Texts lines = StartPagers({{"--delay", "800"}, {"--delay", "800", "--delay-from", "2"}});
  const FlashRun at_f = FlashStoppedAt({"-v", "-p", lines[0], file}, "enter-flash", SIGTERM);
  const FlashRun at_rate = FlashStoppedAt({"-v", "-p", lines[1], file}, "change-baud", SIGHUP);
  StopPagers();
  EXPECT_EQ(at_f.exit_code, 130) << at_f.err;
  EXPECT_EQ(at_rate.exit_code, 130) << at_rate.err;
  EXPECT_EQ(pagers[0]->Commands(), (Texts{"f", "q"}));
  EXPECT_EQ(pagers[1]->Commands(), (Texts{"f", "b4800B8", "q"}));
  for (const auto& pager : pagers) EXPECT_EQ(pager->Events("ERR"), Texts{});
  EXPECT_EQ(pagers[1]->Events("RATE"), (Texts{"4800", "1200"}));
}

// A pager whose line cannot be logged is what the log exists to prevent: the
// run says so with a code of its own, and a line cut short by a full disk is
// taken back off the log, so the next run's line stays a line of its own.
TEST_F(FlashCli, ALogLineIsWrittenWholeOrNotAtAll) {
  const std::string hex = FirmwareText(3);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string log = dir.PathOf("trace.jsonl");
  const Texts lines = StartPagers({{}, {}});
  const FlashRun first = Flash({"-p", lines[0], "--log", log, file});
  const std::string one_line = ReadAll(log);
  // Quiet: the limit holds for stderr's file too.
  const FlashRun cut_short =
      FlashLimited({"-q", "-p", lines[0], "--log", log, file}, one_line.size() + 40);
  const std::string after_cut = ReadAll(log);
  const FlashRun third = Flash({"-p", lines[0], "--log", log, file});
  const FlashRun full = Flash({"-p", lines[1], "--log", "/dev/full", file});
  StopPagers();
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(cut_short.exit_code, 11) << cut_short.err;
  EXPECT_NE(cut_short.err.find("cannot append to the log"), std::string::npos) << cut_short.err;
  EXPECT_EQ(after_cut, one_line);
  EXPECT_EQ(third.exit_code, 0) << third.err;
  const Texts logged = Lines(ReadAll(log));
  ASSERT_EQ(logged.size(), 2u);
  for (const std::string& line : logged) EXPECT_NO_THROW(nlohmann::json::parse(line)) << line;
  // A log that takes no byte at all is refused before any port opens.
  EXPECT_EQ(full.exit_code, 2) << full.err;
  EXPECT_EQ(pagers[1]->Commands(), Texts{});
}

// A bench of pagers on each line: connected one after another, each left on
// the cable a while after its update, with a gap between them long enough
// for the station to see the cable empty.
// Pagers swapped in turn, each left on the cable `linger_ms` after its update
// and the cable then empty for 0.4 s, the shortest a bench takes.
Texts BenchOf(int pagers, int linger_ms, Texts more = {}) {
  Texts options = {"--sessions",  std::to_string(pagers),
                   "--linger-ms", std::to_string(linger_ms),
                   "--gap-ms",    "400"};
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

// The widest line a terminal was shown in `shown`, escape sequences and
// bells left out, counted in characters; with `rows_only`, only the rows
// redrawn in place (each drawn after an erase of its line), not the lines
// written above them, which may wrap as any terminal text does.
std::size_t WidestLine(const std::string& shown, bool rows_only = false) {
  constexpr std::string_view kEraseLine = "\x1b[2K";
  std::size_t widest = 0;
  std::size_t width = 0;
  bool counted = !rows_only;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char c = shown[i];
    if (c == '\x1b' && i + 1 < shown.size() && shown[i + 1] == '[') {
      if (rows_only && shown.compare(i, kEraseLine.size(), kEraseLine) == 0) counted = true;
      for (i += 2; i < shown.size() && (shown[i] < 0x40 || shown[i] > 0x7E); ++i) {
      }
    } else if (c == '\r' || c == '\n') {
      width = 0;
      counted = counted && !rows_only;
    } else if (c != '\a' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++width;
      if (counted) widest = std::max(widest, width);
    }
  }
  return widest;
}

// On a terminal of 80 columns, then 40, no line is ever wider: a port with a
// long name, the progress, the summary; a bench's rows.
TEST_F(FlashCli, EveryScreenFitsTheTerminalAsItIsResized) {
  const std::string file = dir.Write("fw.hex", FirmwareText(80));
  const Texts lines = StartPagers({{"--pace"}, BenchOf(1, 0)});
  const std::string long_name =
      dir.PathOf("usb-FTDI_FT232R_USB_UART_A600ARJH-if00-port0-on-the-bench-by-the-window");
  std::filesystem::create_symlink(lines[0], long_name);
  const TerminalRun one = FlashOnTerminal({"-b", "9600", "-p", long_name, file}, 80, "B/s", 40);
  ASSERT_EQ(one.exit_code, 0) << one.shown;
  ASSERT_NE(one.resized_at, std::string::npos) << one.shown;
  EXPECT_LE(WidestLine(one.shown.substr(0, one.resized_at), true), 80u);
  const std::string after = one.shown.substr(one.shown.find('\n', one.resized_at) + 1);
  EXPECT_LE(WidestLine(after, true), 40u) << after;
  const std::string summary = after.substr(after.rfind("PORT"));
  EXPECT_LE(WidestLine(summary), 40u) << summary;
  const TerminalRun bench = FlashOnTerminal(
      {"--station", "-b", "9600", "-p", lines[1], "--count", "1", file}, 40, "", 40);
  EXPECT_EQ(bench.exit_code, 0) << bench.shown;
  EXPECT_LE(WidestLine(bench.shown, true), 40u) << bench.shown;
  EXPECT_LE(WidestLine(bench.shown.substr(bench.shown.rfind("PORT"))), 40u) << bench.shown;
  StopPagers();
}

// The rows a terminal was shown in `shown` that begin with `start`: each row
// redrawn in place comes after an erase of its line.
Texts RowsShown(const std::string& shown, const std::string& start) {
  const std::string erase_line = "\x1b[2K" + start;
  Texts rows;
  for (std::size_t at = shown.find(erase_line); at != std::string::npos;
       at = shown.find(erase_line, at + 1)) {
    const std::size_t from = at + erase_line.size() - start.size();
    rows.push_back(shown.substr(from, shown.find('\n', from) - from));
  }
  return rows;
}

// On a terminal of 80 columns and 24 lines, a bench where one port's pagers
// finish and the other's fails (its place then goes to the first port's
// second pager): every frame shows the one header line, FAILED in it from
// the first frame on, and nothing wider than the terminal.
TEST_F(FlashCli, StationRowsKeepOneHeaderInEveryFrame) {
  const std::string file = dir.Write("fw.hex", FirmwareText(40));
  const Texts lines =
      StartPagers({BenchOf(2, 0, {"--pace"}), BenchOf(1, 0, {"--pace", "--nak-program", "1000"})});
  const TerminalRun run = FlashOnTerminal(
      {"--station", "-b", "9600", "-p", lines[0], "-p", lines[1], "--count", "2", file}, 80, "",
      80);
  StopPagers();
  EXPECT_EQ(run.exit_code, 8) << run.shown;
  const Texts headers = RowsShown(run.shown, "PORT");
  ASSERT_GE(headers.size(), 3u) << run.shown;
  EXPECT_EQ(std::set<std::string>(headers.begin(), headers.end()).size(), 1u) << run.shown;
  EXPECT_NE(headers.front().find("FAILED"), std::string::npos) << headers.front();
  EXPECT_NE(run.shown.find("failed, rewinds-exceeded"), std::string::npos) << run.shown;
  EXPECT_NE(run.shown.find("The pager could not program its flash"), std::string::npos);
  EXPECT_LE(WidestLine(run.shown), 80u) << run.shown;
}

// The running numbers and outcomes of a station's log, each line a record
// of its own.
std::multiset<std::string> LoggedPagers(const std::string& log, std::set<int>* numbers) {
  std::multiset<std::string> outcomes;
  std::set<std::string> ids;
  for (const std::string& line : Lines(ReadAll(log))) {
    const auto record = nlohmann::json::parse(line);
    numbers->insert(record.at("number").get<int>());
    outcomes.insert(record.at("outcome").get<std::string>());
    ids.insert(record.at("record_id").get<std::string>());
    EXPECT_FALSE(record.at("station_start").get<std::string>().empty());
  }
  EXPECT_EQ(ids.size(), outcomes.size()) << "a record id given twice";
  return outcomes;
}

// Two ports with four pagers each, behind a 16 ms adapter latency timer,
// each pager left on its cable 2 s after its "q" with now and then a
// probe's reply lost: each is flashed once.
TEST_F(FlashCli, StationFlashesEveryPagerOnceAsItIsConnected) {
  const std::string hex = FirmwareText(12);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string log = dir.PathOf("station.log");
  const Texts adapter = {"--pace", "--latency-ms", "16", "--lose-idle-replies", "0.05"};
  Texts second = adapter;
  second.insert(second.end(), {"--attach-after", "700", "--seed", "2"});
  const Texts lines = StartPagers({BenchOf(4, 2000, adapter), BenchOf(4, 2000, second)});
  const FlashRun run = Flash({"--station", "-b", "9600", "-p", lines[0], "-p", lines[1], "--count",
                              "8", "--log", log, "--station-name", "LINE3-B2", file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(LoggedValues(log, "station"), std::set<std::string>{"LINE3-B2"});
  std::set<int> numbers;
  EXPECT_EQ(LoggedPagers(log, &numbers),
            std::multiset<std::string>({"finished", "finished", "finished", "finished", "finished",
                                        "finished", "finished", "finished"}));
  EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  for (const auto& pager : pagers) {
    for (int session = 1; session <= 4; ++session) {
      EXPECT_EQ(pager->ProgrammedImage(session), ImageOfHex(hex)) << session;
    }
    // Each of the four taken into flash mode and erased once.
    const Texts info = pager->Events("INFO");
    EXPECT_EQ(std::count(info.begin(), info.end(), "erase"), 4);
    EXPECT_EQ(std::count(info.begin(), info.end(), "flash mode"), 4);
  }
  // One plain line per event; the summary per port.
  EXPECT_EQ(Count(run.err, " connected\n"), 8) << run.err;
  EXPECT_EQ(Count(run.err, " finished: Firmware updated finished.\n"), 8);
  EXPECT_GE(Count(run.err, " removed\n"), 6);
  EXPECT_NE(run.out.find("all "), std::string::npos) << run.out;
  EXPECT_TRUE(TmpIsEmpty());
}

// Pagers erased (taken through an update) on each emulator started so far.
int Erases(const std::vector<std::unique_ptr<PagerProcess>>& pagers) {
  int erases = 0;
  for (const auto& pager : pagers) {
    const Texts info = pager->Events("INFO");
    erases += static_cast<int>(std::count(info.begin(), info.end(), "erase"));
  }
  return erases;
}

// Four ports race for the last places of a count: exactly that many pagers
// are flashed, run after run.
TEST_F(FlashCli, StationCountIsExactHoweverManyPortsRaceForIt) {
  const std::string file = dir.Write("fw.hex", FirmwareText(3));
  for (int run = 1; run <= 3; ++run) {
    const std::string log = dir.PathOf("count" + std::to_string(run) + ".log");
    pagers.clear();
    const Texts lines = StartPagers({{}, {}, {}, {}});
    const FlashRun flashed = Flash({"--station", "-p", lines[0], "-p", lines[1], "-p", lines[2],
                                    "-p", lines[3], "--count", "2", "--log", log, file});
    StopPagers();
    EXPECT_EQ(flashed.exit_code, 0) << flashed.err;
    EXPECT_EQ(Erases(pagers), 2) << "run " << run;
    std::set<int> numbers;
    EXPECT_EQ(LoggedPagers(log, &numbers), (std::multiset<std::string>{"finished", "finished"}));
    EXPECT_EQ(Count(flashed.err, " connected\n"), 2) << flashed.err;
  }
}

// A pager left on the cable 12 s that loses a fifth of its idle replies is
// not taken for gone: each is flashed once, whatever the losses fall on.
TEST_F(FlashCli, StationFlashesALingeringPagerThatLosesRepliesOnce) {
  const std::string file = dir.Write("fw.hex", FirmwareText(3));
  const std::string log = dir.PathOf("station.log");
  std::vector<Texts> options;
  for (const char* seed : {"1", "2", "3"}) {
    options.push_back(BenchOf(2, 12000, {"--pace", "--lose-idle-replies", "0.2", "--seed", seed}));
  }
  const Texts lines = StartPagers(options);
  const FlashRun run = Flash({"--station", "-p", lines[0], "-p", lines[1], "-p", lines[2],
                              "--count", "6", "--log", log, file});
  StopPagers();
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  for (const auto& pager : pagers) {
    const Texts info = pager->Events("INFO");
    EXPECT_EQ(std::count(info.begin(), info.end(), "erase"), 2);
  }
  std::set<int> numbers;
  EXPECT_EQ(LoggedPagers(log, &numbers).size(), 6u);
  EXPECT_EQ(Count(run.err, " removed\n"), 3) << run.err;
}

// Another program holds the log locked for 4 s just as a pager is swapped
// for the next in 0.5 s: the swap is seen and the next pager flashed while
// the first line waits, and both lines reach the log.
TEST_F(FlashCli, StationWatchesItsPagerWhileTheLogIsSlow) {
  const std::string hex = FirmwareText(3);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string log = dir.Write("station.log", "");
  const int holder = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  const Texts lines = StartPagers({BenchOf(2, 100)});
  std::string seen_while_locked;
  const FlashRun run =
      FlashActingAt({"--station", "-b", "9600", "-p", lines[0], "--count", "2", "--log", log, file},
                    "#1 finished", [&](pid_t) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(4000));
                      seen_while_locked = ReadAll(err_path);
                      ::flock(holder, LOCK_UN);
                    });
  ::close(holder);
  StopPagers();
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(seen_while_locked.find("#2 finished"), std::string::npos) << seen_while_locked;
  EXPECT_EQ(pagers[0]->ProgrammedImage(1), ImageOfHex(hex));
  EXPECT_EQ(pagers[0]->ProgrammedImage(2), ImageOfHex(hex));
  std::set<int> numbers;
  EXPECT_EQ(LoggedPagers(log, &numbers), (std::multiset<std::string>{"finished", "finished"}));
}

// Behind an adapter that holds every reply up to 100 ms, a pager left on
// the cable for 30 s is seen, flashed and logged once, and its removal seen.
TEST_F(FlashCli, StationFlashesAPagerBehindA100MsTimerOnce) {
  const std::string hex = FirmwareText(3);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string log = dir.PathOf("station.log");
  const Texts lines = StartPagers({BenchOf(1, 30000, {"--pace", "--latency-ms", "100"})});
  const FlashRun run =
      FlashStoppedAt({"--station", "-b", "9600", "-p", lines[0], "--log", log, file}, "#1 removed");
  StopPagers();
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, 130) << run.err;
  const Texts info = pagers[0]->Events("INFO");
  EXPECT_EQ(std::count(info.begin(), info.end(), "erase"), 1);
  EXPECT_EQ(pagers[0]->ProgrammedImage(1), ImageOfHex(hex));
  std::set<int> numbers;
  EXPECT_EQ(LoggedPagers(log, &numbers), (std::multiset<std::string>{"finished"}));
  EXPECT_EQ(Count(run.err, " connected\n"), 1) << run.err;
}

// Each port's turnaround, measured from its replies, in the JSON lines: an
// emulated 16 ms timer adds 8 ms on average, none adds next to nothing.
struct TurnaroundCase {
  const char* name;
  const char* latency_ms;
  double least_ms;
  double most_ms;
};

void PrintTo(const TurnaroundCase& c, std::ostream* out) { *out << c.name; }

class StationTurnaround : public FlashCli, public ::testing::WithParamInterface<TurnaroundCase> {};

TEST_P(StationTurnaround, IsReportedForEachPager) {
  const std::string file = dir.Write("fw.hex", FirmwareText(40));
  const Texts lines = StartPagers({{"--pace", "--latency-ms", GetParam().latency_ms}});
  const FlashRun run =
      Flash({"--station", "--json", "-b", "9600", "-p", lines[0], "--count", "1", file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const Texts finished = LinesWith(run.out, "\"event\":\"finished\"");
  ASSERT_EQ(finished.size(), 1u) << run.out;
  const double turnaround = nlohmann::json::parse(finished[0]).at("turnaround_ms");
  EXPECT_GE(turnaround, GetParam().least_ms);
  EXPECT_LT(turnaround, GetParam().most_ms);
}

INSTANTIATE_TEST_SUITE_P(Emulated, StationTurnaround,
                         ::testing::Values(TurnaroundCase{"Timer16Ms", "16", 6.0, 12.0},
                                           TurnaroundCase{"NoTimer", "0", 0.0, 3.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCli, StationPortWhosePagersRefuseKeepsGoingAndLeavesTheOtherAlone) {
  const std::string hex = FirmwareText(12);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string log = dir.PathOf("station.log");
  // The first line's pagers refuse every "p"; the second line's come later.
  const Texts lines = StartPagers(
      {BenchOf(2, 0, {"--nak-program", "1000"}), BenchOf(2, 0, {"--attach-after", "9000"})});
  const FlashRun run =
      Flash({"--station", "-p", lines[0], "-p", lines[1], "--count", "2", "--log", log, file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 8) << run.err;  // rewinds exceeded, the first failure
  std::set<int> numbers;
  EXPECT_EQ(
      LoggedPagers(log, &numbers),
      (std::multiset<std::string>{"finished", "finished", "rewinds-exceeded", "rewinds-exceeded"}));
  EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4}));
  // The second refusing pager was still taken through its update, four erases each.
  const Texts refused = pagers[0]->Events("INFO");
  EXPECT_EQ(std::count(refused.begin(), refused.end(), "erase"), 8);
  EXPECT_EQ(pagers[1]->ProgrammedImage(1), ImageOfHex(hex));
  EXPECT_EQ(pagers[1]->ProgrammedImage(2), ImageOfHex(hex));
  const Texts failures = LinesWith(run.err, " failed, ");
  ASSERT_EQ(failures.size(), 2u) << run.err;
  for (const std::string& line : failures) {
    EXPECT_NE(line.find(lines[0] + " #"), std::string::npos) << line;
    EXPECT_NE(line.find("rewinds-exceeded: Max. rewind counter exceed"), std::string::npos);
  }
}

TEST_F(FlashCli, StationCtrlCTakesEveryPagerOutOfFlashMode) {
  const std::string file = dir.Write("fw.hex", FirmwareText(200));
  const std::string log = dir.PathOf("station.log");
  const Texts lines = StartPagers({{"--pace"}, {"--pace"}});
  const FlashRun run = FlashStoppedAt(
      {"--station", "-b", "2400", "-p", lines[0], "-p", lines[1], "--log", log, file},
      "#2 connected");
  StopPagers();
  EXPECT_EQ(run.exit_code, 130) << run.err;
  // Each loader left flash mode, or was stopped before it entered it.
  for (const auto& pager : pagers) {
    const Texts commands = pager->Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "q");
    const Texts modes = pager->Events("INFO");
    const auto last_mode = std::find_if(modes.rbegin(), modes.rend(), [](const std::string& info) {
      return info == "flash mode" || info == "idle";
    });
    EXPECT_TRUE(last_mode == modes.rend() || *last_mode == "idle");
  }
  const Texts summary = Lines(run.out);
  ASSERT_EQ(summary.size(), 4u) << run.out;
  EXPECT_NE(summary[3].find("0       2"), std::string::npos) << run.out;  // none finished, two not
  EXPECT_EQ(Count(ReadAll(log), "\"outcome\":\"interrupted\""), 2);
  EXPECT_TRUE(TmpIsEmpty());
}

// One adapter of a gang pulled out in the middle of its transfer: its own
// update ends at once with the port-lost outcome, and the others finish.
TEST_F(FlashCli, APulledAdapterEndsOnlyItsOwnUpdateAtOnce) {
  const std::string hex = FirmwareText(150);
  const std::string file = dir.Write("fw.hex", hex);
  const Texts lines = StartPagers({{"--pace"}, {"--pace"}, {"--pace"}});
  const std::string lost = lines[1] +
                           ": No response from the pager, flash now terminated.\n"
                           "  The port was lost: Input/output error (error 5).";
  std::chrono::steady_clock::duration to_end{};
  const FlashRun run = FlashActingAt(
      {"-b", "9600", "-p", lines[0], "-p", lines[1], "-p", lines[2], file}, " 30%", [&](pid_t) {
        pagers[1]->Kill();
        const auto pulled = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000 && ReadAll(err_path).find(lost) == std::string::npos; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        to_end = std::chrono::steady_clock::now() - pulled;
      });
  EXPECT_TRUE(pagers[0]->Stop());
  EXPECT_TRUE(pagers[2]->Stop());
  EXPECT_LT(to_end, std::chrono::seconds(1));
  EXPECT_EQ(run.exit_code, 10) << run.err;
  EXPECT_NE(run.out.find("port-lost"), std::string::npos) << run.out;
  EXPECT_EQ(pagers[0]->ProgrammedImage(), ImageOfHex(hex));
  EXPECT_EQ(pagers[2]->ProgrammedImage(), ImageOfHex(hex));
}

// What USB adapters do on the line, emulated: a latency timer, which the
// program reports and hints at, and a stray byte behind the rate change,
// which it must not take for a reply.
struct AdapterLine {
  const char* name;
  Texts pager_options;
  double least_reply_ms;
  double most_reply_ms;
  bool hint;
};

void PrintTo(const AdapterLine& c, std::ostream* out) { *out << c.name; }

class AdapterLines : public FlashCli, public ::testing::WithParamInterface<AdapterLine> {};

TEST_P(AdapterLines, AreReportedAndSurvived) {
  const std::string hex = FirmwareText(40);
  const std::string file = dir.Write("fw.hex", hex);
  const Texts lines = StartPagers({GetParam().pager_options});
  const FlashRun run = Flash({"--json", "-b", "9600", "-p", lines[0], file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(pagers[0]->ProgrammedImage(), ImageOfHex(hex));
  const Texts events = Lines(run.out);
  ASSERT_GE(events.size(), 2u) << run.out;
  const double reply_ms = nlohmann::json::parse(events[events.size() - 2]).at("reply_ms");
  EXPECT_GE(reply_ms, GetParam().least_reply_ms);
  EXPECT_LE(reply_ms, GetParam().most_reply_ms);
  const bool hinted = run.err.find(lines[0] + ": replies come ") != std::string::npos;
  EXPECT_EQ(hinted, GetParam().hint) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Emulated, AdapterLines,
    ::testing::Values(AdapterLine{"Latency16Ms", {"--pace", "--latency-ms", "16"}, 5, 11, true},
                      AdapterLine{"LatencyNone", {"--pace", "--latency-ms", "0"}, 0, 3.9, false},
                      AdapterLine{"NulAfterTheRateChange", {"--nul-after-rate"}, 0, 3.9, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCli, APortThatCannotBeOpenedIsNamed) {
  const std::string file = dir.Write("fw.hex", FirmwareText(1));
  const FlashRun run = Flash({"-p", dir.PathOf("no-such-tty"), file});
  EXPECT_EQ(run.exit_code, 4);
  EXPECT_NE(run.err.find("Can NOT Open \"" + dir.PathOf("no-such-tty") + "\""), std::string::npos);
  // A log that cannot be written is bad usage, told before any port opens.
  const FlashRun unlogged =
      Flash({"-p", dir.PathOf("no-such-tty"), "--log", dir.PathOf("no-dir/trace.log"), file});
  EXPECT_EQ(unlogged.exit_code, 2);
  EXPECT_NE(unlogged.err.find("cannot append to the log " + dir.PathOf("no-dir/trace.log") +
                              ": No such file or directory (its folder does not exist)."),
            std::string::npos)
      << unlogged.err;
  EXPECT_EQ(unlogged.err.find("Can NOT Open"), std::string::npos) << unlogged.err;
  // A file or a device that is no serial port is said to be none; a file,
  // most likely the firmware, with the hint that the two were swapped.
  const FlashRun swapped = Flash({"-p", file, file});
  EXPECT_EQ(swapped.exit_code, 4);
  EXPECT_NE(swapped.err.find(file + " is not a serial port.\n  It is a file: were the port and "
                                    "the firmware file given the other way round?"),
            std::string::npos)
      << swapped.err;
  EXPECT_EQ(ReadAll(file), FirmwareText(1));
  const FlashRun null = Flash({"-p", "/dev/null", file});
  EXPECT_EQ(null.exit_code, 4);
  EXPECT_NE(null.err.find("Can NOT Open \"/dev/null\"\n  /dev/null is not a serial port.\n"),
            std::string::npos)
      << null.err;
  // A directory is not a port in use by another program.
  // An adapter that is not there is bad usage too, told with the ports that are.
  const FlashRun unknown = Flash({"-p", "serial=NO-SUCH-ADAPTER", file});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_NE(unknown.err.find("no port has an adapter with the serial number NO-SUCH-ADAPTER; "),
            std::string::npos)
      << unknown.err;
  const FlashRun folder = Flash({"-p", dir.path().string(), file});
  EXPECT_EQ(folder.exit_code, 4);
  EXPECT_NE(folder.err.find("It is a directory, not a serial port."), std::string::npos)
      << folder.err;
}

TEST_F(FlashCli, OnePortUnderTwoNamesIsRefusedBeforeAnythingIsSent) {
  const std::string file = dir.Write("fw.hex", FirmwareText(1));
  const Texts lines = StartPagers({{}});
  const std::string link = dir.PathOf("pager-link");
  std::filesystem::create_symlink(lines[0], link);
  const FlashRun run = Flash({"-p", lines[0], "-p", link, file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("the port " + lines[0] + " is given twice (also as " + link + ")"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(pagers[0]->Commands(), Texts{});
}

// A log is a file. A pager's line pasted into --log is refused before any
// port opens: the JSON would go down that line (its "f" puts a flashed
// pager back into flash mode).
TEST_F(FlashCli, ALogNamingAPagersLineIsRefusedBeforeAnyPortOpens) {
  const std::string file = dir.Write("fw.hex", FirmwareText(3));
  const Texts lines = StartPagers({{}, {}});
  const FlashRun run = Flash({"-p", lines[0], "--log", lines[1], file});
  StopPagers();
  EXPECT_EQ(run.exit_code, 2) << run.err;
  EXPECT_NE(run.err.find("cannot append to the log " + lines[1] +
                         ": it is a serial port or a terminal, not a file."),
            std::string::npos)
      << run.err;
  for (const auto& pager : pagers) {
    EXPECT_EQ(pager->Commands(), Texts{});
    EXPECT_EQ(pager->Events("ERR"), Texts{});
  }
}

// A FIFO with no reader would hold an open for ever: one given as the log
// is refused at once, one put in the log's place during a run costs that
// pager's line only, and the run ends.
TEST_F(FlashCli, ALogThatIsOrBecomesAFifoNeverHoldsTheRun) {
  const std::string hex = FirmwareText(3);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string fifo = dir.PathOf("trace.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string log = dir.PathOf("station.log");
  const FlashRun given = Flash({"-p", StartPagers({{}})[0], "--log", fifo, file});
  const Texts lines = StartPagers({{}, BenchOf(1, 0, {"--attach-after", "4000"})});
  const FlashRun swapped = FlashActingAt(
      {"--station", "-p", lines[0], "-p", lines[1], "--count", "2", "--log", log, file},
      "#1 finished", [&](pid_t) {
        std::filesystem::remove(log);
        ::mkfifo(log.c_str(), 0600);
      });
  StopPagers();
  EXPECT_FALSE(given.hung);
  EXPECT_EQ(given.exit_code, 2) << given.err;
  EXPECT_NE(given.err.find(": it is a FIFO (a named pipe), not a file."), std::string::npos)
      << given.err;
  EXPECT_EQ(pagers[0]->Commands(), Texts{});
  EXPECT_FALSE(swapped.hung);
  EXPECT_EQ(swapped.exit_code, 11) << swapped.err;
  EXPECT_NE(swapped.err.find("#2 finished"), std::string::npos) << swapped.err;
  EXPECT_NE(swapped.err.find("cannot append to the log " + log + ": it is a FIFO"),
            std::string::npos)
      << swapped.err;
  EXPECT_EQ(pagers[2]->ProgrammedImage(), ImageOfHex(hex));
}

// A log another program keeps locked: the pager's line waits for it, but a
// stop ends the run within a second all the same, and says what the log did.
TEST_F(FlashCli, AStopEndsTheRunWithinASecondWhateverTheLogDoes) {
  const std::string file = dir.Write("fw.hex", FirmwareText(3));
  const std::string log = dir.Write("station.log", "");
  const int holder = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  const Texts lines = StartPagers({{}});
  auto stopped = std::chrono::steady_clock::now();
  const FlashRun run =
      FlashActingAt({"--station", "-b", "9600", "-p", lines[0], "--log", log, file}, "#1 connected",
                    [&](pid_t pid) {
                      // Time enough for the update to end and its line to wait for the lock.
                      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                      stopped = std::chrono::steady_clock::now();
                      ::kill(pid, SIGINT);
                    });
  const auto to_end = std::chrono::steady_clock::now() - stopped;
  ::close(holder);
  StopPagers();
  EXPECT_FALSE(run.hung);
  // Within a second, with room for a loaded machine.
  EXPECT_LT(to_end, std::chrono::seconds(3));
  EXPECT_EQ(run.exit_code, 130) << run.err;
  EXPECT_NE(run.err.find("cannot append to the log " + log + ": another program holds it locked."),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadAll(log), "");
  const Texts commands = pagers[0]->Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "q");
}

// Names from outside reach the terminal as text, and the log and the JSON
// lines keep them whole: two files whose names differ in a byte that is not
// UTF-8 leave two names.
TEST_F(FlashCli, NamesAreShownAsTextAndLoggedWhole) {
  const std::string hex = FirmwareText(3);
  const std::string first = dir.Write("fw\xfe.hex", hex);
  const std::string second = dir.Write("fw\xff.hex", hex);
  const std::string log = dir.PathOf("trace.jsonl");
  const Texts lines = StartPagers({{}});
  const std::string forged = "\nfake: Firmware updated finished.";
  const std::string port = dir.PathOf("pager\x1b]0;pwned\x07" + forged);
  std::filesystem::create_symlink(lines[0], port);
  const FlashRun shown = Flash({"-p", port, "--log", log, first});
  const FlashRun as_json = Flash({"--json", "-p", port, "--log", log, second});
  const FlashRun missing = Flash({"-p", port + "-gone", second});
  StopPagers();
  EXPECT_EQ(shown.exit_code, 0) << shown.err;
  for (const FlashRun* run : {&shown, &missing}) {
    EXPECT_EQ(run->err.find('\x1b'), std::string::npos) << run->err;
    EXPECT_EQ(run->err.find(forged), std::string::npos) << run->err;
  }
  const std::string visible =
      dir.PathOf("pager\\x1b]0;pwned\\x07\\nfake: Firmware updated finished.");
  EXPECT_NE(shown.err.find(visible + ": Firmware updated finished."), std::string::npos)
      << shown.err;
  EXPECT_NE(missing.err.find("Can NOT Open \"" + visible + "-gone\""), std::string::npos)
      << missing.err;
  const Texts logged = Lines(ReadAll(log));
  ASSERT_EQ(logged.size(), 2u);
  const auto one = nlohmann::json::parse(logged[0]);
  const auto two = nlohmann::json::parse(logged[1]);
  EXPECT_EQ(one.at("file"), dir.PathOf("fw\\xfe.hex"));
  EXPECT_EQ(two.at("file"), dir.PathOf("fw\\xff.hex"));
  EXPECT_TRUE(two.at("file_bytes").get<std::string>().ends_with("6677ff2e686578"));
  EXPECT_EQ(one.at("port"), port);
  const auto start = nlohmann::json::parse(Lines(as_json.out).front());
  EXPECT_EQ(start.at("file_bytes"), two.at("file_bytes"));
}

// What a station run meets on a day at the bench, on its log and on its
// lines: each run ends by itself, says what happened, and counts a pager
// finished only when it was.

TEST_F(FlashCli, StationGoesOnWhenTheLogsFolderIsDeleted) {
  const std::string hex = FirmwareText(3);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string folder = dir.PathOf("logs");
  std::filesystem::create_directories(folder);
  const std::string log = folder + "/day.jsonl";
  const Texts lines = StartPagers({{}, BenchOf(1, 0, {"--attach-after", "4000"})});
  const FlashRun run = FlashActingAt(
      {"--station", "-p", lines[0], "-p", lines[1], "--count", "2", "--log", log, file},
      "#1 finished", [&](pid_t) { std::filesystem::remove_all(folder); });
  StopPagers();
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, 11) << run.err;
  EXPECT_NE(run.err.find("cannot append to the log " + log +
                         ": No such file or directory (its folder does not exist)."),
            std::string::npos)
      << run.err;
  EXPECT_EQ(Count(run.err, " finished: Firmware updated finished."), 2) << run.err;
  EXPECT_EQ(pagers[1]->ProgrammedImage(), ImageOfHex(hex));
  // The folder is not made again behind the user's back.
  EXPECT_FALSE(std::filesystem::exists(folder));
}

// A log that cannot grow: under a file-size limit (ulimit -f) below its
// size from the start, and a disk that fills up during the run, emulated by
// a limit that leaves room for one more line (no file system of our own to
// fill here). Every pager is flashed all the same; each line is whole or
// not there, and each one missing is told.
struct LogRoom {
  const char* name;
  int lines;  // whole lines the limit leaves room for
};

void PrintTo(const LogRoom& c, std::ostream* out) { *out << c.name; }

class StationLogRoom : public FlashCli, public ::testing::WithParamInterface<LogRoom> {};

TEST_P(StationLogRoom, EveryPagerIsFlashedAndEveryLineWholeOrTold) {
  const std::string hex = FirmwareText(3);
  const std::string file = dir.Write("fw.hex", hex);
  // Earlier days' lines, so that the limit leaves stdout and stderr room.
  std::string earlier;
  while (earlier.size() < 32768) earlier += "{\"outcome\":\"finished\",\"number\":0}\n";
  const std::string log = dir.Write("day.jsonl", earlier);
  // A station's line is between 300 and 600 bytes long here.
  const rlim_t limit = earlier.size() + 600 * GetParam().lines;
  const Texts lines = StartPagers({BenchOf(1, 0), BenchOf(1, 0, {"--attach-after", "2000"})});
  const FlashRun run = FlashLimited(
      {"--station", "-p", lines[0], "-p", lines[1], "--count", "2", "--log", log, file}, limit);
  StopPagers();
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, 11) << run.err;
  for (const auto& pager : pagers) EXPECT_EQ(pager->ProgrammedImage(), ImageOfHex(hex));
  const std::string after = ReadAll(log);
  ASSERT_TRUE(after.starts_with(earlier));
  const Texts added = Lines(after.substr(earlier.size()));
  EXPECT_EQ(added.size(), static_cast<std::size_t>(GetParam().lines));
  for (const std::string& line : added) {
    EXPECT_GT(line.size(), 300u);
    EXPECT_EQ(nlohmann::json::parse(line).at("outcome"), "finished");
  }
  EXPECT_EQ(Count(run.err, ": File too large."), 2 - GetParam().lines) << run.err;
  EXPECT_EQ(Count(run.err, " finished: Firmware updated finished."), 2) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Limits, StationLogRoom,
                         ::testing::Values(LogRoom{"FileSizeLimitBelowTheLog", 0},
                                           LogRoom{"FullDiskEmulatedByAFileSizeLimit", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// The emulator killed in the middle of an update and started again on the
// same link, as a pseudo-terminal gone and back: the pager on it then failed,
// and the next one is flashed once the line is back.
TEST_F(FlashCli, StationSeesALineGoAndComeBack) {
  const std::string hex = FirmwareText(200);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string log = dir.PathOf("station.log");
  const std::string link = dir.PathOf("pager-line");
  StartPagers({{"--link", link, "--pace"}});
  const FlashRun run = FlashActingAt(
      {"--station", "-b", "2400", "-p", link, "--count", "1", "--log", log, file}, "#1 connected",
      [&](pid_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        pagers[0]->Kill();
        // Back once the bench has found it gone; the next pager
        // comes once it has seen the cable empty.
        for (int i = 0;
             i < 500 && ReadAll(err_path).find(" cannot be opened: ") == std::string::npos; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        StartPagers({BenchOf(1, 0, {"--link", link, "--attach-after", "5000"})});
      });
  EXPECT_TRUE(pagers[1]->Stop());  // the first was killed
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, 10) << run.err;  // the first failure: the port lost
  EXPECT_NE(run.err.find("#1 failed, port-lost"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("#2 finished: Firmware updated finished."), std::string::npos) << run.err;
  EXPECT_EQ(Count(run.err, " finished: "), 1) << run.err;
  EXPECT_NE(run.err.find(link + " cannot be opened: Can NOT Open"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(link + " can be opened again"), std::string::npos) << run.err;
  std::set<int> numbers;
  EXPECT_EQ(LoggedPagers(log, &numbers), (std::multiset<std::string>{"port-lost", "finished"}));
  EXPECT_EQ(pagers[1]->ProgrammedImage(), ImageOfHex(hex));
}

// Engineering's keys, made with openssl as the manual says, and a job
// made by the program and signed with them.
class JobCli : public FlashCli {
 protected:
  JobCli() {
    ::setenv("TARVEX_STATE_DIR", dir.PathOf("state").c_str(), 1);
    Openssl("ecparam -name prime256v1 -genkey -noout -out " + key);
    Openssl("ec -in " + key + " -pubout -out " + pub);
  }
  ~JobCli() override { ::unsetenv("TARVEX_STATE_DIR"); }

  void Openssl(const std::string& args) {
    ASSERT_EQ(std::system(("openssl " + args + " 2>/dev/null").c_str()), 0) << args;
  }
  // Makes and signs a job for `file`; `more` for --make-job.
  std::string SignedJob(const std::string& file, int quota, Texts more = {}) {
    const std::string job = dir.PathOf("job" + std::to_string(++jobs_) + ".json");
    Texts args = {"--make-job", job, "--quota", std::to_string(quota)};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(file);
    const FlashRun made = Flash(args);
    EXPECT_EQ(made.exit_code, 0) << made.err;
    Openssl("dgst -sha256 -sign " + key + " -out " + job + ".sig " + job);
    return job;
  }
  Texts UnderJob(const std::string& job, Texts args) {
    args.insert(args.begin(), {"--job", job, "--job-key", pub});
    return args;
  }
  static int Erases(const PagerProcess& pager) {
    const Texts info = pager.Events("INFO");
    return static_cast<int>(std::count(info.begin(), info.end(), "erase"));
  }

  const std::string key = dir.PathOf("eng-key.pem");
  const std::string pub = dir.PathOf("eng-pub.pem");

 private:
  int jobs_ = 0;
};

std::string TodayText() {
  const std::time_t now = std::time(nullptr);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", std::gmtime(&now));
  return text;
}

// A good job is taken; one edited, for another file, unsigned or expired is
// refused before any port opens: not one byte goes to the pager.
TEST_F(JobCli, OnlyAnUnchangedSignedJobForItsFileInTimeIsTaken) {
  const std::string hex = FirmwareText(12);
  const std::string file = dir.Write("fw.hex", hex);
  const std::string job = SignedJob(file, 3, {"--expires", TodayText(), "-b", "9600"});
  const Texts lines = StartPagers({{}, {}});
  EXPECT_EQ(Flash(UnderJob(job, {"--check", file})).exit_code, 0);
  // One data byte changed, the file still sound.
  std::vector<std::uint8_t> bytes = Bytes(16, 3);
  const std::string record = HexRecordText(48, 0, bytes);
  bytes[5] ^= 1;
  std::string changed = hex;
  changed.replace(changed.find(record), record.size(), HexRecordText(48, 0, bytes));
  const std::string other = dir.Write("other.hex", changed);
  const std::string unsigned_job = dir.Write("unsigned.json", ReadAll(job));
  std::string edited = ReadAll(job);
  edited.replace(edited.find("\"quota\": 3"), 10, "\"quota\": 9");
  const std::string edited_job = dir.Write("edited.json", edited);
  std::filesystem::copy_file(job + ".sig", edited_job + ".sig");
  for (const Texts& args :
       {UnderJob(edited_job, {"-p", lines[0], file}), UnderJob(job, {"-p", lines[0], other}),
        UnderJob(unsigned_job, {"-p", lines[0], file})}) {
    const FlashRun refused = Flash(args);
    EXPECT_EQ(refused.exit_code, 12) << refused.err;
    EXPECT_NE(refused.err.find("job refused: "), std::string::npos) << refused.err;
  }
  run_under = {"faketime", "-f", "+3d"};
  const FlashRun late = Flash(UnderJob(job, {"-p", lines[0], file}));
  EXPECT_EQ(late.exit_code, 12) << late.err;
  EXPECT_NE(late.err.find(" expired at the end of " + TodayText()), std::string::npos) << late.err;
  run_under.clear();
  // -b that disagrees with the job is bad usage.
  EXPECT_EQ(Flash(UnderJob(job, {"-p", lines[0], "-b", "2400", file})).exit_code, 2);
  // The one taken: its summary says what the job has left.
  const FlashRun taken = Flash(UnderJob(job, {"--json", "-p", lines[1], file}));
  StopPagers();
  EXPECT_EQ(pagers[0]->Commands(), Texts{});
  EXPECT_EQ(taken.exit_code, 0) << taken.err;
  const Texts events = Lines(taken.out);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(nlohmann::json::parse(events.back()).at("quota_left"), 2) << taken.out;
}

// Four ports with two pagers each under a job of three: exactly three are
// flashed and the bench ends; run again, it flashes nothing.
TEST_F(JobCli, AStationFlashesNoMoreThanTheQuota) {
  const std::string file = dir.Write("fw.hex", FirmwareText(12));
  const std::string job = SignedJob(file, 3, {"--job-name", "line3"});
  const std::string log = dir.PathOf("station.log");
  const Texts lines =
      StartPagers({BenchOf(2, 300), BenchOf(2, 300), BenchOf(2, 300), BenchOf(2, 300)});
  Texts station = {"--station"};
  for (const std::string& line : lines) station.insert(station.end(), {"-p", line});
  station.insert(station.end(), {"--log", log, file});
  Texts as_json = station;
  as_json.insert(as_json.begin(), "--json");
  const FlashRun first = Flash(UnderJob(job, as_json));
  const FlashRun again = Flash(UnderJob(job, station));
  StopPagers();
  EXPECT_EQ(first.exit_code, 0) << first.err;
  const Texts events = Lines(first.out);
  ASSERT_FALSE(events.empty());
  EXPECT_NE(first.out.find("quota reached: 3 of 3"), std::string::npos) << first.out;
  const auto summary = nlohmann::json::parse(events.back());
  EXPECT_EQ(summary.at("job"), "line3");
  EXPECT_EQ(summary.at("quota_left"), 0);
  int erases = 0;
  for (const auto& pager : pagers) erases += Erases(*pager);
  EXPECT_EQ(erases, 3);
  EXPECT_EQ(again.exit_code, 12) << again.err;
  const Texts logged = Lines(ReadAll(log));
  ASSERT_EQ(logged.size(), 3u);
  std::set<int> left;
  for (const std::string& line : logged) {
    const auto record = nlohmann::json::parse(line);
    EXPECT_EQ(record.at("job"), "line3");
    EXPECT_EQ(record.at("job_sha256"), Sha256Hex(ReadAll(job)));
    left.insert(record.at("quota_left").get<int>());
  }
  EXPECT_EQ(*left.begin(), 0);
}

// Killed outright during the second pager of a job of two: that pager may
// have been flashed, so a restart takes none.
TEST_F(JobCli, APagerInFlightAtAKillStaysCounted) {
  const std::string file = dir.Write("fw.hex", FirmwareText(40));
  const std::string job = SignedJob(file, 2, {"-b", "9600"});
  const Texts lines = StartPagers({BenchOf(3, 300, {"--pace"})});
  const Texts station = UnderJob(job, {"--station", "-p", lines[0], file});
  const FlashRun killed = FlashActingAt(station, "#2 connected", [](pid_t pid) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGKILL);
  });
  const FlashRun restarted = Flash(station);
  StopPagers();
  EXPECT_EQ(killed.exit_code, -1);
  EXPECT_EQ(restarted.exit_code, 12) << restarted.err;
  EXPECT_LE(Erases(*pagers[0]), 2);
}

// A port whose pagers all refuse programming takes no fourth after three
// failures; the other port goes on.
TEST_F(FlashCli, APortFailingThreeInARowIsSetAside) {
  const std::string file = dir.Write("fw.hex", FirmwareText(12));
  const Texts lines = StartPagers(
      {BenchOf(4, 0, {"--nak-program", "1000"}), BenchOf(2, 0, {"--attach-after", "5000"})});
  const FlashRun run = FlashActingAt({"--station", "-p", lines[0], "-p", lines[1], file},
                                     "finished: ", [](pid_t pid) {
                                       // The fourth pager has been on the first cable a while by
                                       // now.
                                       std::this_thread::sleep_for(std::chrono::milliseconds(3000));
                                       ::kill(pid, SIGINT);
                                     });
  StopPagers();
  EXPECT_NE(run.err.find(lines[0] + " set aside: 3 failed in a row, check the cable"),
            std::string::npos)
      << run.err;
  const Texts info = pagers[0]->Events("INFO");
  // Three pagers, four erases each: the transfer restarted three times.
  EXPECT_EQ(std::count(info.begin(), info.end(), "erase"), 12);
  EXPECT_EQ(std::count(info.begin(), info.end(), "flash mode"), 3);
  EXPECT_GE(Count(run.err, " finished: "), 1) << run.err;
}

}  // namespace
