#include "station/TraceLog.h"

#include <condition_variable>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "common/VisibleText.h"
#include "station/JsonText.h"
#include "station/LogFile.h"
#include "station/LogRecord.h"
#include "station/RecordIdentity.h"
#include "station/WallClock.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often a waiting append looks at the stop.
constexpr std::chrono::milliseconds kStopCheckSpacing{20};

// Shared by the appending thread and the one waiting for it, so neither
// outlives what it uses.
struct PendingAppend {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool done = false;
  LogAppend result;
  // Set by a waiter that went on without it: a lock not yet taken is not
  // taken, so a line told as not written is not written later.
  std::atomic<bool> given_up{false};
};

void RunAppend(const std::shared_ptr<PendingAppend>& pending, const std::string& path,
               const std::string& line) {
  {
    std::lock_guard lock(pending->mutex);
    pending->started = true;
    pending->changed.notify_all();
  }
  LogAppend result = AppendWhole(path, line, pending->given_up);
  std::lock_guard lock(pending->mutex);
  pending->result = std::move(result);
  pending->done = true;
  pending->changed.notify_all();
}

// Once given up on, an append waiting for a lock says so within this.
constexpr std::chrono::milliseconds kGivenUpAnswer{50};

// Waits for the append until it is done, kLogAnswerLimit has passed, or
// kLogStopGrace has passed since `stop` was seen set. Empty when it is done,
// else why it was given up on.
std::string AwaitAppend(PendingAppend& pending, const std::atomic<bool>* stop) {
  const auto start = SteadyClock::now();
  std::optional<SteadyClock::time_point> stopped;
  std::unique_lock lock(pending.mutex);
  while (!pending.changed.wait_for(lock, kStopCheckSpacing, [&] { return pending.done; })) {
    const auto now = SteadyClock::now();
    if (!stopped && stop != nullptr && stop->load()) stopped = now;
    if (stopped && now - *stopped >= kLogStopGrace) return "it did not answer before the stop";
    if (now - start >= kLogAnswerLimit) {
      return "it did not answer within " +
             std::to_string(
                 std::chrono::duration_cast<std::chrono::seconds>(kLogAnswerLimit).count()) +
             " s";
    }
  }
  return "";
}

// Tells an append that did not answer to give up. One waiting for a lock
// ends at once, with its own reason; one that hangs in the system is let go
// on alone. MinGW's pthreads reuse the start record of a thread detached
// before it has run, so it is let go only once it has started.
bool GiveUp(PendingAppend& pending, std::thread& appender) {
  pending.given_up.store(true);
  std::unique_lock lock(pending.mutex);
  if (pending.changed.wait_for(lock, kGivenUpAnswer, [&] { return pending.done; })) return true;
  pending.changed.wait(lock, [&] { return pending.started; });
  appender.detach();
  return false;
}

LogAppend AppendWithin(const std::string& path, const std::string& line,
                       const std::atomic<bool>* stop) {
  auto pending = std::make_shared<PendingAppend>();
  std::thread appender;
  try {
    appender = std::thread(RunAppend, pending, path, line);
  } catch (const std::system_error&) {
    // No thread to be had: appended here, the lock waited for until the stop.
    return AppendWhole(path, line, stop != nullptr ? *stop : pending->given_up);
  }
  const std::string why = AwaitAppend(*pending, stop);
  if (!why.empty() && !GiveUp(*pending, appender)) return {false, why};
  appender.join();
  return pending->result;
}

}  // namespace

TraceLog::TraceLog(std::string path, std::string file_name, std::string sha256,
                   const std::atomic<bool>* stop, const std::string& station)
    : path_(std::move(path)),
      file_name_(std::move(file_name)),
      sha256_(std::move(sha256)),
      // Asked once: the host's name does not change under a running bench.
      station_(StationName(station)),
      stop_(stop) {}

bool TraceLog::CanAppend() { return AppendLine(""); }

bool TraceLog::Append(const PortResult& result) {
  const std::optional<LineStamp> stamp = StampNow();
  if (!stamp) return false;
  return AppendLine(LineOf(LogRecord(result, *stamp, file_name_, sha256_)));
}

bool TraceLog::AppendStation(const PortResult& result, int number,
                             const std::string& station_start) {
  const std::optional<LineStamp> stamp = StampNow();
  if (!stamp) return false;
  return AppendLine(
      LineOf(StationLogRecord(result, *stamp, file_name_, sha256_, number, station_start)));
}

std::string TraceLog::LineOf(nlohmann::json record) const {
  if (job_.quota_left) AddJobFields(record, job_.name, job_.sha256, job_.quota_left());
  return JsonText(record) + "\n";
}

std::string TraceLog::CannotAppendText() const {
  std::lock_guard lock(mutex_);
  return "cannot append to the log " + VisibleText(path_) + ": " + VisibleText(reason_) + ".";
}

std::optional<LineStamp> TraceLog::StampNow() {
  const RecordId id = NewRecordId();
  if (!id.error.empty()) {
    KeepReason(id.error);
    return std::nullopt;
  }
  return LineStamp{UtcNow(), id.text, station_};
}

bool TraceLog::AppendLine(const std::string& line) {
  const LogAppend result = AppendWithin(path_, line, stop_);
  if (!result.whole) KeepReason(result.reason);
  return result.whole;
}

void TraceLog::KeepReason(const std::string& reason) {
  std::lock_guard lock(mutex_);
  reason_ = reason;
}
