#include "benchwin/BenchRun.h"

#include <thread>

#include "station/CountPlaces.h"
#include "station/TraceLog.h"
#include "station/WallClock.h"

namespace {

class ThreadRun final : public IBenchRun {
 public:
  ThreadRun(const BenchPlan& plan, BenchInbox& inbox, ITickSource& clock)
      : plan_(plan),
        count_(plan.count),
        // A stop waits no longer for the log than for the updates.
        log_(plan.log_path, plan.file_name, plan.sha256, &interrupt_, plan.station),
        resumes_(plan.ports.size()),
        shared_(Shared(inbox, clock)),
        thread_([this, &inbox] {
          std::vector<PortMemory> memories;
          for (PortEnd& end : RunStation(plan_.ports, shared_)) {
            memories.push_back(std::move(end.memory));
          }
          inbox.Ended(std::move(memories));
        }) {}

  ~ThreadRun() override {
    Stop();
    thread_.join();
  }

  void Stop() override { interrupt_.store(true); }
  void Resume(std::size_t index) override { resumes_.Ask(index); }

 private:
  StationShared Shared(BenchInbox& inbox, ITickSource& clock) {
    if (plan_.log_job.quota_left) log_.SetJob(plan_.log_job);
    StationShared shared{tally_, inbox, interrupt_, &log_, UtcNow(), clock, true};
    // The run's count, then a job's quota.
    if (plan_.count > 0) shared.places.push_back(&count_);
    shared.places.insert(shared.places.end(), plan_.places.begin(), plan_.places.end());
    shared.set_aside_after = plan_.set_aside_after;
    shared.resumes = &resumes_;
    return shared;
  }

  const BenchPlan plan_;
  StationTally tally_;
  CountPlaces count_;
  TraceLog log_;
  std::atomic<bool> interrupt_{false};
  PortResumes resumes_;
  const StationShared shared_;
  // Last, so it starts once everything it reads is made.
  std::thread thread_;
};

}  // namespace

std::vector<BenchInbox::News> BenchInbox::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(news_, {});
}

void BenchInbox::Put(News news) {
  bool first = false;
  {
    std::lock_guard lock(mutex_);
    first = news_.empty();
    news_.push_back(std::move(news));
  }
  if (first && wake_) wake_();
}

std::unique_ptr<IBenchRun> StartBenchThread(const BenchPlan& plan, BenchInbox& inbox,
                                            ITickSource& clock) {
  return std::make_unique<ThreadRun>(plan, inbox, clock);
}
