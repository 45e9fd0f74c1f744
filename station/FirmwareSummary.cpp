#include "station/FirmwareSummary.h"

#include "engine/Protocol.h"

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
  const UpdateLineBytes line = LineBytesOfUpdate(summary.records, firmware.RecordChars());
  summary.bytes_at_start_rate = line.at_start_rate;
  summary.bytes_at_chosen_rate = line.at_transfer_rate;
  return summary;
}

double LineSeconds(const HexSummary& summary, int rate) {
  if (rate <= 0) return 0.0;
  constexpr double kMsPerSecond = 1000.0;
  return (LineMs(summary.bytes_at_start_rate, kStartBaudRate) +
          LineMs(summary.bytes_at_chosen_rate, rate)) /
         kMsPerSecond;
}
