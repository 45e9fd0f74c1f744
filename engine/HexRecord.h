// Intel HEX records as the loader's framing sees them, and the check a
// firmware file passes before a single command goes on the line. Pure
// functions over text: the file I/O lives in UpdateFlow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The largest record the 52-character record buffer carries: 19 data bytes,
// 49 characters from colon to checksum, 51 with CR LF, plus the zero.
constexpr int kMaxRecordDataBytes = 19;
constexpr std::size_t kRecordOverheadChars = 11;  // ':' LL AAAA TT CC
constexpr std::size_t kMaxRecordChars = kRecordOverheadChars + 2 * kMaxRecordDataBytes;

constexpr std::uint8_t kRecordData = 0x00;
constexpr std::uint8_t kRecordEnd = 0x01;
constexpr std::uint8_t kRecordSegmentAddress = 0x02;
constexpr std::uint8_t kRecordStartSegment = 0x03;
constexpr std::uint8_t kRecordLinearAddress = 0x04;
constexpr std::uint8_t kRecordStartLinear = 0x05;

// The loader's reading of one length digit: above '9' counts as its code
// minus 55 ('A'..'F' give 10..15), anything else as its code minus 48.
int DecodeLengthDigit(char digit);
// Data length from the two length digits, high digit first.
int DecodeRecordLength(char high, char low);
// A record whose first eight characters are ":0000000" reads as the end record.
bool LooksLikeEndRecord(std::string_view record);

// Checks one record, colon to checksum, without its line end. Returns an
// empty string when it is sound, else the reason (a sentence, no line number).
std::string CheckHexRecord(std::string_view record, std::uint8_t& type);

// Checks a whole HEX file fed in chunks of any size, with memory bounded by
// one record: every record sound, every line ending in CR LF (the end record
// alone may lack it at the very end), an end record present, nothing but
// empty lines after it.
class HexFileChecker {
 public:
  // Returns false once a fault is found; later calls change nothing.
  bool Feed(std::string_view chunk);
  // Call once at the end of the file.
  bool Finish();
  bool Failed() const { return !reason_.empty(); }
  // "Line 12: checksum mismatch."
  std::string ErrorText() const;

 private:
  bool Fail(const std::string& reason);
  bool TakeChar(char c);
  bool EndLine();

  std::string line_;
  std::string reason_;
  int line_number_ = 1;
  int fault_line_ = 0;
  bool pending_cr_ = false;
  bool end_seen_ = false;
  bool any_byte_ = false;
};
