#include "bench/LineBound.h"

#include <cstring>
#include <string>

#include "bench/BenchImage.h"
#include "engine/Hexproc.h"

namespace {
constexpr double kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::uint64_t kReplyBytes = 1;
constexpr std::uint64_t kRateCommandBytes = 7;  // "b96006A" and its kin
}  // namespace

LineBound ComputeLineBound(std::uint32_t data_records, int flash_rate) {
  LineBound bound;
  // "f" + ACK and the rate command + ACK, still at the start rate.
  bound.start_rate_bytes = (1 + kReplyBytes) + (kRateCommandBytes + kReplyBytes);
  bound.commands = 2;
  // "e0" + ACK.
  std::uint64_t flash = std::strlen(kCmdErase) + kReplyBytes;
  std::uint64_t commands = 1;
  // Each record but the end record: "s" + record + ACK, then "p" + ACK.
  ForEachImageRecord(data_records, [&](const std::string& record) {
    if (record[7] == '0' && record[8] == '1') return;  // the end record is never sent
    flash += (1 + record.size() + kReplyBytes) + (1 + kReplyBytes);
    commands += 2;
  });
  // "q" + ACK.
  flash += 1 + kReplyBytes;
  commands += 1;
  bound.flash_rate_bytes = flash;
  bound.commands += commands;
  bound.line_seconds = static_cast<double>(bound.start_rate_bytes) * kBitsPerByte / kStartBaudRate +
                       static_cast<double>(bound.flash_rate_bytes) * kBitsPerByte / flash_rate;
  bound.pause_seconds = kExitPauseMs / 1000.0;
  bound.seconds = bound.line_seconds + bound.pause_seconds;
  return bound;
}
