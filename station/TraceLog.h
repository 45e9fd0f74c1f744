// The traceability log: one JSON line per finished pager, appended as each
// finishes, so a crash later in the run loses none.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "station/LogRecord.h"
#include "station/PagerResult.h"

// How long an append waits for the log (another program's lock, a file
// system that does not answer) before the line counts as not written...
constexpr std::chrono::milliseconds kLogAnswerLimit{5000};
// ...and, once a stop has been asked for, how long at most after it: a stop
// ends the run within a second whatever the log does.
constexpr std::chrono::milliseconds kLogStopGrace{300};

class TraceLog {
 public:
  // `stop`, when given, is the run's stop: an append waits at most
  // kLogStopGrace for the log once it is set. Every line names `station`,
  // or the host when it is empty.
  TraceLog(std::string path, std::string file_name, std::string sha256,
           const std::atomic<bool>* stop = nullptr, const std::string& station = "");

  // True when the log can be appended to: a regular file, or a new one;
  // tried before any port is opened.
  bool CanAppend();
  bool Append(const PortResult& result);
  // The same for a pager of a bench run, with its running number and the
  // bench's start, so a day's log counts the pagers.
  bool AppendStation(const PortResult& result, int number, const std::string& station_start);
  // Every line from now on names the job; set before the first pager.
  void SetJob(LogJob job) { job_ = std::move(job); }
  // "cannot append to the log PATH: " and why the last append failed.
  std::string CannotAppendText() const;

 private:
  // The stamp of a line that ends now, with an id of its own; nothing when
  // the system gave no id, and the reason is kept.
  std::optional<LineStamp> StampNow();
  // Appends on a thread of its own, waited for within the limits above, so
  // that no caller, and no stop, waits on the log for longer.
  bool AppendLine(const std::string& line);
  void KeepReason(const std::string& reason);
  std::string LineOf(nlohmann::json record) const;

  const std::string path_;
  const std::string file_name_;
  const std::string sha256_;
  const std::string station_;
  const std::atomic<bool>* const stop_;
  LogJob job_;
  // Guards only the reason: never held while the file is written.
  mutable std::mutex mutex_;
  std::string reason_;
};
