#include "link/DeviceCloser.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using SystemClock = std::chrono::steady_clock;

// A close that returns at all returns within this, on the system's clock;
// waiting for it that way costs nothing when it does.
constexpr auto kPromptCloseWait = std::chrono::milliseconds(50);
// After that, how often the tick source is looked at.
constexpr std::uint32_t kCloseCheckMs = 10;
// The least time, on the system's clock, given to a close before it is
// called hung, whatever the tick source says: a closing thread the system
// has not yet got round to running (a loaded machine, Wine's slow thread
// start) has not hung.
constexpr auto kLeastRealWait = std::chrono::seconds(1);

// Shared by the closing thread and the one waiting for it, so neither
// outlives what it uses.
struct CloseJob {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool returned = false;
};

void RunClose(const std::shared_ptr<CloseJob>& job, std::unique_ptr<ISerialDevice> device) {
  {
    std::lock_guard lock(job->mutex);
    job->started = true;
    job->changed.notify_all();
  }
  device->Close();
  device.reset();
  std::lock_guard lock(job->mutex);
  job->returned = true;
  job->changed.notify_all();
}

// Whether the close returned within the limit on the tick source and the
// least real wait.
bool AwaitClose(CloseJob& job, ITickSource& clock, std::uint32_t start,
                SystemClock::time_point real_start, std::uint32_t limit_ms) {
  const auto returned = [&] { return job.returned; };
  std::unique_lock lock(job.mutex);
  if (job.changed.wait_for(lock, kPromptCloseWait, returned)) return true;
  while (!job.returned && ElapsedMs(start, clock.TickCount()) < limit_ms) {
    lock.unlock();
    clock.Sleep(kCloseCheckMs);
    lock.lock();
  }
  return job.changed.wait_until(lock, real_start + kLeastRealWait, returned);
}

// Lets a hung close go on alone. MinGW's pthreads reuse the start record
// of a thread detached before it has run, and that thread then runs
// nothing or crashes: so it is let go only once it has started.
void LetGo(CloseJob& job, std::thread& closer) {
  {
    std::unique_lock lock(job.mutex);
    job.changed.wait(lock, [&] { return job.started; });
  }
  closer.detach();
}

}  // namespace

bool CloseWithin(std::unique_ptr<ISerialDevice> device, std::uint32_t limit_ms,
                 ITickSource& clock) {
  auto job = std::make_shared<CloseJob>();
  const std::uint32_t start = clock.TickCount();
  const auto real_start = SystemClock::now();
  std::thread closer;
  try {
    closer = std::thread(RunClose, job, std::move(device));
  } catch (const std::system_error&) {
    // No thread to be had: the device, left with the failed attempt, has
    // been closed by its destructor here, whatever that took.
    return true;
  }
  if (AwaitClose(*job, clock, start, real_start, limit_ms)) {
    closer.join();
    return true;
  }
  LetGo(*job, closer);
  return false;
}
