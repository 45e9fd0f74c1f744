#include "IntelHex.h"

#include <cstdio>

namespace pagersim {
namespace {

constexpr size_t kLengthPos = 1;
constexpr size_t kOffsetPos = 3;
constexpr size_t kTypePos = 7;
constexpr size_t kDataPos = 9;

// Reads the byte whose two digits start at text[pos]; -1 if either is not hex.
int ByteAt(std::string_view text, size_t pos) {
  const int hi = HexDigitValue(text[pos]);
  const int lo = HexDigitValue(text[pos + 1]);
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

std::string Hex2(unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", value & 0xFFu);
  return buf;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

uint8_t RecordChecksum(const HexRecord& record) {
  unsigned sum = static_cast<unsigned>(record.data.size()) + (record.offset >> 8) +
                 (record.offset & 0xFFu) + record.type;
  for (uint8_t b : record.data) sum += b;
  return static_cast<uint8_t>(0x100u - (sum & 0xFFu));
}

bool DecodeRecord(std::string_view text, HexRecord* out, std::string* err) {
  if (text.size() < kRecordOverheadChars || text[0] != ':') {
    *err = "record must start with ':' and have at least 11 characters";
    return false;
  }
  // Every digit is validated first so a stray character is reported as such rather than
  // as a misleading length or checksum error.
  for (size_t i = 1; i < text.size(); ++i) {
    if (HexDigitValue(text[i]) < 0) {
      *err = "bad hex digit at position " + std::to_string(i);
      return false;
    }
  }
  const size_t data_bytes = static_cast<size_t>(ByteAt(text, kLengthPos));
  if (text.size() != RecordTextLength(data_bytes)) {
    *err = "record length " + std::to_string(text.size()) + " does not match " +
           std::to_string(data_bytes) + " data bytes";
    return false;
  }
  HexRecord record;
  record.offset =
      static_cast<uint16_t>(ByteAt(text, kOffsetPos) * 256 + ByteAt(text, kOffsetPos + 2));
  record.type = static_cast<uint8_t>(ByteAt(text, kTypePos));
  for (size_t i = 0; i < data_bytes; ++i) {
    record.data.push_back(static_cast<uint8_t>(ByteAt(text, kDataPos + 2 * i)));
  }
  const int stated = ByteAt(text, text.size() - 2);
  const uint8_t computed = RecordChecksum(record);
  if (stated != computed) {
    *err = "bad checksum: record has " + Hex2(stated) + ", bytes give " + Hex2(computed);
    return false;
  }
  *out = std::move(record);
  return true;
}

std::string EncodeRecord(const HexRecord& record) {
  std::string text = ":" + Hex2(static_cast<unsigned>(record.data.size())) +
                     Hex2(record.offset >> 8) + Hex2(record.offset) + Hex2(record.type);
  for (uint8_t b : record.data) text += Hex2(b);
  return text + Hex2(RecordChecksum(record));
}

}  // namespace pagersim
