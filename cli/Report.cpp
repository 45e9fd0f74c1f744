#include "cli/Report.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "cli/Formatting.h"
#include "common/VisibleText.h"
#include "station/LogRecord.h"

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

std::string FormatSummary(const std::vector<PortResult>& results) {
  std::size_t port_width = 4;
  std::size_t serial_width = 14;
  for (const PortResult& result : results) {
    port_width = std::max(port_width, VisibleText(result.port).size());
    serial_width = std::max(serial_width, VisibleText(result.adapter_serial).size());
  }
  std::string table = fmt::format("{:<{}}  {:<{}}  {:<16}  {:>7}  {:>7}  {:>8}  {:>10}  {}\n",
                                  "PORT", port_width, "ADAPTER SERIAL", serial_width, "OUTCOME",
                                  "SECONDS", "BYTES/S", "REPLY MS", "EFFICIENCY", "WHY");
  for (const PortResult& result : results) {
    std::string row = fmt::format(
        "{:<{}}  {:<{}}  {:<16}  {:>7.1f}  {:>7.0f}  {:>8}  {:>10}", VisibleText(result.port),
        port_width, OrDash(VisibleText(result.adapter_serial)), serial_width,
        OutcomeName(result.code), result.seconds, BytesPerSecond(result.line_bytes, result.seconds),
        ReplyMsText(result), EfficiencyText(result));
    if (result.code != ExitCode::kFinished) row += "  " + OneLine(VisibleLines(result.message));
    table += row + "\n";
  }
  return table;
}

std::string FormatMessageLine(const std::string& port, const std::string& text) {
  std::string line = VisibleText(port) + ": ";
  for (const char c : VisibleLines(text)) {
    line += c == '\n' ? std::string("\n  ") : std::string(1, c);
  }
  return line;
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

std::string JsonSummary(const std::vector<PortResult>& results, ExitCode code) {
  json failed = json::array();
  for (const PortResult& result : results) {
    if (result.code != ExitCode::kFinished) failed.push_back(result.port);
  }
  return JsonText({{"event", "summary"},
                   {"exit_code", static_cast<int>(code)},
                   {"outcome", OutcomeName(code)},
                   {"pagers", results.size()},
                   {"failed", failed}});
}
