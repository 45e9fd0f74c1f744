// Intel HEX records as the loader receives them after an "s" command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pagersim {

inline constexpr uint8_t kRecordData = 0x00;
inline constexpr uint8_t kRecordEndOfFile = 0x01;
inline constexpr uint8_t kRecordExtendedSegment = 0x02;
inline constexpr uint8_t kRecordStartSegment = 0x03;
inline constexpr uint8_t kRecordExtendedLinear = 0x04;
inline constexpr uint8_t kRecordStartLinear = 0x05;

// ':' + 2 length + 4 offset + 2 type + 2 checksum characters around the data digits.
inline constexpr size_t kRecordOverheadChars = 11;
inline constexpr size_t kMaxRecordDataBytes = 255;

struct HexRecord {
  uint8_t type = kRecordData;
  uint16_t offset = 0;
  std::vector<uint8_t> data;
};

constexpr size_t RecordTextLength(size_t data_bytes) {
  return kRecordOverheadChars + 2 * data_bytes;
}

// Value of a hex digit in either case, or -1.
int HexDigitValue(char c);
bool IsUpperHexDigit(char c);

// Two's complement of the sum of all record bytes before the checksum.
uint8_t RecordChecksum(const HexRecord& record);

// Parses ":LLAAAATT<data>CC" without a line ending. Any hex digit may be lower case here;
// the loader's stricter rule for the length digits is enforced while framing. On failure
// returns false and says why in *err (bad digit, wrong length, checksum).
bool DecodeRecord(std::string_view text, HexRecord* out, std::string* err);

// Upper-case record text with a correct checksum, no line ending.
std::string EncodeRecord(const HexRecord& record);

}  // namespace pagersim
