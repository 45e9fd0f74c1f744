// What a station tells: the live rows, a line or a JSON object per event,
// the summary, and the log record of a pager. Pure formatting;
// StationView.h puts them on the streams.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/Report.h"
#include "station/Station.h"

// What the technician is to do at the port, or what it is doing: "connect a
// pager", "flashing 42%", "remove pager #12 (finished)", "remove pager #12
// (failed: no-response)", "adapter missing", "stopped"; and what a slow
// adapter costs ("; adapter adds 16 ms per reply").
std::string FormatPortState(const StationRow& row);
// The port column's width for `rows`: their longest name, up to
// kKeptPortName.
std::size_t StationPortWidth(const std::vector<StationRow>& rows);
// The header and one line per port: port, adapter serial, state, pagers
// finished and failed, and how the last one ended and when; within `columns`
// (0: no limit). Which columns show, and how wide, follows from `columns`
// alone, never from what the rows hold; the port column keeps `port_width`
// (up to kKeptPortName; 0: the longest name among the rows).
std::vector<std::string> FormatStationRows(const std::vector<StationRow>& rows,
                                           std::size_t columns = 0, std::size_t port_width = 0);

// A finished or failed pager's event, which carries its result.
bool OfPager(StationEventKind kind);
// "14:02:11 COM5 #3 failed, rewinds-exceeded: Max. rewind ...", one line.
std::string FormatStationEvent(const StationEvent& event);
// One JSON object, no line end: event, port, number, time; a finished or
// failed pager adds adapter_serial, outcome, exit_code, message, seconds,
// reply_ms and line_efficiency; a lost port adds message; a port found by
// its adapter's serial number adds it as serial.
std::string JsonStationEvent(const StationEvent& event);

// Per port: pagers finished and failed, then all ports together.
std::string FormatStationSummary(const std::vector<StationRow>& rows,
                                 std::size_t columns = kSummaryColumns);
// Under a job, what it has left after the run (job, job_sha256, quota_left).
std::string JsonStationSummary(const std::vector<StationRow>& rows, ExitCode code,
                               const LogJob* job = nullptr);
