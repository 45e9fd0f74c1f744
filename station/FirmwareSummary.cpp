#include "station/FirmwareSummary.h"

#include <string_view>

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
