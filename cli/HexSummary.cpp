#include "cli/HexSummary.h"

#include <fmt/format.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/Formatting.h"
#include "common/VisibleText.h"
#include "engine/Hexproc.h"
#include "station/NextStep.h"

std::string FormatHexSummary(const std::string& file_name, const HexSummary& summary, int rate) {
  if (!summary.sound) {
    // The whole file was read: what failed is its check, not its opening.
    const FileRefusal refusal = RefusalOf(FirmwareLoad{nullptr, summary.error, true});
    return fmt::format("{}: {}\n{}\n{}\n", VisibleText(file_name), refusal.headline,
                       VisibleLines(refusal.reason), refusal.next_step);
  }
  std::string text = fmt::format("{}: OK, no errors found\n", VisibleText(file_name));
  text += fmt::format("  records:     {}\n", summary.records);
  text += fmt::format("  data bytes:  {}\n", summary.data_bytes);
  for (const AddressRange& range : summary.ranges) {
    text += fmt::format("  range:       {:08X}-{:08X} ({} bytes)\n", range.first, range.last,
                        range.Bytes());
  }
  text += fmt::format("  line time:   {:.1f} s at {} bit/s\n", LineSeconds(summary, rate), rate);
  return text;
}

std::string JsonHexSummary(const std::string& file_name, const HexSummary& summary, int rate) {
  nlohmann::json object = {{"event", "check"}, {"sound", summary.sound}};
  PutName(object, "file", file_name);
  if (!summary.sound) {
    object["message"] = RefusalOf(FirmwareLoad{nullptr, summary.error, true}).headline;
    object["error"] = summary.error;
  } else {
    nlohmann::json ranges = nlohmann::json::array();
    for (const AddressRange& range : summary.ranges) {
      ranges.push_back({{"first", range.first}, {"last", range.last}, {"bytes", range.Bytes()}});
    }
    object["records"] = summary.records;
    object["data_bytes"] = summary.data_bytes;
    object["ranges"] = ranges;
    object["baud"] = rate;
    // Milliseconds are as fine as the line time can be told.
    object["line_seconds"] = std::round(LineSeconds(summary, rate) * 1000) / 1000;
  }
  return JsonText(object) + "\n";
}
