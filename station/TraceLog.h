// The traceability log: one JSON line per finished pager, appended as each
// finishes, so a crash later in the run loses none.
#pragma once

#include <mutex>
#include <string>

#include "station/PagerResult.h"

class TraceLog {
 public:
  TraceLog(std::string path, std::string file_name, std::string sha256)
      : path_(std::move(path)), file_name_(std::move(file_name)), sha256_(std::move(sha256)) {}

  // True when the log can be appended to; tried before any port is opened.
  bool CanAppend() const;
  bool Append(const PortResult& result);
  // The same for a pager of a bench run, with its running number and the
  // bench's start, so a day's log counts the pagers.
  bool AppendStation(const PortResult& result, int number, const std::string& station_start);
  const std::string& Path() const { return path_; }
  // "cannot append to the log PATH."
  std::string CannotAppendText() const;

 private:
  bool AppendLine(const std::string& line);

  std::mutex mutex_;
  const std::string path_;
  const std::string file_name_;
  const std::string sha256_;
};
