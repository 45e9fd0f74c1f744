#include "cli/StationReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "cli/Formatting.h"
#include "cli/Table.h"
#include "common/VisibleText.h"
#include "link/PortList.h"
#include "station/LogRecord.h"
#include "station/ReplyLatency.h"

namespace {

using nlohmann::json;

// "finished", or "failed: no-response".
std::string HowItEnded(const StationRow& row) {
  if (!row.last || *row.last == ExitCode::kFinished) return "finished";
  return "failed: " + std::string(OutcomeName(*row.last));
}

std::string LastOutcome(const StationRow& row) {
  if (!row.last) return "-";
  return std::string(OutcomeName(*row.last)) + " " + row.last_time;
}

}  // namespace

std::string FormatPortState(const StationRow& row) {
  std::string words = PortStateWords(row);
  if (row.state == PortState::kRemove) words += " (" + HowItEnded(row) + ")";
  if (const std::string adds = TurnaroundWords(row.turnaround_ms); !adds.empty()) {
    words += "; " + adds;
  }
  return words;
}

namespace {

// Wide enough for what they say today, "remove pager #123 (failed:
// rewinds-exceeded)" and "rewinds-exceeded 14:01:50"; a longer entry is cut.
constexpr std::size_t kStateWidth = 44;
constexpr std::size_t kLastWidth = 25;

}  // namespace

std::size_t StationPortWidth(const std::vector<StationRow>& rows) {
  std::size_t longest = 0;
  for (const StationRow& row : rows)
    longest = std::max(longest, DisplayWidth(VisibleText(row.port)));
  return std::min(longest, kKeptPortName);
}

// Steady: each column keeps its width whatever the rows hold, so none comes
// or goes as a pager fails or a state grows. When the screen is narrow the
// columns go in this order: how the last pager ended, the adapter serial,
// the failed and the finished counts; then the port's name is shortened. The
// state, what to do, stays.
std::vector<std::string> FormatStationRows(const std::vector<StationRow>& rows, std::size_t columns,
                                           std::size_t port_width) {
  TableColumn port = PortColumn("PORT", port_width > 0 ? port_width : StationPortWidth(rows));
  TableColumn serial{"ADAPTER SERIAL", {}, false, 2};
  TableColumn state{"STATE", {}, false, 0, false, 0, 0, kStateWidth};
  TableColumn finished{"FINISHED", {}, true, 4};
  TableColumn failed{"FAILED", {}, true, 3};
  TableColumn last{"LAST", {}, false, 1, false, 0, 0, kLastWidth};
  for (const StationRow& row : rows) {
    port.cells.push_back(VisibleText(row.port));
    serial.cells.push_back(OrDash(VisibleText(row.adapter_serial)));
    state.cells.push_back(FormatPortState(row));
    finished.cells.push_back(std::to_string(row.finished));
    failed.cells.push_back(std::to_string(row.failed));
    last.cells.push_back(LastOutcome(row));
  }
  return LayOutTable({port, serial, state, finished, failed, last}, columns, true,
                     TableSizing::kSteady);
}

bool OfPager(StationEventKind kind) {
  return kind == StationEventKind::kFinished || kind == StationEventKind::kFailed;
}

std::string FormatStationEvent(const StationEvent& event) {
  const std::string head = event.local_time + " " + VisibleText(event.port);
  const std::string message = OneLine(VisibleLines(event.message));
  const std::string result_message = OneLine(VisibleLines(event.result.message));
  const std::string pager = head + " #" + std::to_string(event.number);
  switch (event.kind) {
    case StationEventKind::kConnected:
      return pager + " connected";
    case StationEventKind::kFinished:
      return pager + " finished: " + result_message;
    case StationEventKind::kFailed:
      return fmt::format("{} failed, {}: {}", pager, OutcomeName(event.result.code),
                         result_message);
    case StationEventKind::kRemoved:
      return pager + " removed";
    case StationEventKind::kPortLost:
      return head + " cannot be opened: " + message;
    case StationEventKind::kSetAside:
      return head + " " + message;
    case StationEventKind::kResumed:
      return head + " resumed: it takes pagers again";
    case StationEventKind::kPortBack:
      break;
  }
  // A port named by its adapter may never have been seen before.
  if (!event.message.empty())
    return event.local_time + " " + message + " found as " + VisibleText(event.port);
  return head + " can be opened again";
}

std::string JsonStationEvent(const StationEvent& event) {
  json object = {
      {"event", StationEventName(event.kind)}, {"number", event.number}, {"time", event.utc_time}};
  if (OfPager(event.kind)) object.update(ResultFields(event.result));
  // The port the event came from, which a pager's result names too.
  object.erase("port_bytes");
  PutName(object, "port", event.port);
  if (event.kind == StationEventKind::kPortLost || event.kind == StationEventKind::kSetAside) {
    object["message"] = event.message;
  }
  if (event.kind == StationEventKind::kPortBack && !event.message.empty()) {
    object["serial"] = SerialNamedBy(event.message);
  }
  return JsonText(object);
}

std::string FormatStationSummary(const std::vector<StationRow>& rows, std::size_t columns) {
  TableColumn port = PortColumn("PORT");
  TableColumn serial{"ADAPTER SERIAL", {}, false, 1};
  TableColumn finished{"FINISHED", {}, true};
  TableColumn failed{"FAILED", {}, true};
  int all_finished = 0;
  int all_failed = 0;
  for (const StationRow& row : rows) {
    port.cells.push_back(VisibleText(row.port));
    serial.cells.push_back(OrDash(VisibleText(row.adapter_serial)));
    finished.cells.push_back(std::to_string(row.finished));
    failed.cells.push_back(std::to_string(row.failed));
    all_finished += row.finished;
    all_failed += row.failed;
  }
  port.cells.push_back("all");
  serial.cells.push_back("");
  finished.cells.push_back(std::to_string(all_finished));
  failed.cells.push_back(std::to_string(all_failed));
  std::string table;
  for (const std::string& line : LayOutTable({port, serial, finished, failed}, columns)) {
    table += line + "\n";
  }
  return table;
}

std::string JsonStationSummary(const std::vector<StationRow>& rows, ExitCode code,
                               const LogJob* job) {
  json ports = json::array();
  int finished = 0;
  int failed = 0;
  for (const StationRow& row : rows) {
    json port = {
        {"adapter_serial", row.adapter_serial}, {"finished", row.finished}, {"failed", row.failed}};
    PutName(port, "port", row.port);
    ports.push_back(port);
    finished += row.finished;
    failed += row.failed;
  }
  json summary = {{"event", "summary"},
                  {"exit_code", static_cast<int>(code)},
                  {"outcome", OutcomeName(code)},
                  {"finished", finished},
                  {"failed", failed},
                  {"ports", ports}};
  if (job != nullptr) AddJobFields(summary, *job);
  return JsonText(summary);
}
