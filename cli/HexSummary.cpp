#include "cli/HexSummary.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/HexRecord.h"
#include "engine/Hexproc.h"

namespace {

constexpr int kBitsPerByte = 10;
constexpr int kReplyBytes = 1;
// "f" and the rate command, each answered, at the starting rate.
constexpr std::uint64_t kStartRateBytes = 1 + kReplyBytes + 7 + kReplyBytes;
// "e0" and "q", each answered, at the chosen rate.
constexpr std::uint64_t kFixedChosenRateBytes = 2 + kReplyBytes + 1 + kReplyBytes;
// Per record: "s", the record, the reply, "p", the reply.
constexpr std::uint64_t kPerRecordBytes = 1 + kReplyBytes + 1 + kReplyBytes;

int HexByteAt(std::string_view text, std::size_t pos) {
  return std::stoi(std::string(text.substr(pos, 2)), nullptr, 16);
}

std::vector<AddressRange> Merge(std::vector<AddressRange> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
  std::vector<AddressRange> merged;
  for (const AddressRange& range : ranges) {
    if (!merged.empty() && range.first <= std::uint64_t{merged.back().last} + 1) {
      merged.back().last = std::max(merged.back().last, range.last);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

// Adds one sound record (colon to checksum) to the summary.
void CountRecord(std::string_view record, std::uint32_t& base, HexSummary& summary,
                 std::vector<AddressRange>& ranges) {
  const int length = HexByteAt(record, 1);
  const auto offset =
      static_cast<std::uint32_t>((HexByteAt(record, 3) << 8) | HexByteAt(record, 5));
  const int type = HexByteAt(record, 7);
  if (type == kRecordEnd) return;
  ++summary.records;
  summary.bytes_at_chosen_rate += kPerRecordBytes + record.size();
  if (type == kRecordData && length > 0) {
    summary.data_bytes += static_cast<std::uint64_t>(length);
    ranges.push_back({base + offset, base + offset + static_cast<std::uint32_t>(length) - 1});
  } else if (type == kRecordSegmentAddress || type == kRecordLinearAddress) {
    const auto value =
        static_cast<std::uint32_t>((HexByteAt(record, 9) << 8) | HexByteAt(record, 11));
    base = type == kRecordSegmentAddress ? value << 4 : value << 16;
  }
}

}  // namespace

HexSummary SummarizeHex(std::string_view text) {
  HexSummary summary;
  HexFileChecker checker;
  checker.Feed(text);
  if (!checker.Finish()) {
    summary.error = checker.ErrorText();
    return summary;
  }
  summary.sound = true;
  summary.bytes_at_start_rate = kStartRateBytes;
  summary.bytes_at_chosen_rate = kFixedChosenRateBytes;
  std::uint32_t base = 0;
  std::vector<AddressRange> ranges;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) CountRecord(line, base, summary, ranges);
    start = end + 1;
  }
  summary.ranges = Merge(std::move(ranges));
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
