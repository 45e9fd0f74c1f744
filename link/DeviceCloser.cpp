#include "link/DeviceCloser.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/Clock.h"

namespace {

// A close that returns at all returns within this, on the system's clock;
// waiting for it that way costs nothing when it does.
constexpr auto kPromptCloseWait = std::chrono::milliseconds(50);
// After that, how often the tick source is looked at.
constexpr std::uint32_t kCloseCheckMs = 10;

// Shared by the closing thread and the one waiting for it, so neither
// outlives what it uses.
struct CloseJob {
  std::mutex mutex;
  std::condition_variable returned_cv;
  bool returned = false;
};

void RunClose(const std::shared_ptr<CloseJob>& job, std::unique_ptr<ISerialDevice> device) {
  device->Close();
  device.reset();
  std::lock_guard lock(job->mutex);
  job->returned = true;
  job->returned_cv.notify_all();
}

}  // namespace

bool CloseWithin(std::unique_ptr<ISerialDevice> device, std::uint32_t limit_ms) {
  auto job = std::make_shared<CloseJob>();
  const std::uint32_t start = TickCount();
  try {
    std::thread(RunClose, job, std::move(device)).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the device, left with the failed attempt, has
    // been closed by its destructor here, whatever that took.
    return true;
  }
  std::unique_lock lock(job->mutex);
  if (job->returned_cv.wait_for(lock, kPromptCloseWait, [&] { return job->returned; })) {
    return true;
  }
  while (!job->returned) {
    if (ElapsedMs(start, TickCount()) >= limit_ms) return false;
    lock.unlock();
    SleepMs(kCloseCheckMs);
    lock.lock();
  }
  return true;
}
