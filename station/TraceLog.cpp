#include "station/TraceLog.h"

#include <memory>
#include <optional>

#include "common/BoundedWork.h"
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
// Once given up on, an append waiting for a lock says so within this.
constexpr std::chrono::milliseconds kGivenUpAnswer{50};
// An append that has begun to write when its caller gives up is waited
// for this much longer: a write to a file returns at once unless the
// system itself hangs.
constexpr std::chrono::milliseconds kWriteAnswer{1000};
constexpr char kMayBeWritten[] = "; it was writing the line then, which may yet reach the log";

// Shared by the appending thread and the one waiting for it.
struct PendingAppend {
  AppendTurn turn;
  LogAppend result;
};

std::string WithinLimitText() {
  return "it did not answer within " +
         std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kLogAnswerLimit).count()) +
         " s";
}

// Waits for the append until it is done, kLogAnswerLimit has passed, or
// kLogStopGrace has passed since `stop` was seen set. Empty when it is done,
// else why it was given up on.
std::string AwaitAppend(BoundedWork& append, const std::atomic<bool>* stop) {
  const auto start = SteadyClock::now();
  std::optional<SteadyClock::time_point> stopped;
  while (!append.WaitFor(kStopCheckSpacing)) {
    const auto now = SteadyClock::now();
    if (!stopped && stop != nullptr && stop->load()) stopped = now;
    if (stopped && now - *stopped >= kLogStopGrace) return "it did not answer before the stop";
    if (now - start >= kLogAnswerLimit) return WithinLimitText();
  }
  return "";
}

// Gives up on an append that did not answer. One that has not begun to
// write never will: one waiting for a lock ends at once with its own
// reason, one that hangs in the system is let go on alone. One that has
// begun is waited for a little longer, as its line is its own now.
LogAppend GiveUp(PendingAppend& pending, BoundedWork& append, const std::string& why) {
  if (pending.turn.GiveUp()) {
    if (append.WaitFor(kGivenUpAnswer) && append.Finish()) return pending.result;
    (void)append.Finish();
    return {false, why};
  }
  if (append.WaitFor(kWriteAnswer) && append.Finish()) return pending.result;
  (void)append.Finish();
  return {false, why + kMayBeWritten};
}

LogAppend AppendWithin(const std::string& path, const std::string& line,
                       const std::atomic<bool>* stop) {
  auto pending = std::make_shared<PendingAppend>();
  BoundedWork append;
  if (!append.Start(
          [pending, path, line] { pending->result = AppendWhole(path, line, pending->turn); })) {
    // No thread to be had: appended here.
    return AppendWhole(path, line, pending->turn);
  }
  const std::string why = AwaitAppend(append, stop);
  if (!why.empty()) return GiveUp(*pending, append, why);
  (void)append.Finish();
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
  if (job_.quota_left) AddJobFields(record, job_);
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
