#include "cli/StationReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "cli/Formatting.h"

namespace {

using nlohmann::json;

// The widest state, "flashing 100%".
constexpr std::size_t kStateWidth = 13;

struct Widths {
  std::size_t port = 4;
  std::size_t serial = 14;
};

Widths WidthsOf(const std::vector<StationRow>& rows) {
  Widths widths;
  for (const StationRow& row : rows) {
    widths.port = std::max(widths.port, row.port.size());
    widths.serial = std::max(widths.serial, row.adapter_serial.size());
  }
  return widths;
}

std::string LastOutcome(const StationRow& row) {
  if (!row.last) return "-";
  return std::string(OutcomeName(*row.last)) + " " + row.last_time;
}

std::string OneLine(const std::string& text) {
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}

bool OfPager(StationEventKind kind) {
  return kind == StationEventKind::kFinished || kind == StationEventKind::kFailed;
}

double Milliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

}  // namespace

std::string FormatPortState(const StationRow& row) {
  switch (row.state) {
    case PortState::kWaiting:
      return "waiting";
    case PortState::kFlashing:
      return fmt::format("flashing {}%", row.percent);
    case PortState::kRemove:
      return "remove pager";
    case PortState::kCannotOpen:
      return "cannot open";
    case PortState::kStopped:
      break;
  }
  return "stopped";
}

std::vector<std::string> FormatStationRows(const std::vector<StationRow>& rows) {
  const Widths widths = WidthsOf(rows);
  std::vector<std::string> lines = {
      fmt::format("{:<{}}  {:<{}}  {:<{}}  {:>8}  {:>6}  {}", "PORT", widths.port, "ADAPTER SERIAL",
                  widths.serial, "STATE", kStateWidth, "FINISHED", "FAILED", "LAST")};
  for (const StationRow& row : rows) {
    lines.push_back(fmt::format("{:<{}}  {:<{}}  {:<{}}  {:>8}  {:>6}  {}", row.port, widths.port,
                                OrDash(row.adapter_serial), widths.serial, FormatPortState(row),
                                kStateWidth, row.finished, row.failed, LastOutcome(row)));
  }
  return lines;
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
  const std::string head = event.local_time + " " + event.port;
  const std::string pager = head + " #" + std::to_string(event.number);
  switch (event.kind) {
    case StationEventKind::kConnected:
      return pager + " connected";
    case StationEventKind::kFinished:
      return pager + " finished: " + OneLine(event.result.message);
    case StationEventKind::kFailed:
      return fmt::format("{} failed, {}: {}", pager, OutcomeName(event.result.code),
                         OneLine(event.result.message));
    case StationEventKind::kRemoved:
      return pager + " removed";
    case StationEventKind::kPortLost:
      return head + " cannot be opened: " + OneLine(event.message);
    case StationEventKind::kPortBack:
      break;
  }
  return head + " can be opened again";
}

std::string JsonStationEvent(const StationEvent& event) {
  json object = {{"event", StationEventName(event.kind)},
                 {"port", event.port},
                 {"number", event.number},
                 {"time", event.utc_time}};
  if (OfPager(event.kind)) {
    const PortResult& result = event.result;
    object["adapter_serial"] = result.adapter_serial;
    object["outcome"] = OutcomeName(result.code);
    object["exit_code"] = static_cast<int>(result.code);
    object["message"] = result.message;
    object["seconds"] = Milliseconds(result.seconds);
  }
  if (event.kind == StationEventKind::kPortLost) object["message"] = event.message;
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
    table += line(row.port, OrDash(row.adapter_serial), row.finished, row.failed);
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
    ports.push_back({{"port", row.port},
                     {"adapter_serial", row.adapter_serial},
                     {"finished", row.finished},
                     {"failed", row.failed}});
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

std::string JsonStationLogRecord(const PortResult& result, const std::string& utc_time,
                                 const std::string& file, const std::string& sha256, int number,
                                 const std::string& station_start) {
  json record = LogRecord(result, utc_time, file, sha256);
  record["number"] = number;
  record["station_start"] = station_start;
  return JsonText(record);
}
