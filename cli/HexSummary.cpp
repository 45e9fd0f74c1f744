#include "cli/HexSummary.h"

#include <fmt/format.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string_view>

#include "cli/Formatting.h"
#include "engine/Hexproc.h"

namespace {

constexpr int kBitsPerByte = 10;
// Each command is answered by one byte.
constexpr std::uint64_t kReplyBytes = 1;
constexpr std::uint64_t kOneByteCommand = 1;
const std::uint64_t kEraseCommandBytes = std::string_view(kCmdErase).size();

// "f" and the rate command, each answered, at the starting rate.
constexpr std::uint64_t kStartRateBytes =
    kOneByteCommand + kReplyBytes + kRateCommandLength + kReplyBytes;
// "e0" and "q", each answered, at the chosen rate.
const std::uint64_t kFixedChosenRateBytes =
    kEraseCommandBytes + kReplyBytes + kOneByteCommand + kReplyBytes;
// Per record: "s", the record, the reply, "p", the reply.
constexpr std::uint64_t kPerRecordBytes =
    kOneByteCommand + kReplyBytes + kOneByteCommand + kReplyBytes;

}  // namespace

HexSummary UnsoundHex(const std::string& reason) {
  HexSummary summary;
  summary.error = reason;
  return summary;
}

HexSummary SummarizeHex(const CheckedFirmware& firmware) {
  HexSummary summary;
  summary.sound = true;
  summary.records = firmware.Records();
  summary.data_bytes = firmware.DataBytes();
  for (const auto& [first, end] : firmware.WrittenRanges()) {
    summary.ranges.push_back(
        {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end - 1)});
  }
  summary.bytes_at_start_rate = kStartRateBytes;
  summary.bytes_at_chosen_rate = kFixedChosenRateBytes +
                                 kPerRecordBytes * static_cast<std::uint64_t>(summary.records) +
                                 firmware.RecordChars();
  return summary;
}

double LineSeconds(const HexSummary& summary, int rate) {
  if (rate <= 0) return 0.0;
  return static_cast<double>(summary.bytes_at_start_rate * kBitsPerByte) / kStartBaudRate +
         static_cast<double>(summary.bytes_at_chosen_rate * kBitsPerByte) / rate;
}

std::string FormatHexSummary(const std::string& file_name, const HexSummary& summary, int rate) {
  if (!summary.sound) {
    return fmt::format("{}: {}\n{}\n", file_name, msgOpenHexFail.Text, summary.error);
  }
  std::string text = fmt::format("{}: sound\n", file_name);
  text += fmt::format("  records:     {}\n", summary.records);
  text += fmt::format("  data bytes:  {}\n", summary.data_bytes);
  for (const AddressRange& range : summary.ranges) {
    text += fmt::format("  range:       {:08X}-{:08X} ({} bytes)\n", range.first, range.last,
                        std::uint64_t{range.last} - range.first + 1);
  }
  text += fmt::format("  line time:   {:.1f} s at {} bit/s\n", LineSeconds(summary, rate), rate);
  return text;
}

std::string JsonHexSummary(const std::string& file_name, const HexSummary& summary, int rate) {
  nlohmann::json object = {{"event", "check"}, {"file", file_name}, {"sound", summary.sound}};
  if (!summary.sound) {
    object["message"] = msgOpenHexFail.Text;
    object["error"] = summary.error;
  } else {
    nlohmann::json ranges = nlohmann::json::array();
    for (const AddressRange& range : summary.ranges) {
      ranges.push_back({{"first", range.first},
                        {"last", range.last},
                        {"bytes", std::uint64_t{range.last} - range.first + 1}});
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
