// One run of the bench core behind the window: its port loops on threads of
// their own, their news kept in an inbox until the window's thread takes
// them. The window's thread never waits on the bench, and the bench never
// waits on the window.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "common/Clock.h"
#include "station/Station.h"
#include "station/TraceLog.h"

// What the core tells, in the order it told it; kept until taken.
class BenchInbox final : public IStationListener {
 public:
  struct RowNews {
    std::size_t index;
    StationRow row;
  };
  struct NoteNews {
    std::string text;
  };
  // The run's thread has ended: every port loop is done, and hands on what
  // it knows of its port (a pager still on the cable), in the plan's order.
  struct EndNews {
    std::vector<PortMemory> memories;
  };
  using News = std::variant<RowNews, StationEvent, NoteNews, EndNews>;

  // `wake` is called, on the thread that told, when news arrive in an empty
  // inbox: the window posts itself a message then, and takes them all.
  explicit BenchInbox(std::function<void()> wake) : wake_(std::move(wake)) {}

  void OnRow(std::size_t index, const StationRow& row) override { Put(RowNews{index, row}); }
  void OnEvent(const StationEvent& event) override { Put(event); }
  void OnNote(const std::string& text) override { Put(NoteNews{text}); }
  void Ended(std::vector<PortMemory> memories = {}) { Put(EndNews{std::move(memories)}); }

  std::vector<News> Take();

 private:
  void Put(News news);

  std::function<void()> wake_;
  std::mutex mutex_;
  std::vector<News> news_;
};

// What a run is started with.
struct BenchPlan {
  // Each with the memory the port's last run handed on.
  std::vector<StationPortSetup> ports;
  // Flash exactly this many pagers; 0 for no limit.
  int count = 0;
  // The log and what its lines name: the firmware as chosen, its SHA-256.
  std::string log_path;
  std::string file_name;
  std::string sha256;
  // The bench's name in its lines; empty for the host's name.
  std::string station;
  // Under a job: its count, where each pager takes a place, and what the
  // log's lines say of it.
  std::vector<IPagerPlaces*> places;
  LogJob log_job;
  // Failures in a row that set a port aside; 0 never.
  int set_aside_after = kDefaultSetAsideAfter;
};

// A run under way. Destroying it stops it and waits for its thread.
class IBenchRun {
 public:
  virtual ~IBenchRun() = default;
  // Running updates stop at their next step, each pager in flash mode told
  // to leave it; the port loops end.
  virtual void Stop() = 0;
  // The technician resumes a port set aside.
  virtual void Resume(std::size_t index) = 0;
};

// How the window starts a run: on a thread (StartBenchThread), or as a test
// pleases.
using BenchStarter =
    std::function<std::unique_ptr<IBenchRun>(const BenchPlan& plan, BenchInbox& inbox)>;

// Runs the plan's ports with the core on a thread of its own, timed on
// `clock`; the log's lines are appended as pagers end, and a log that
// cannot take one stops the bench taking new pagers. The inbox hears
// Ended() last, with each port's memory.
std::unique_ptr<IBenchRun> StartBenchThread(const BenchPlan& plan, BenchInbox& inbox,
                                            ITickSource& clock = SystemTickSource());
