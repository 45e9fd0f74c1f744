// Intel HEX records as the loader's framing sees them, and the check a
// firmware file passes before a single command goes on the line. Pure
// functions over text: the file I/O lives in UpdateFlow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Checks a whole HEX file fed in chunks of any size: every record sound,
// every line ending in CR LF or LF, mixed as they come (the end record alone
// may lack it at the very end), an end record present, nothing but empty
// lines after it, and no two data records writing the same address (the
// pager would AND the bytes).
// Memory: one record, and one entry per run of back-to-back records.
class HexFileChecker {
 public:
  // Returns false once a fault is found; later calls change nothing.
  bool Feed(std::string_view chunk);
  // Call once at the end of the file.
  bool Finish();
  bool Failed() const { return !reason_.empty(); }
  // "Line 12: checksum mismatch."
  std::string ErrorText() const;

  // What a file that passed carries to the pager: the records before the end
  // record, their characters from colon to checksum, their data bytes, and
  // the addresses the data records fill as [first, end) ranges in address
  // order, merged where they touch.
  int Records() const { return records_; }
  std::uint64_t RecordChars() const { return record_chars_; }
  std::uint64_t DataBytes() const { return data_bytes_; }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> WrittenRanges() const;

 private:
  // Addresses written by consecutive lines of back-to-back records of one
  // length (the last may be shorter), so the line that wrote any address in
  // it can be worked out again.
  struct Run {
    std::uint64_t end = 0;
    int first_line = 0;
    int last_line = 0;
    std::uint64_t record_bytes = 0;
    bool closed = false;  // a shorter record ended it
  };

  bool Fail(const std::string& reason);
  bool TakeChar(char c);
  bool EndLine();
  // Notes what a sound record does to the address space; false on overlap.
  bool TakeRecord(std::uint8_t type);
  bool NoteWrite(std::uint64_t start, std::uint64_t bytes);
  // The line of an earlier record that wrote into [start, end), or 0.
  int LineWriting(std::uint64_t start, std::uint64_t end) const;

  std::map<std::uint64_t, Run> runs_;  // by first address
  std::uint64_t last_run_start_ = 0;
  bool have_run_ = false;
  std::uint32_t base_address_ = 0;  // from the last 02 or 04 record
  std::string line_;
  std::string reason_;
  int line_number_ = 1;
  int fault_line_ = 0;
  bool pending_cr_ = false;
  bool end_seen_ = false;
  bool any_byte_ = false;
  int records_ = 0;
  std::uint64_t record_chars_ = 0;
  std::uint64_t data_bytes_ = 0;
};
