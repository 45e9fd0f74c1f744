// What a firmware file carries, for a supervisor to check it is the approved
// one before anything is flashed: whether the engine's check passes, its
// records, data bytes and flash ranges, and what the transfer would put on
// the line. Pure, over the checked image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Firmware.h"

struct AddressRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;  // inclusive
  std::uint64_t Bytes() const { return std::uint64_t{last} - first + 1; }
  friend bool operator==(const AddressRange&, const AddressRange&) = default;
};

struct HexSummary {
  bool sound = false;
  // The engine's reason when not sound: "Line 12: checksum mismatch."
  std::string error;
  // Records that go on the line: every record before the end record.
  int records = 0;
  std::uint64_t data_bytes = 0;
  // Flash addresses the data records fill, merged where they touch.
  std::vector<AddressRange> ranges;
  // Bytes both ways before the rate change (at 1200 bit/s) and after it.
  std::uint64_t bytes_at_start_rate = 0;
  std::uint64_t bytes_at_chosen_rate = 0;
};

// The figures of a sound image.
HexSummary SummarizeHex(const CheckedFirmware& firmware);
// A file that is not sound, and why ("Line 12: checksum mismatch.").
HexSummary UnsoundHex(const std::string& reason);

// The time the bytes of a whole update take on the line: 10 bit times each
// (start, 8 data, stop), the command bytes and the one-byte replies.
double LineSeconds(const HexSummary& summary, int rate);
