// The per-pager runner and a bench port's loop against pagers on a virtual
// line, on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/PortList.h"
#include "station/CountPlaces.h"
#include "station/ExitCode.h"
#include "station/JobQuota.h"
#include "station/PagerRunner.h"
#include "station/Station.h"
#include "station/TraceLog.h"
#include "tests/support/ComPorts.h"
#include "tests/support/HexText.h"
#include "tests/support/PagerJobs.h"
#include "tests/support/ScriptedPager.h"
#include "tests/support/VirtualClock.h"

namespace {

using Texts = std::vector<std::string>;

// Pagers on a virtual line, one after another, each a loader as far as the
// bench needs: connected `gap_ms` after the one before it left (the first
// after the start), it answers until `linger_ms` after the "q" that took it
// out of flash mode; in idle it refuses all but "f". It hears only what is
// sent at the rate it listens at.
struct BenchPager {
  std::uint32_t gap_ms = 0;
  bool refuses_flash = false;
  bool refuses_program = false;
  // The "q" probes it hears in idle whose replies are lost on the line,
  // counted from 1.
  std::set<int> lost_quits;
  // Filled in as it goes.
  std::uint32_t attach_ms = 0;
  std::int32_t rate = 1200;
  bool flash_mode = false;
  int idle_quits = 0;
  std::optional<std::uint32_t> leave_ms;
  std::vector<std::string> commands;
};

BenchPager After(std::uint32_t gap_ms) {
  BenchPager pager;
  pager.gap_ms = gap_ms;
  return pager;
}

class VirtualBench {
 public:
  VirtualBench(ScriptedPager& line, std::vector<BenchPager> pagers, std::uint32_t linger_ms,
               std::uint32_t start_ms)
      : pagers_(std::move(pagers)), linger_ms_(linger_ms) {
    line.respond = [this](const SentCommand& command, int) { return Answer(command); };
    Attach(0, start_ms);
  }

  // Commands a pager received.
  int Count(std::size_t pager, const std::string& command) const {
    const auto& seen = pagers_[pager].commands;
    return static_cast<int>(std::count(seen.begin(), seen.end(), command));
  }
  const BenchPager& Pager(std::size_t index) const { return pagers_[index]; }
  std::function<void(const SentCommand&)> on_command;
  // Replies held by an adapter's latency timer this long: each delivered at
  // its next tick (0: at once).
  std::uint32_t timer_ms = 0;

 private:
  void Attach(std::size_t index, std::uint32_t free_since) {
    if (index >= pagers_.size()) return;
    pagers_[index].attach_ms = free_since + pagers_[index].gap_ms;
  }

  BenchPager* OnLine(std::uint32_t now) {
    while (current_ < pagers_.size() && pagers_[current_].leave_ms &&
           now >= *pagers_[current_].leave_ms) {
      const std::uint32_t left = *pagers_[current_].leave_ms;
      Attach(++current_, left);
    }
    if (current_ == pagers_.size() || now < pagers_[current_].attach_ms) return nullptr;
    return &pagers_[current_];
  }

  PagerReply Answer(const SentCommand& command) {
    if (on_command) on_command(command);
    PagerReply reply = Reply(command);
    if (timer_ms > 0) reply.delay_ms = (timer_ms - command.at_ms % timer_ms) % timer_ms;
    return reply;
  }

  PagerReply Reply(const SentCommand& command) {
    BenchPager* pager = OnLine(command.at_ms);
    if (pager == nullptr || static_cast<std::int32_t>(command.rate) != pager->rate) {
      return PagerReply::Silence();
    }
    pager->commands.push_back(command.bytes);
    // Taken off `linger_ms` after its update's "q".
    if (command.bytes == "q" && Count(current_, "f") > 0 && !pager->leave_ms) {
      pager->leave_ms = command.at_ms + linger_ms_;
    }
    if (command.bytes == "f" && !pager->refuses_flash) {
      pager->flash_mode = true;
      return PagerReply::Ack();
    }
    if (!pager->flash_mode) {
      const bool lost = command.bytes == "q" && pager->lost_quits.count(++pager->idle_quits) > 0;
      return lost ? PagerReply::Silence() : PagerReply::Nak();
    }
    if (command.bytes == "q") {
      pager->flash_mode = false;
      pager->rate = 1200;
    }
    if (command.bytes.front() == 'b') pager->rate = 9600;
    if (command.bytes == "p" && pager->refuses_program) return PagerReply::Nak();
    return PagerReply::Ack();
  }

  std::vector<BenchPager> pagers_;
  std::uint32_t linger_ms_;
  std::size_t current_ = 0;
};

// One pager's update as every face runs it: what the result says of how it
// ended and how fast its line went.
struct RunnerCase {
  const char* name;
  // The pager is stopped once it has been sent this command (empty: never).
  std::string stop_at;
  std::uint32_t reply_ms;
  const char* message;
  double efficiency;
};

void PrintTo(const RunnerCase& c, std::ostream* out) { *out << c.name; }

class Runner : public ::testing::TestWithParam<RunnerCase> {};

TEST_P(Runner, TellsHowThePagerEndedAndHowFastItsLineWent) {
  const RunnerCase& c = GetParam();
  VirtualClock clock{1000};
  ScriptedPager line{clock};
  std::atomic<bool> stop{false};
  line.respond = [&](const SentCommand& command, int) {
    if (command.bytes == c.stop_at) stop.store(true);
    return PagerReply::Ack(c.reply_ms);
  };
  const PagerJob job = TwoRecordJob(line);
  struct Silent final : IPagerListener {
    void OnStart(const PagerJob&) override {}
    void OnProgress(std::size_t, const PortProgress&) override {}
    void OnMessage(std::size_t, const std::string&, UpdateOutcome) override {}
    void OnEnd(std::size_t, const PortResult&) override {}
    void OnNote(const std::string&) override {}
  } listener;
  const PortResult result = RunPager(job, listener, stop, clock);
  EXPECT_EQ(result.message, c.message);
  EXPECT_DOUBLE_EQ(result.line_efficiency, c.efficiency);
}

INSTANTIATE_TEST_SUITE_P(
    Pagers, Runner,
    ::testing::Values(
        // Replies faster than the line carries them: no real line does that.
        RunnerCase{"FasterThanTheLine", "", 1, "Firmware updated finished.", 1.0},
        RunnerCase{"StoppedBeforeTheErase", "b96006A", 0,
                   "Interrupted. The pager's firmware was not touched.", 0.0},
        RunnerCase{"StoppedAfterTheErase", "e0", 0,
                   "Interrupted. The pager's flash was erased: flash it again.", 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

// What a face hears of one update: its last progress.
struct LastProgress final : IPagerListener {
  void OnStart(const PagerJob&) override {}
  void OnProgress(std::size_t, const PortProgress& progress) override { last = progress; }
  void OnMessage(std::size_t, const std::string&, UpdateOutcome) override {}
  void OnEnd(std::size_t, const PortResult&) override {}
  void OnNote(const std::string&) override {}
  PortProgress last;
};

// The transfer's own time runs from its first record, so the speed shown is
// the transfer's, not the whole update's.
TEST(RunnerClock, TheTransferIsTimedFromItsFirstRecord) {
  VirtualClock clock{1000};
  ScriptedPager line{clock};
  std::uint32_t first_record_at = 0;
  line.respond = [&](const SentCommand& command, int) {
    if (command.bytes.front() == 's' && first_record_at == 0) first_record_at = command.at_ms;
    return PagerReply::Ack(10);
  };
  LastProgress listener;
  std::atomic<bool> stop{false};
  RunPager(TwoRecordJob(line), listener, stop, clock);
  ASSERT_GT(first_record_at, 1000u);
  EXPECT_GT(listener.last.transfer_seconds, 0.0);
  EXPECT_NEAR(listener.last.seconds - listener.last.transfer_seconds,
              (first_record_at - 1000) / 1000.0, 1e-9);
}

// The one-shot and the gang: a pager that never acknowledges the exit
// command is asked again at its rate and at the start rate; one that still
// does not is said to be maybe in its loader, its exit code as it was.
struct AskAgainCase {
  const char* name;
  // How many of the "q" at 9600 bit/s go unanswered before one is ACKed.
  int unanswered;
  bool may_be_in_loader;
  Texts last_commands;
};

void PrintTo(const AskAgainCase& c, std::ostream* out) { *out << c.name; }

class AskAgain : public ::testing::TestWithParam<AskAgainCase> {};

TEST_P(AskAgain, APagerThatDidNotLeaveItsLoaderIsAskedAgainOrSaidToBeInIt) {
  const AskAgainCase& c = GetParam();
  VirtualClock clock{1000};
  ScriptedPager line{clock};
  int quits = 0;
  line.respond = [&](const SentCommand& command, int) {
    if (command.bytes != "q") return PagerReply::Ack();
    if (command.rate != 9600 || ++quits <= c.unanswered) return PagerReply::Silence();
    return PagerReply::Ack();
  };
  PagerJob job = TwoRecordJob(line);
  job.asks_again_to_leave = true;
  LastProgress listener;
  std::atomic<bool> stop{false};
  const PortResult result = RunPager(job, listener, stop, clock);
  EXPECT_EQ(result.code, ExitCode::kFinished);
  EXPECT_EQ(result.may_be_in_loader, c.may_be_in_loader);
  const std::string said = "\nThe pager did not confirm leaving its loader";
  EXPECT_EQ(result.message.find(said) != std::string::npos, c.may_be_in_loader) << result.message;
  const Texts commands = line.CommandTexts();
  ASSERT_GE(commands.size(), c.last_commands.size());
  EXPECT_EQ(
      Texts(commands.end() - static_cast<std::ptrdiff_t>(c.last_commands.size()), commands.end()),
      c.last_commands);
  EXPECT_EQ(line.commands.back().rate, c.may_be_in_loader ? 1200u : 9600u);
}

INSTANTIATE_TEST_SUITE_P(
    Pagers, AskAgain,
    ::testing::Values(AskAgainCase{"LeavesWhenAskedAgain", 1, false, {"p", "q", "q"}},
                      AskAgainCase{"NeverConfirms", 3, true, {"p", "q", "q", "q"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A run's places for a --count: taken while those finished and those in
// flight are fewer than the count; a failure frees its place.
struct PlacesCase {
  const char* name;
  int count;
  // R: reserve, F: release a finished pager's, X: release a failed one's.
  std::string steps;
  // What each R got.
  std::string reserved;
  bool used_up;
};

void PrintTo(const PlacesCase& c, std::ostream* out) { *out << c.name; }

class Places : public ::testing::TestWithParam<PlacesCase> {};

TEST_P(Places, AreTakenOnlyWhileFinishedAndInFlightAreFewerThanTheCount) {
  const PlacesCase& c = GetParam();
  CountPlaces places(c.count);
  std::string reserved;
  for (const char step : c.steps) {
    if (step == 'R') reserved += places.Reserve() ? '1' : '0';
    if (step == 'F' || step == 'X') places.Release(step == 'F');
  }
  EXPECT_EQ(reserved, c.reserved);
  EXPECT_EQ(places.UsedUp(), c.used_up);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, Places,
    ::testing::Values(PlacesCase{"InFlightHoldTheirPlaces", 2, "RRR", "110", false},
                      PlacesCase{"AFailureFreesItsPlace", 2, "RRXR", "111", false},
                      PlacesCase{"FinishedOnesUseThemUp", 2, "RFRFR", "110", true},
                      PlacesCase{"OneLeftAfterAFinishedOne", 2, "RFRXR", "111", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Told from the port's thread, and notes from its log's.
class RecordingStation final : public IStationListener {
 public:
  void OnRow(std::size_t, const StationRow& row) override {
    std::lock_guard lock(mutex);
    if (states.empty() || states.back() != PortStateWords(row))
      states.push_back(PortStateWords(row));
  }
  void OnEvent(const StationEvent& event) override {
    std::unique_lock lock(mutex);
    std::string text =
        std::string(StationEventName(event.kind)) + " #" + std::to_string(event.number);
    if (event.kind == StationEventKind::kFinished || event.kind == StationEventKind::kFailed) {
      text += " " + std::string(OutcomeName(event.result.code));
    }
    events.push_back(text);
    messages.push_back(event.message);
    lock.unlock();
    if (on_event) on_event(event);
  }
  void OnNote(const std::string& text) override {
    std::lock_guard lock(mutex);
    notes.push_back(text);
  }

  std::mutex mutex;
  std::vector<std::string> states;
  std::vector<std::string> events;
  std::vector<std::string> messages;
  std::vector<std::string> notes;
  std::function<void(const StationEvent&)> on_event;
};

// One bench port on COM7 at 9600 bit/s, on virtual time from 1000 ms.
class StationLoop : public ::testing::Test {
 protected:
  StationLoop() {
    setup.job = TwoRecordJob(line, 4);
    setup.given = "COM7";
  }

  void Prepare(int count, std::vector<BenchPager> pagers, std::uint32_t linger_ms) {
    bench = std::make_unique<VirtualBench>(line, std::move(pagers), linger_ms, clock.Now());
    bench->on_command = [this](const SentCommand& command) {
      if (command.at_ms > stop_at_ms) interrupt.store(true);
    };
    tally = std::make_unique<StationTally>();
    count_places = std::make_unique<CountPlaces>(count);
    places.clear();
    if (count > 0) places.push_back(count_places.get());
  }

  // Runs the loop until it stops by itself, or gives up an hour into
  // virtual time.
  StationRow Go() {
    StationShared shared{*tally, listener, interrupt, log.get(), "T", clock, false};
    shared.places = places;
    shared.set_aside_after = set_aside_after;
    shared.resumes = &resumes;
    end = RunStationPort(setup, shared);
    return end.row;
  }

  StationRow Run(int count, std::vector<BenchPager> pagers, std::uint32_t linger_ms) {
    Prepare(count, std::move(pagers), linger_ms);
    return Go();
  }

  // When each command `bytes` went out.
  std::vector<std::uint32_t> TimesOf(const std::string& bytes) const {
    std::vector<std::uint32_t> times;
    for (const SentCommand& command : line.commands) {
      if (command.bytes == bytes) times.push_back(command.at_ms);
    }
    return times;
  }

  static constexpr std::uint32_t kGiveUpMs = 3600000;
  // The loop is stopped at the first command after this.
  std::uint32_t stop_at_ms = kGiveUpMs;
  int set_aside_after = kDefaultSetAsideAfter;
  PortResumes resumes{1};
  VirtualClock clock{1000};
  ScriptedPager line{clock};
  StationPortSetup setup;
  RecordingStation listener;
  std::atomic<bool> interrupt{false};
  std::unique_ptr<TraceLog> log;
  std::unique_ptr<StationTally> tally;
  std::unique_ptr<CountPlaces> count_places;
  std::vector<IPagerPlaces*> places;
  std::unique_ptr<VirtualBench> bench;
  PortEnd end;
};

// Bench runs on one port: the pagers as they come, what the bench tells,
// and how often each is flashed ("e0").
struct BenchCase {
  const char* name;
  int count;
  std::vector<BenchPager> pagers;
  std::uint32_t linger_ms;
  Texts events;
  std::vector<int> erases;
  ExitCode code;
  // The adapter's latency timer (VirtualBench::timer_ms).
  std::uint32_t timer_ms = 0;
  int set_aside_after = kDefaultSetAsideAfter;
};

void PrintTo(const BenchCase& c, std::ostream* out) { *out << c.name; }

class BenchRuns : public StationLoop, public ::testing::WithParamInterface<BenchCase> {};

TEST_P(BenchRuns, FlashEachPagerOnceAndWaitForItToGo) {
  const BenchCase& c = GetParam();
  set_aside_after = c.set_aside_after;
  // A port set aside never ends the run by itself: it is given half a
  // minute to take a pager it should not.
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kSetAside) stop_at_ms = clock.Now() + 30000;
  };
  Prepare(c.count, c.pagers, c.linger_ms);
  bench->timer_ms = c.timer_ms;
  const StationRow row = Go();
  EXPECT_EQ(listener.events, c.events);
  for (std::size_t i = 0; i < c.erases.size(); ++i) {
    EXPECT_EQ(bench->Count(i, "e0"), c.erases[i]) << "pager " << i;
  }
  EXPECT_EQ(tally->Code(false), c.code);
  const auto ended = std::count_if(c.events.begin(), c.events.end(), [](const std::string& event) {
    return event.starts_with("finished") || event.starts_with("failed");
  });
  EXPECT_EQ(row.finished + row.failed, ended);
  EXPECT_EQ(listener.states.back(), "stopped");
  EXPECT_EQ(line.open_devices, 0);
}

BenchPager Refusing(std::uint32_t gap_ms, bool flash, bool program) {
  BenchPager pager = After(gap_ms);
  pager.refuses_flash = flash;
  pager.refuses_program = program;
  return pager;
}

// `count` numbers from `first` on.
std::set<int> Numbered(int first, int count) {
  std::set<int> numbers;
  for (int i = first; i < first + count; ++i) numbers.insert(i);
  return numbers;
}

BenchPager Losing(std::uint32_t gap_ms, std::set<int> lost_quits) {
  BenchPager pager = After(gap_ms);
  pager.lost_quits = std::move(lost_quits);
  return pager;
}

const Texts kTwoFinished = {"connected #1", "finished #1 finished", "removed #1", "connected #2",
                            "finished #2 finished"};

INSTANTIATE_TEST_SUITE_P(
    Pagers, BenchRuns,
    ::testing::Values(
        // Swapped with the cable empty for 0.4 s, the shortest a bench takes.
        BenchCase{"SwappedIn400Ms",
                  2,
                  {After(2501), After(400)},
                  2000,
                  kTwoFinished,
                  {1, 1},
                  ExitCode::kFinished,
                  0},
        // Lingering with a probe reply lost now and then, never two in a row.
        BenchCase{"LingeringLosesRepliesNotInARow",
                  2,
                  {Losing(0, {2, 4, 6}), After(3000)},
                  3000,
                  kTwoFinished,
                  {1, 1},
                  ExitCode::kFinished,
                  0},
        BenchCase{"RefusesProgram",
                  1,
                  {Refusing(0, false, true), After(1000)},
                  0,
                  {"connected #1", "failed #1 rewinds-exceeded", "removed #1", "connected #2",
                   "finished #2 finished"},
                  {4, 1},
                  ExitCode::kRewindsExceeded,
                  0},
        // A loader that will not enter flash mode is a failed pager, waited
        // out like any other.
        BenchCase{"RefusesF",
                  1,
                  {Refusing(0, true, false), After(1000)},
                  500,
                  {"connected #1", "failed #1 refused", "removed #1", "connected #2",
                   "finished #2 finished"},
                  {0, 1},
                  ExitCode::kRefused,
                  0},
        // A lingering pager that loses one reply short of the removal
        // rule in a row is still there.
        BenchCase{"LingeringLoses17RepliesInARow",
                  2,
                  {Losing(0, Numbered(5, 17)), After(3000)},
                  3000,
                  kTwoFinished,
                  {1, 1},
                  ExitCode::kFinished,
                  0},
        // Behind the longest latency timer there is: each pager seen, flashed
        // and its removal seen once, a late reply never taken for another's.
        BenchCase{"Behind255MsTimer",
                  2,
                  {After(2501), After(1000)},
                  3000,
                  kTwoFinished,
                  {1, 1},
                  ExitCode::kFinished,
                  255},
        BenchCase{"Behind100MsTimerSwappedIn800Ms",
                  2,
                  {After(0), After(800)},
                  3000,
                  kTwoFinished,
                  {1, 1},
                  ExitCode::kFinished,
                  100},
        // A port whose pagers all refuse programming takes no fourth.
        BenchCase{"SetAsideAfterThreeFailedInARow",
                  0,
                  {Refusing(0, false, true), Refusing(500, false, true), Refusing(500, false, true),
                   After(500)},
                  0,
                  {"connected #1", "failed #1 rewinds-exceeded", "removed #1", "connected #2",
                   "failed #2 rewinds-exceeded", "removed #2", "connected #3",
                   "failed #3 rewinds-exceeded", "set-aside #0", "removed #3"},
                  {4, 4, 4, 0},
                  ExitCode::kRewindsExceeded},
        BenchCase{
            "NeverSetAsideWithZero",
            1,
            {Refusing(0, false, true), Refusing(500, false, true), Refusing(500, false, true),
             After(500)},
            0,
            {"connected #1", "failed #1 rewinds-exceeded", "removed #1", "connected #2",
             "failed #2 rewinds-exceeded", "removed #2", "connected #3",
             "failed #3 rewinds-exceeded", "removed #3", "connected #4", "finished #4 finished"},
            {4, 4, 4, 1},
            ExitCode::kRewindsExceeded,
            0,
            0},
        // Only failures one after another tell of the port.
        BenchCase{
            "AFinishedPagerStartsTheCountAgain",
            2,
            {Refusing(0, false, true), Refusing(500, false, true), After(500),
             Refusing(500, false, true), Refusing(500, false, true), After(500)},
            0,
            {"connected #1", "failed #1 rewinds-exceeded", "removed #1", "connected #2",
             "failed #2 rewinds-exceeded", "removed #2", "connected #3", "finished #3 finished",
             "removed #3", "connected #4", "failed #4 rewinds-exceeded", "removed #4",
             "connected #5", "failed #5 rewinds-exceeded", "removed #5", "connected #6",
             "finished #6 finished"},
            {4, 4, 1, 4, 4, 1},
            ExitCode::kRewindsExceeded}),
    [](const auto& info) { return std::string(info.param.name); });

// A pager is seen by the first probe after it is connected. It is taken
// for gone only once the replies of eighteen probes in a row, 17 ms apart,
// failed to come; yet soon enough for a swap of 0.4 s.
TEST_F(StationLoop, APagerIsSeenAtOnceAndGoneOnlyAfterEighteenUnansweredProbes) {
  std::vector<std::uint32_t> removed_at;
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) removed_at.push_back(clock.Now());
  };
  Run(2, {After(2537), After(400)}, 2000);
  const std::vector<std::uint32_t> flashes = TimesOf("f");
  ASSERT_EQ(flashes.size(), 2u);
  // Once its turnaround is known, a probe waits 60 ms and they start 80 ms
  // apart: the next pager is flashed within both of those.
  EXPECT_LE(flashes[1] - bench->Pager(1).attach_ms, 80u + 60u);
  ASSERT_EQ(removed_at.size(), 1u);
  const std::uint32_t left = *bench->Pager(0).leave_ms;
  EXPECT_LT(removed_at[0] - left, 400u);
  int unanswered = 0;
  for (const SentCommand& command : line.commands) {
    if (command.bytes == "q" && command.at_ms >= left && command.at_ms < removed_at[0]) {
      ++unanswered;
    }
  }
  EXPECT_GE(unanswered, 18);
}

// The exit command at 9600 bit/s goes unanswered, so the pager may still be
// in flash mode there: it is asked to leave at that rate too.
TEST_F(StationLoop, ThePagerIsAskedToLeaveAtTheRateItWasLastToldToo) {
  Prepare(0, {After(0)}, 1000);
  bool exit_lost = false;
  line.respond = [&, bench_answer = line.respond](const SentCommand& command, int index) {
    if (command.bytes == "q" && command.rate == 9600 && !std::exchange(exit_lost, true)) {
      return PagerReply::Silence();
    }
    return bench_answer(command, index);
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) interrupt.store(true);
  };
  Go();
  std::vector<std::uint32_t> rates;
  for (const SentCommand& command : line.commands) {
    if (command.bytes == "q" && command.at_ms > TimesOf("e0").at(0)) rates.push_back(command.rate);
  }
  // The update's own exit, then a round at 9600 and 1200, then 1200 alone.
  ASSERT_GE(rates.size(), 4u);
  EXPECT_EQ(rates[0], 9600u);
  EXPECT_EQ(rates[1], 9600u);
  EXPECT_EQ(rates.back(), 1200u);
  EXPECT_EQ(bench->Count(0, "e0"), 1);
}

// Stopped while that pager still waits on the cable: it is asked once more.
TEST_F(StationLoop, AStopAsksAPagerStillInFlashModeToLeaveIt) {
  Prepare(0, {After(0)}, 1000);
  line.respond = [bench_answer = line.respond](const SentCommand& command, int index) {
    if (command.bytes == "q" && command.rate == 9600) return PagerReply::Silence();
    return bench_answer(command, index);
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kFinished) interrupt.store(true);
  };
  Go();
  const auto exits =
      std::count_if(line.commands.begin(), line.commands.end(),
                    [](const SentCommand& c) { return c.bytes == "q" && c.rate == 9600; });
  EXPECT_EQ(exits, 2);  // the update's own, and the one at the stop
  EXPECT_EQ(line.commands.back().bytes, "q");
}

// Stopped just as the pager is taken off in the middle of its transfer:
// every wait is cut to what the port's turnaround allows, the pager is told
// to leave at its rate and at the start rate, and the loop ends within two
// seconds.
TEST_F(StationLoop, AStopEndsThePortWithinTwoSecondsWhateverThePagerDoes) {
  Prepare(0, {After(0)}, 0);
  std::optional<std::uint32_t> stopped_at;
  line.respond = [&, bench_answer = line.respond](const SentCommand& command, int index) {
    if (command.bytes.front() == 's' && !stopped_at) {
      stopped_at = command.at_ms;
      interrupt.store(true);
    }
    return stopped_at ? PagerReply::Silence() : bench_answer(command, index);
  };
  Go();
  ASSERT_TRUE(stopped_at.has_value());
  EXPECT_LE(clock.Now() - *stopped_at, 2000u);
  std::vector<std::uint32_t> rates;
  for (const SentCommand& command : line.commands) {
    if (command.at_ms >= *stopped_at && command.bytes == "q") rates.push_back(command.rate);
  }
  EXPECT_EQ(rates, (std::vector<std::uint32_t>{9600, 9600, 1200}));
}

TEST_F(StationLoop, APulledAdapterIsToldOnceTriedAgainAndTheLoopGoesOn) {
  // Pulled at the start and again while the flashed pager is still on it.
  std::vector<std::uint32_t> refused;
  line.unplugged = [&] {
    const std::uint32_t now = clock.Now();
    const bool out = now < 8000 || (now >= 14000 && now < 20000);
    if (out && (refused.empty() || refused.back() != now)) refused.push_back(now);
    return out;
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) interrupt.store(true);
  };
  Run(0, {After(1000)}, 8000);
  EXPECT_EQ(listener.events,
            (std::vector<std::string>{"port-lost #0", "port-back #0", "connected #1",
                                      "finished #1 finished", "port-lost #0", "port-back #0",
                                      "removed #1"}));
  EXPECT_EQ(listener.messages[0], "Can NOT Open \"COM7\"\nThe port does not exist.");
  ASSERT_GE(refused.size(), 2u);
  EXPECT_EQ(refused[1] - refused[0], kReopenSpacingMs);
  EXPECT_EQ(bench->Count(0, "e0"), 1);
  EXPECT_EQ(listener.states.back(), "stopped");
}

// An adapter named by its serial number, plugged in after the start and
// again under another name after a loss, is opened by the name it has now.
TEST_F(StationLoop, AnAdapterNamedBySerialIsOpenedUnderTheNameItHasNow) {
  setup.given = "serial=FT12AB34";
  setup.job.port.clear();
  setup.job.adapter_serial = "FT12AB34";
  // Plugged in as COM8 three seconds after the start; after the first
  // pager, pulled out and plugged in again as COM9.
  std::string present;
  const std::uint32_t plugged_at = clock.Now() + 3000;
  setup.list_ports = [&] {
    if (present.empty() && clock.Now() >= plugged_at) present = "COM8";
    std::vector<PortInfo> ports;
    if (!present.empty()) ports.push_back(ComPort(ComNumberOf(present), "FT12AB34"));
    return ports;
  };
  line.unplugged = [&] {
    if (clock.Now() > kGiveUpMs) interrupt.store(true);
    return present.empty() || line.opened_names.back() != present;
  };
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) present = "COM9";
  };
  const StationRow row = Run(2, {After(4000), After(1000)}, 500);
  EXPECT_EQ(listener.states.front(), "adapter missing");
  // Told as missing once at the start, and once when it went.
  EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "port-lost #0"), 2);
  EXPECT_EQ(row.finished, 2);
  EXPECT_NE(std::find(line.opened_names.begin(), line.opened_names.end(), "COM8"),
            line.opened_names.end());
  EXPECT_EQ(line.opened_names.back(), "COM9");
}

// An adapter named by its serial number that turns up as a port the bench
// has under its name already would give its pager two loops: it is refused,
// naming both, and never opened.
TEST_F(StationLoop, ALateAdapterThatIsAPortTheBenchHasIsRefusedAndNeverOpened) {
  setup.given = "serial=LATE1";
  setup.job.port.clear();
  const std::uint32_t plugged_at = clock.Now() + 3000;
  setup.list_ports = [&] {
    if (clock.Now() > plugged_at + 30000) interrupt.store(true);
    std::vector<PortInfo> ports;
    if (clock.Now() >= plugged_at) ports.push_back(ComPort(7, "LATE1"));
    return ports;
  };
  const std::vector<StationPortSetup> bench = WithBenchPorts({setup, {{}, "COM7", {}, {}}});
  EXPECT_EQ(bench[1].bench_ports, (Texts{"serial=LATE1", "COM7"}));
  setup.bench_ports = bench[0].bench_ports;
  Run(0, {After(0)}, 0);
  EXPECT_EQ(listener.events, (Texts{"port-lost #0", "port-lost #0"}));
  EXPECT_EQ(listener.messages.back(),
            "serial=LATE1 has turned up as COM7, which this bench has already as COM7: it is not "
            "opened twice. Give the bench each port once.");
  EXPECT_EQ(line.opens, 0);
}

// Another port finishes the last pager wanted just as this one's pager is
// seen: it is not taken on.
TEST_F(StationLoop, APagerSeenOnceEnoughHaveFinishedIsLeftAlone) {
  Prepare(1, {After(0)}, 0);
  // The other port's pager takes the place and finishes.
  bench->on_command = [&](const SentCommand& command) {
    if (command.bytes == "q" && count_places->Reserve()) count_places->Release(true);
  };
  Go();
  EXPECT_EQ(listener.events, Texts{});
  EXPECT_EQ(line.CommandTexts(), (Texts{"q"}));
  EXPECT_EQ(tally->Code(false), ExitCode::kFinished);
}

// A port set aside takes pagers again once a person resumes it on its tile.
TEST_F(StationLoop, APortSetAsideTakesPagersAgainOnceResumed) {
  set_aside_after = 1;
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kSetAside) resumes.Ask(0);
  };
  Run(1, {Refusing(0, false, true), After(1000)}, 0);
  EXPECT_EQ(listener.events,
            (Texts{"connected #1", "failed #1 rewinds-exceeded", "set-aside #0", "removed #1",
                   "resumed #0", "connected #2", "finished #2 finished"}));
  EXPECT_NE(std::find(listener.states.begin(), listener.states.end(),
                      "set aside: 1 failed in a row, check the cable"),
            listener.states.end());
}

// Stopped while set aside: the next run on the port takes no pager either
// until the port is resumed.
TEST_F(StationLoop, APortSetAsideStaysSoInTheNextRun) {
  set_aside_after = 1;
  Prepare(1, {Refusing(0, false, true), After(1000)}, 0);
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved) interrupt.store(true);
  };
  Go();
  setup.memory = end.memory;
  interrupt.store(false);
  listener.on_event = nullptr;
  listener.events.clear();
  // Half a minute to take a pager it should not.
  stop_at_ms = clock.Now() + 30000;
  Go();
  EXPECT_EQ(listener.events, Texts{});
  EXPECT_EQ(bench->Count(1, "e0"), 0);
  EXPECT_EQ(listener.states.back(), "stopped");
  EXPECT_NE(std::find(listener.states.begin(), listener.states.end(),
                      "set aside: 1 failed in a row, check the cable"),
            listener.states.end());
}

// ... or once its adapter has been unplugged and plugged back.
TEST_F(StationLoop, APortSetAsideTakesPagersAgainOnceItsAdapterIsPluggedBack) {
  set_aside_after = 1;
  std::optional<std::uint32_t> pulled_at;
  listener.on_event = [&](const StationEvent& event) {
    if (event.kind == StationEventKind::kRemoved && !pulled_at) pulled_at = clock.Now() + 1000;
  };
  line.unplugged = [&] {
    return pulled_at && clock.Now() >= *pulled_at && clock.Now() < *pulled_at + 4000;
  };
  Run(1, {Refusing(0, false, true), After(12000)}, 0);
  EXPECT_EQ(listener.events, (Texts{"connected #1", "failed #1 rewinds-exceeded", "set-aside #0",
                                    "removed #1", "port-lost #0", "port-back #0", "resumed #0",
                                    "connected #2", "finished #2 finished"}));
}

// Two ports under one job of three pagers: the first takes them all (its
// failed pager gives its place back) and ends; the second opens nothing.
TEST_F(StationLoop, PortsUnderOneJobFlashNoMoreThanItsQuota) {
  TempDir dir;
  JobQuota quota(dir.path().string(), "ab12", 3);
  ASSERT_TRUE(quota.Open());
  Prepare(0, {After(0), Refusing(1000, false, true), After(1000), After(1000), After(1000)}, 0);
  places = {&quota};
  Go();
  EXPECT_EQ(listener.events,
            (Texts{"connected #1", "finished #1 finished", "removed #1", "connected #2",
                   "failed #2 rewinds-exceeded", "removed #2", "connected #3",
                   "finished #3 finished", "removed #3", "connected #4", "finished #4 finished"}));
  EXPECT_EQ(bench->Count(4, "e0"), 0);
  EXPECT_EQ(quota.Left(), 0);
  ScriptedPager other_line{clock};
  VirtualBench other(other_line, {After(0)}, 0, clock.Now());
  StationPortSetup other_setup{TwoRecordJob(other_line, 4), "COM8", nullptr};
  StationShared shared{*tally, listener, interrupt, nullptr, "T", clock, false};
  shared.places = places;
  RunStationPort(other_setup, shared);
  EXPECT_EQ(other_line.opens, 0);
}

// Bytes on an empty line between probes (a cable plugged in, a pager's
// last word as it left) are dropped before each probe: only a byte that
// follows a probe answers it.
TEST_F(StationLoop, AByteOnTheLineBetweenProbesIsNoPager) {
  Prepare(0, {}, 0);
  // Measured in an earlier run: probes wait 60 ms and start 80 ms apart.
  for (int i = 0; i < 8; ++i) setup.memory.turnaround.AddMs(1.0);
  line.respond = [&](const SentCommand& command, int) {
    if (command.at_ms > 4000) interrupt.store(true);
    if (command.bytes == "q" && command.rate == 1200) line.Inject(kNak, command.at_ms + 70);
    return PagerReply::Silence();
  };
  Go();
  EXPECT_EQ(listener.events, Texts{});
  const Texts commands = line.CommandTexts();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "f"), 0);
  EXPECT_GE(commands.size(), 30u);
}

// Every reply held 100 ms on its way (a slow driver or hub): a probe waits
// for it, so no probe's reply is still on its way when "f" goes out.
TEST_F(StationLoop, RepliesHeldOnTheirWayAreWaitedForByEveryProbe) {
  Prepare(2, {After(0), After(800)}, 3000);
  line.respond = [bench_answer = line.respond](const SentCommand& command, int index) {
    PagerReply reply = bench_answer(command, index);
    reply.delay_ms = 100;
    return reply;
  };
  Go();
  EXPECT_EQ(listener.events, kTwoFinished);
  EXPECT_EQ(bench->Count(0, "e0"), 1);
  EXPECT_EQ(bench->Count(1, "e0"), 1);
}

// A pager answers a probe twice, the second time 40 ms late, as a line that
// echoes does: that late byte is not taken for the answer to "f".
TEST_F(StationLoop, ALateReplyToAProbeIsNeverTakenForTheAnswerToF) {
  Prepare(1, {After(0)}, 0);
  line.respond = [bench_answer = line.respond](const SentCommand& command, int index) {
    PagerReply reply = bench_answer(command, index);
    if (command.bytes == "q" && !reply.silent && reply.byte == kNak) {
      reply.trailing_byte = kNak;
      reply.trailing_after_ms = 40;
    }
    return reply;
  };
  Go();
  EXPECT_EQ(listener.events, (Texts{"connected #1", "finished #1 finished"}));
}

// The count is reached with its pager still on the cable: the next run on
// the port starts by waiting for that pager to go, and flashes only the
// next one.
TEST_F(StationLoop, APagerLeftOnTheCableIsWaitedForByTheNextRun) {
  Prepare(1, {After(0), After(500)}, 5000);
  Go();
  ASSERT_TRUE(end.memory.pager_on_cable);
  EXPECT_EQ(end.memory.number, 1);
  setup.memory = end.memory;
  tally = std::make_unique<StationTally>();
  count_places = std::make_unique<CountPlaces>(1);
  places = {count_places.get()};
  listener.states.clear();
  listener.events.clear();
  Go();
  EXPECT_EQ(listener.states.front(), "remove pager #1");
  EXPECT_EQ(listener.events, (Texts{"removed #1", "connected #1", "finished #1 finished"}));
  EXPECT_EQ(bench->Count(0, "e0"), 1);
  EXPECT_EQ(bench->Count(1, "e0"), 1);
  EXPECT_FALSE(end.memory.pager_on_cable && end.memory.number != 1);
}

// Another port's pager holds the last place while it is flashed: this
// port's pager waits, and is flashed once that one fails and frees it.
TEST_F(StationLoop, APagerWaitsForAPlaceAndTakesTheOneAFailureFrees) {
  Prepare(1, {After(0)}, 0);
  ASSERT_TRUE(count_places->Reserve());
  const std::uint32_t freed_at = 5000;
  bench->on_command = [&, freed = false](const SentCommand& command) mutable {
    if (command.at_ms > kGiveUpMs) interrupt.store(true);
    if (command.at_ms >= freed_at && !std::exchange(freed, true)) count_places->Release(false);
  };
  Go();
  const std::vector<std::uint32_t> flashes = TimesOf("f");
  ASSERT_EQ(flashes.size(), 1u);
  EXPECT_GE(flashes[0], freed_at);
  EXPECT_EQ(listener.events, (Texts{"connected #1", "finished #1 finished"}));
  EXPECT_TRUE(count_places->UsedUp());
  // Until then the row says the pager waits, and does not flicker back to
  // asking for one.
  const auto waits =
      std::find(listener.states.begin(), listener.states.end(), "pager waits for a place");
  ASSERT_NE(waits, listener.states.end());
  EXPECT_EQ(std::find(waits, listener.states.end(), "connect a pager"), listener.states.end());
}

// A quota beside the count that has no place left: the count's place taken
// for the pager is given back, and nothing is sent but probes.
TEST_F(StationLoop, APagerIsTakenOnlyWhenEveryPlaceHasOneForIt) {
  Prepare(2, {After(0)}, 0);
  CountPlaces quota(1);
  ASSERT_TRUE(quota.Reserve());
  places.push_back(&quota);
  bench->on_command = [&](const SentCommand& command) {
    if (command.at_ms > 3000) interrupt.store(true);
  };
  Go();
  EXPECT_EQ(TimesOf("f"), std::vector<std::uint32_t>{});
  // Both places of the count are still free.
  EXPECT_TRUE(count_places->Reserve());
  EXPECT_TRUE(count_places->Reserve());
}

// A pager left in flash mode at 4800 bit/s by an earlier run hears nothing
// at the start rate: it is told to leave at its rate, then flashed as a new
// pager.
TEST_F(StationLoop, APagerLeftInFlashModeIsToldToLeaveAndFlashedAsNew) {
  BenchPager stuck = After(0);
  stuck.flash_mode = true;
  stuck.rate = 4800;
  Prepare(1, {stuck}, 0);
  Go();
  EXPECT_EQ(listener.events, (Texts{"connected #1", "finished #1 finished"}));
  ASSERT_FALSE(bench->Pager(0).commands.empty());
  EXPECT_EQ(bench->Pager(0).commands.front(), "q");
  EXPECT_EQ(bench->Count(0, "e0"), 1);
}

// A log that cannot take a pager's line: that pager still counts toward the
// count, and the run ends saying it was not logged.
TEST_F(StationLoop, APagerWhoseLogLineFailedStillCounts) {
  TempDir dir;
  log = std::make_unique<TraceLog>(dir.PathOf("missing/log.jsonl"), "fw.hex", "00");
  const StationRow row = Run(1, {After(0), After(1000)}, 0);
  EXPECT_EQ(row.finished, 1);
  EXPECT_EQ(bench->Count(1, "e0"), 0);
  EXPECT_EQ(tally->Code(false), ExitCode::kNotLogged);
  // Why, in the system's words.
  ASSERT_EQ(listener.notes.size(), 1u);
  EXPECT_TRUE(listener.notes[0].starts_with("cannot append to the log " +
                                            dir.PathOf("missing/log.jsonl") + ": "));
  EXPECT_TRUE(listener.notes[0].ends_with(" (its folder does not exist).")) << listener.notes[0];
}

}  // namespace
