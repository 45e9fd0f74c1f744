// tarvex-flash as a user runs it: the program as a child process, the pager
// emulators as child processes on pseudo-terminals. These run in real time.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

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
};

class FlashCli : public ::testing::Test {
 protected:
  FlashCli() { ::setenv("TMPDIR", tmp.path().c_str(), 1); }
  ~FlashCli() override { ::unsetenv("TMPDIR"); }

  // Starts one emulator per option list; returns their lines in that order.
  Texts StartPagers(const std::vector<Texts>& options) {
    Texts lines;
    for (std::size_t i = 0; i < options.size(); ++i) {
      const auto sub = dir.path() / ("pager" + std::to_string(i));
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

  // Runs tarvex-flash with `args`; once its stderr holds `when`, calls `act`
  // with its pid (by default, sends it SIGINT).
  FlashRun Flash(
      const Texts& args, const std::string& when = "",
      const std::function<void(pid_t)>& act = [](pid_t pid) { ::kill(pid, SIGINT); }) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
      ::dup2(::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      std::vector<std::string> argv_text = {TARVEX_FLASH_PATH};
      argv_text.insert(argv_text.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& arg : argv_text) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    if (!when.empty()) {
      while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (ReadAll(err_path).find(when) != std::string::npos) {
          act(pid);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out_path), ReadAll(err_path)};
  }

  bool TmpIsEmpty() const { return std::filesystem::is_empty(tmp.path()); }

  TempDir dir;
  TempDir tmp;
  const std::string out_path = dir.PathOf("flash.out");
  const std::string err_path = dir.PathOf("flash.err");
  std::vector<std::unique_ptr<PagerProcess>> pagers;
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
  const Texts summary = Lines(run.out);
  ASSERT_EQ(summary.size(), 5u) << run.out;
  EXPECT_NE(summary[1].find("finished"), std::string::npos);
  EXPECT_NE(summary[2].find("rewinds-exceeded"), std::string::npos);
  EXPECT_NE(summary[3].find("no-response"), std::string::npos);
  EXPECT_NE(summary[3].find("No response from the pager"), std::string::npos);
  EXPECT_NE(summary[4].find("finished"), std::string::npos);
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
  EXPECT_EQ(Flash({"--check", bad}).exit_code, 3);
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
  const FlashRun run = Flash({"-p", lines[0], "-b", "2400", "--log", log, file}, " 10%");
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
  const FlashRun run = Flash(
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
  EXPECT_NE(unlogged.err.find("cannot append to the log"), std::string::npos) << unlogged.err;
  EXPECT_EQ(unlogged.err.find("Can NOT Open"), std::string::npos) << unlogged.err;
}

}  // namespace
