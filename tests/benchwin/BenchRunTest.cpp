// A run of the bench core on its own thread, as the window starts it: its
// news reach the inbox in order and end with the run's end, each pager's
// line reaches the log, and Stop takes a pager out of flash mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>

#include "benchwin/BenchRun.h"
#include "tests/support/HexText.h"
#include "tests/support/PagerJobs.h"
#include "tests/support/ScriptedPager.h"
#include "tests/support/VirtualClock.h"

namespace {

// One port on a scripted line that answers everything, on virtual time: the
// run's thread is the only one to touch the clock and the line.
class BenchRunTest : public ::testing::Test {
 protected:
  BenchRunTest() {
    plan.ports.push_back({TwoRecordJob(line), "COM7", nullptr, {}});
    plan.count = 1;
    plan.log_path = dir.PathOf("bench.jsonl");
    plan.file_name = "fw.hex";
    plan.sha256 = "00";
    plan.station = "LINE3-B2";
  }

  // Takes the news as the window does, each time it is woken, until the
  // run has ended by itself (destroying a run stops it).
  std::vector<BenchInbox::News> NewsToTheEnd() {
    std::vector<BenchInbox::News> all;
    for (int taken = 0;;) {
      {
        std::unique_lock lock(mutex);
        woken.wait(lock, [&] { return wakes > taken; });
        taken = wakes;
      }
      for (BenchInbox::News& news : inbox.Take()) all.push_back(std::move(news));
      if (!all.empty() && std::holds_alternative<BenchInbox::EndNews>(all.back())) return all;
    }
  }

  // What the inbox heard of a run left to end by itself: its pagers' ends,
  // and the end of the run.
  std::vector<std::string> RunToEnd() {
    std::unique_ptr<IBenchRun> run = StartBenchThread(plan, inbox, clock);
    std::vector<std::string> heard;
    for (const BenchInbox::News& news : NewsToTheEnd()) {
      if (const auto* event = std::get_if<StationEvent>(&news)) {
        heard.push_back(event->kind == StationEventKind::kFinished ? "finished" : "event");
      } else if (std::holds_alternative<BenchInbox::EndNews>(news)) {
        heard.push_back("end");
      }
    }
    return heard;
  }

  void Wake() {
    std::lock_guard lock(mutex);
    ++wakes;
    woken.notify_all();
  }

  TempDir dir;
  VirtualClock clock{1000};
  ScriptedPager line{clock};
  std::mutex mutex;
  std::condition_variable woken;
  int wakes = 0;
  BenchInbox inbox{[this] { Wake(); }};
  BenchPlan plan;
};

TEST_F(BenchRunTest, TheCountEndsTheRunAndThePagerIsLogged) {
  const std::vector<std::string> heard = RunToEnd();
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.back(), "end");
  EXPECT_EQ(std::count(heard.begin(), heard.end(), "finished"), 1);
  std::ifstream log(dir.PathOf("bench.jsonl"));
  const std::string text{std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
  EXPECT_NE(text.find("\"number\":1"), std::string::npos) << text;
  EXPECT_NE(text.find("\"outcome\":\"finished\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"station\":\"LINE3-B2\""), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST_F(BenchRunTest, StopDuringTheTransferTellsThePagerToLeaveFlashMode) {
  // The line waits at its first command until the run is known to it.
  std::promise<IBenchRun*> known;
  std::shared_future<IBenchRun*> run_of_line = known.get_future().share();
  line.respond = [&](const SentCommand& command, int) {
    if (command.bytes.rfind("s", 0) == 0) run_of_line.get()->Stop();
    run_of_line.wait();
    return PagerReply::Ack();
  };
  std::unique_ptr<IBenchRun> run = StartBenchThread(plan, inbox, clock);
  known.set_value(run.get());
  const std::vector<BenchInbox::News> news = NewsToTheEnd();
  run.reset();
  const std::vector<std::string> commands = line.CommandTexts();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "q");
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "p"), 0) << "stopped at the first record";
  bool interrupted = false;
  for (const BenchInbox::News& told : news) {
    if (const auto* event = std::get_if<StationEvent>(&told)) {
      interrupted = event->result.code == ExitCode::kInterrupted;
    }
  }
  EXPECT_TRUE(interrupted);
}

// A log that cannot take a pager's line stops the bench taking new pagers:
// the next pager on the cable is left alone, and the run ends by itself.
TEST_F(BenchRunTest, ALogLineThatCannotBeWrittenStopsTheBenchTakingPagers) {
  plan.count = 2;
  plan.log_path = dir.PathOf("missing/bench.jsonl");
  // The first pager goes 100 ms after its update's "q"; the next comes a
  // second later.
  std::optional<std::uint32_t> left_at;
  line.respond = [&](const SentCommand& command, int) {
    if (command.bytes == "q" && command.rate == 9600 && !left_at) left_at = command.at_ms + 100;
    const bool away = left_at && command.at_ms >= *left_at && command.at_ms < *left_at + 1000;
    return away ? PagerReply::Silence() : PagerReply::Ack();
  };
  std::unique_ptr<IBenchRun> run = StartBenchThread(plan, inbox, clock);
  bool alarm = false;
  for (const BenchInbox::News& news : NewsToTheEnd()) {
    if (const auto* note = std::get_if<BenchInbox::NoteNews>(&news)) {
      alarm = note->text.starts_with("cannot append to the log ");
    }
  }
  EXPECT_TRUE(alarm);
  const std::vector<std::string> commands = line.CommandTexts();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "e0"), 1);
}

TEST(BenchInbox, WakesTheWindowOnlyWhenNewsComeToAnEmptyInbox) {
  int wakes = 0;
  BenchInbox inbox([&] { ++wakes; });
  inbox.OnRow(0, StationRow{});
  inbox.OnNote("a");
  inbox.Ended();
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(inbox.Take().size(), 3u);
  inbox.OnNote("b");
  EXPECT_EQ(wakes, 2);
  const auto news = inbox.Take();
  ASSERT_EQ(news.size(), 1u);
  EXPECT_EQ(std::get<BenchInbox::NoteNews>(news[0]).text, "b");
}

}  // namespace
