// What tarvex-flash tells while pagers update and when they are done: the
// progress line of one pager, the summary table, and the JSON lines. Pure
// formatting; Console.h puts them on the streams.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/ExitCode.h"
#include "engine/UpdateObserver.h"

struct PortProgress {
  std::string port;
  std::string stage;
  int percent = 0;
  // Records sent so far, each once: resends do not count again.
  int records = 0;
  int records_total = 0;
  // Since this pager's update started, and since its first record went out.
  double seconds = 0.0;
  double transfer_seconds = 0.0;
  // Bytes written to the line.
  std::uint64_t line_bytes = 0;
};

struct PortResult {
  std::string port;
  std::string adapter_serial;
  ExitCode code = ExitCode::kInternal;
  // The message that ended the update (with its reason line, if any).
  std::string message;
  double seconds = 0.0;
  std::uint64_t line_bytes = 0;
  int records = 0;
  // How late the replies typically came beyond their line time, and the
  // line time over the time the replies took (cli/ReplyLatency.h); negative
  // when no reply came.
  double reply_ms = -1.0;
  double line_efficiency = -1.0;
  // The line that says what late replies cost and what to do; empty when
  // they were not late.
  std::string latency_hint;
  // False when a --log line was due and could not be written.
  bool logged = true;
};

// The stage of an update as scripts and the progress line name it: "open",
// "enter-flash", "change-baud", "erase", "transfer", "exit-flash", "finish".
std::string StageName(UpdateStage stage);
// What a message says of its update, by the outcome names; "retry" for a
// message after which the update goes on.
std::string_view MessageOutcomeName(UpdateOutcome outcome);

double BytesPerSecond(std::uint64_t bytes, double seconds);
// Seconds left, from the share done since the first record; negative when
// nothing can be said yet.
double EtaSeconds(const PortProgress& progress);
// True when `after` reaches a multiple of ten that `before` had not.
bool CrossesTenth(int before, int after);

// "COM5  transfer     42%      120/289 records    812 B/s  ETA 0:12", the
// port padded to `port_width` so the lines of a gang align. The rate and the
// time left are shown only once the first record has gone.
std::string FormatProgressLine(const PortProgress& progress, std::size_t port_width);
// The table at the end: port, adapter serial, outcome, seconds, bytes per
// second, and for a failure the message that ended it.
std::string FormatSummary(const std::vector<PortResult>& results);
// "COM5: Fail to send code-package." with a reason line indented below.
std::string FormatMessageLine(const std::string& port, const std::string& text);

// One JSON object per line, no line end.
std::string JsonStart(const std::string& port, const std::string& file, int baud, int resend);
std::string JsonProgress(const PortProgress& progress);
std::string JsonMessage(const std::string& port, const std::string& text, UpdateOutcome outcome);
// A line of the program's own ("cannot append to the log ...").
std::string JsonNote(const std::string& text);
std::string JsonEnd(const PortResult& result);
std::string JsonSummary(const std::vector<PortResult>& results, ExitCode code);
// The traceability record of one finished pager; `utc_time` as ISO 8601.
nlohmann::json LogRecord(const PortResult& result, const std::string& utc_time,
                         const std::string& file, const std::string& sha256);
std::string JsonLogRecord(const PortResult& result, const std::string& utc_time,
                          const std::string& file, const std::string& sha256);
