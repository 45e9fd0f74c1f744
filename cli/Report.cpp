#include "cli/Report.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "cli/Formatting.h"
#include "cli/Table.h"
#include "common/VisibleText.h"
#include "station/LogRecord.h"
#include "station/NextStep.h"

namespace {

using nlohmann::json;

constexpr int kPercentStep = 10;
constexpr long kSecondsPerMinute = 60;

std::string FormatEta(double seconds) {
  const auto whole = static_cast<long>(std::lround(seconds));
  return fmt::format("ETA {}:{:02}", whole / kSecondsPerMinute, whole % kSecondsPerMinute);
}

// Figures in JSON to a sensible precision: whole bytes.
long WholeBytesPerSecond(std::uint64_t bytes, double seconds) {
  return std::lround(BytesPerSecond(bytes, seconds));
}

// "8.1" ms and "0.61", or "-" where nothing was measured.
std::string ReplyMsText(const PortResult& result) {
  return result.reply_ms < 0 ? "-" : fmt::format("{:.1f}", result.reply_ms);
}
std::string EfficiencyText(const PortResult& result) {
  return result.line_efficiency < 0 ? "-" : fmt::format("{:.2f}", result.line_efficiency);
}
}  // namespace

std::string_view MessageOutcomeName(UpdateOutcome outcome) {
  return outcome == UpdateOutcome::kNone ? "retry" : OutcomeName(ExitCodeOf(outcome));
}

double EtaSeconds(const PortProgress& progress) {
  if (progress.percent <= 0 || progress.transfer_seconds <= 0) return -1.0;
  return progress.transfer_seconds * (100 - progress.percent) / progress.percent;
}

bool CrossesTenth(int before, int after) { return after / kPercentStep > before / kPercentStep; }

namespace {

// As wide as the longest stage name, or outcome name (a finished pager's
// line shows its outcome there), so the figures after it stand in one column
// whatever each pager is at.
std::size_t StageWidth() {
  std::size_t width = LongestOutcomeName();
  for (int stage = 0; stage <= static_cast<int>(UpdateStage::kFinish); ++stage) {
    width = std::max(width, StageName(static_cast<UpdateStage>(stage)).size());
  }
  return width;
}

constexpr std::size_t kRateWidth = 9;  // "  905 B/s"

// The line rate and the time left can be told only once records are going
// out: before that the bytes are a few commands at the starting rate and
// what the driver has taken but not yet sent.
std::string RateAndEta(const PortProgress& progress) {
  if (progress.records <= 0 || progress.seconds <= 0) return std::string(kRateWidth, ' ');
  std::string text =
      fmt::format("{:>5.0f} B/s", BytesPerSecond(progress.line_bytes, progress.seconds));
  if (EtaSeconds(progress) >= 0) text += "  " + FormatEta(EtaSeconds(progress));
  return text;
}

}  // namespace

std::string FormatProgressLine(const PortProgress& progress, std::size_t port_width) {
  const std::string records = fmt::format("{}/{}", progress.records, progress.records_total);
  std::string line = fmt::format("{:<{}}  {:<{}} {:>3}%  {:>11} records  {}",
                                 VisibleText(progress.port), port_width, progress.stage,
                                 StageWidth(), progress.percent, records, RateAndEta(progress));
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

namespace {

constexpr char kWhyIndent[] = "  ";

// `text` on lines of its own below a row, indented, word-wrapped within
// `columns`.
std::string IndentedLines(const std::string& text, std::size_t columns) {
  std::string lines;
  const std::size_t indent = sizeof kWhyIndent - 1;
  for (const std::string& line : WrapLine(kWhyIndent + text, columns, indent)) lines += line + "\n";
  return lines;
}

}  // namespace

// When the screen is narrow the columns go in this order: efficiency, reply
// lateness, line bytes per second, serial, seconds; then the port's name is
// shortened in the middle. Why a pager failed stands on lines of its own.
std::string FormatSummary(const std::vector<PortResult>& results, std::size_t columns) {
  TableColumn port = PortColumn("PORT");
  TableColumn serial{"SERIAL", {}, false, 4};
  TableColumn outcome{"OUTCOME", {}};
  TableColumn seconds{"SECONDS", {}, true, 5};
  TableColumn rate{"LINE B/S", {}, true, 3};
  TableColumn reply{"REPLY MS", {}, true, 2};
  TableColumn efficiency{"EFFICIENCY", {}, true, 1};
  for (const PortResult& result : results) {
    port.cells.push_back(VisibleText(result.port));
    serial.cells.push_back(OrDash(VisibleText(result.adapter_serial)));
    outcome.cells.push_back(std::string(OutcomeName(result.code)));
    seconds.cells.push_back(fmt::format("{:.1f}", result.seconds));
    rate.cells.push_back(fmt::format("{:.0f}", BytesPerSecond(result.line_bytes, result.seconds)));
    reply.cells.push_back(ReplyMsText(result));
    efficiency.cells.push_back(EfficiencyText(result));
  }
  const std::vector<std::string> lines =
      LayOutTable({port, serial, outcome, seconds, rate, reply, efficiency}, columns);
  std::string table = lines.front() + "\n";
  for (std::size_t i = 0; i < results.size(); ++i) {
    table += lines[i + 1] + "\n";
    if (results[i].code != ExitCode::kFinished) {
      table += IndentedLines(OneLine(VisibleLines(results[i].message)), columns);
      table += IndentedLines(std::string(NextStep(results[i].code)), columns);
    }
  }
  return table;
}

namespace {

constexpr std::size_t kPercentWidth = 4;   // "100%"
constexpr std::size_t kRateCellWidth = 8;  // "9999 B/s"
constexpr std::size_t kEtaWidth = 9;       // "ETA 99:59"

std::string RecordsText(int records, int total) {
  return fmt::format("{}/{} records", records, total);
}

// As wide as the longest count of records can be: every pager of a run
// sends the one image.
std::size_t RecordsWidth(const std::vector<PortProgress>& progresses) {
  int total = 0;
  for (const PortProgress& progress : progresses) total = std::max(total, progress.records_total);
  return RecordsText(total, total).size();
}

// The longest name among the ports, as the port column keeps it.
std::size_t LongestPortName(const std::vector<PortProgress>& progresses) {
  std::size_t longest = 0;
  for (const PortProgress& progress : progresses) {
    longest = std::max(longest, DisplayWidth(VisibleText(progress.port)));
  }
  return longest;
}

}  // namespace

// Steady: each column keeps its width while the figures change, so the
// rate and the time left stand where they will stand before they are known.
std::vector<std::string> FormatProgressRows(const std::vector<PortProgress>& progresses,
                                            std::size_t columns, std::size_t port_width) {
  TableColumn port = PortColumn(
      "", std::min(kKeptPortName, port_width > 0 ? port_width : LongestPortName(progresses)));
  TableColumn stage{"", {}, false, 0, false, 0, 0, StageWidth()};
  TableColumn percent{"", {}, true, 0, false, 0, 0, kPercentWidth};
  TableColumn records{"", {}, true, 3, false, 0, 0, RecordsWidth(progresses)};
  TableColumn rate{"", {}, true, 2, false, 0, 0, kRateCellWidth};
  TableColumn eta{"", {}, false, 1, false, 0, 0, kEtaWidth};
  for (const PortProgress& progress : progresses) {
    port.cells.push_back(VisibleText(progress.port));
    stage.cells.push_back(progress.stage);
    percent.cells.push_back(fmt::format("{}%", progress.percent));
    records.cells.push_back(RecordsText(progress.records, progress.records_total));
    const bool going = progress.records > 0 && progress.seconds > 0;
    rate.cells.push_back(
        going ? fmt::format("{:.0f} B/s", BytesPerSecond(progress.line_bytes, progress.seconds))
              : "");
    eta.cells.push_back(going && EtaSeconds(progress) >= 0 ? FormatEta(EtaSeconds(progress)) : "");
  }
  return LayOutTable({port, stage, percent, records, rate, eta}, columns, false,
                     TableSizing::kSteady);
}

std::string FormatMessageLine(const std::string& port, const std::string& text,
                              UpdateOutcome outcome) {
  std::string line = VisibleText(port) + ": ";
  for (const char c : VisibleLines(text)) {
    line += c == '\n' ? std::string("\n") + kWhyIndent : std::string(1, c);
  }
  // A message after which the update goes on, or the one that says it
  // finished, needs nothing done.
  if (outcome == UpdateOutcome::kNone || outcome == UpdateOutcome::kFinished) return line;
  return line + "\n" + kWhyIndent + std::string(NextStep(ExitCodeOf(outcome)));
}

std::string JsonStart(const std::string& port, const std::string& file, int baud, int resend) {
  json object = {{"event", "start"}, {"baud", baud}, {"resend", resend}};
  PutName(object, "port", port);
  PutName(object, "file", file);
  return JsonText(object);
}

std::string JsonProgress(const PortProgress& progress) {
  json object = {
      {"event", "progress"},
      {"stage", progress.stage},
      {"percent", progress.percent},
      {"records", progress.records},
      {"records_total", progress.records_total},
      {"seconds", RoundedSeconds(progress.seconds)},
      // Not known before records are going out.
      {"bytes_per_second", progress.records > 0
                               ? json(WholeBytesPerSecond(progress.line_bytes, progress.seconds))
                               : json(nullptr)}};
  PutName(object, "port", progress.port);
  return JsonText(object);
}

std::string JsonMessage(const std::string& port, const std::string& text, UpdateOutcome outcome) {
  json object = {{"event", "message"}, {"text", text}, {"outcome", MessageOutcomeName(outcome)}};
  PutName(object, "port", port);
  return JsonText(object);
}

std::string JsonNote(const std::string& text) {
  return JsonText({{"event", "note"}, {"text", text}});
}

std::string JsonEnd(const PortResult& result) {
  json object = ResultFields(result);
  object["event"] = "end";
  object["records"] = result.records;
  object["bytes_per_second"] = WholeBytesPerSecond(result.line_bytes, result.seconds);
  return JsonText(object);
}

std::string JsonSummary(const std::vector<PortResult>& results, ExitCode code, const LogJob* job) {
  json failed = json::array();
  for (const PortResult& result : results) {
    if (result.code != ExitCode::kFinished) failed.push_back(result.port);
  }
  json summary = {{"event", "summary"},
                  {"exit_code", static_cast<int>(code)},
                  {"outcome", OutcomeName(code)},
                  {"pagers", results.size()},
                  {"failed", failed}};
  if (job != nullptr) AddJobFields(summary, *job);
  return JsonText(summary);
}
