#include "cli/StationReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "cli/Formatting.h"
#include "common/VisibleText.h"
#include "station/LogRecord.h"

namespace {

using nlohmann::json;

struct Widths {
  std::size_t port = 4;
  std::size_t serial = 14;
  std::size_t state = 5;
};

Widths WidthsOf(const std::vector<StationRow>& rows) {
  Widths widths;
  for (const StationRow& row : rows) {
    widths.port = std::max(widths.port, VisibleText(row.port).size());
    widths.serial = std::max(widths.serial, VisibleText(row.adapter_serial).size());
    widths.state = std::max(widths.state, FormatPortState(row).size());
  }
  return widths;
}

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
  switch (row.state) {
    case PortState::kConnect:
      return "connect a pager";
    case PortState::kFlashing:
      return fmt::format("flashing {}%", row.percent);
    case PortState::kRemove:
      return fmt::format("remove pager #{} ({})", row.number, HowItEnded(row));
    case PortState::kAdapterMissing:
      return "adapter missing";
    case PortState::kStopped:
      break;
  }
  return "stopped";
}

std::vector<std::string> FormatStationRows(const std::vector<StationRow>& rows) {
  const Widths widths = WidthsOf(rows);
  std::vector<std::string> lines = {
      fmt::format("{:<{}}  {:<{}}  {:<{}}  {:>8}  {:>6}  {}", "PORT", widths.port, "ADAPTER SERIAL",
                  widths.serial, "STATE", widths.state, "FINISHED", "FAILED", "LAST")};
  for (const StationRow& row : rows) {
    lines.push_back(fmt::format("{:<{}}  {:<{}}  {:<{}}  {:>8}  {:>6}  {}", VisibleText(row.port),
                                widths.port, OrDash(VisibleText(row.adapter_serial)), widths.serial,
                                FormatPortState(row), widths.state, row.finished, row.failed,
                                LastOutcome(row)));
  }
  return lines;
}

bool OfPager(StationEventKind kind) {
  return kind == StationEventKind::kFinished || kind == StationEventKind::kFailed;
}

std::string_view StationEventName(StationEventKind kind) {
  switch (kind) {
    case StationEventKind::kConnected:
      return "connected";
    case StationEventKind::kFinished:
      return "finished";
    case StationEventKind::kFailed:
      return "failed";
    case StationEventKind::kRemoved:
      return "removed";
    case StationEventKind::kPortLost:
      return "port-lost";
    case StationEventKind::kPortBack:
      break;
  }
  return "port-back";
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
  if (event.kind == StationEventKind::kPortLost) object["message"] = event.message;
  if (event.kind == StationEventKind::kPortBack && !event.message.empty()) {
    object["serial"] = event.message.substr(event.message.find('=') + 1);
  }
  return JsonText(object);
}

std::string FormatStationSummary(const std::vector<StationRow>& rows) {
  const Widths widths = WidthsOf(rows);
  const auto line = [&](const std::string& port, const std::string& serial, auto finished,
                        auto failed) {
    return fmt::format("{:<{}}  {:<{}}  {:>8}  {:>6}\n", port, widths.port, serial, widths.serial,
                       finished, failed);
  };
  std::string table = line("PORT", "ADAPTER SERIAL", "FINISHED", "FAILED");
  int finished = 0;
  int failed = 0;
  for (const StationRow& row : rows) {
    table += line(VisibleText(row.port), OrDash(VisibleText(row.adapter_serial)), row.finished,
                  row.failed);
    finished += row.finished;
    failed += row.failed;
  }
  return table + line("all", "", finished, failed);
}

std::string JsonStationSummary(const std::vector<StationRow>& rows, ExitCode code) {
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
  return JsonText({{"event", "summary"},
                   {"exit_code", static_cast<int>(code)},
                   {"outcome", OutcomeName(code)},
                   {"finished", finished},
                   {"failed", failed},
                   {"ports", ports}});
}
