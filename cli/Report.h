// What tarvex-flash tells while pagers update and when they are done: the
// progress line of one pager, the summary table, and the JSON lines. Pure
// formatting; Console.h puts them on the streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/ExitCode.h"
#include "station/PagerResult.h"

struct LogJob;

// The width the summary keeps to where no terminal says otherwise.
constexpr std::size_t kSummaryColumns = 80;

// What a message says of its update, by the outcome names; "retry" for a
// message after which the update goes on.
std::string_view MessageOutcomeName(UpdateOutcome outcome);

// Seconds left, from the share done since the first record; negative when
// nothing can be said yet.
double EtaSeconds(const PortProgress& progress);
// True when `after` reaches a multiple of ten that `before` had not.
bool CrossesTenth(int before, int after);

// "COM5  transfer     42%      120/289 records    812 B/s  ETA 0:12", the
// port padded to `port_width` so the lines of a gang align. The rate and the
// time left are shown only once the first record has gone.
std::string FormatProgressLine(const PortProgress& progress, std::size_t port_width);
// The same for every pager of a gang as rows on a terminal, aligned, within
// `columns` (0: no limit). The columns follow from `columns` alone, so they
// stand still as the figures change; the port column keeps `port_width`
// (up to kKeptPortName; 0: the longest name among the ports).
std::vector<std::string> FormatProgressRows(const std::vector<PortProgress>& progresses,
                                            std::size_t columns, std::size_t port_width = 0);
// The table at the end, within `columns`: port, adapter serial, outcome,
// seconds, line bytes per second, reply lateness and line efficiency, and
// under a failed pager the message that ended it and its next step.
std::string FormatSummary(const std::vector<PortResult>& results,
                          std::size_t columns = kSummaryColumns);
// "COM5: Fail to send code-package." with a reason line indented below, and
// for a message that ends the update badly (by `outcome`) its next step.
std::string FormatMessageLine(const std::string& port, const std::string& text,
                              UpdateOutcome outcome = UpdateOutcome::kNone);

// One JSON object per line, no line end.
std::string JsonStart(const std::string& port, const std::string& file, int baud, int resend);
std::string JsonProgress(const PortProgress& progress);
std::string JsonMessage(const std::string& port, const std::string& text, UpdateOutcome outcome);
// A line of the program's own ("cannot append to the log ...").
std::string JsonNote(const std::string& text);
std::string JsonEnd(const PortResult& result);
// Under a job, what it has left after the run (job, job_sha256, quota_left).
std::string JsonSummary(const std::vector<PortResult>& results, ExitCode code,
                        const LogJob* job = nullptr);
