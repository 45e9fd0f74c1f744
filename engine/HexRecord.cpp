#include "engine/HexRecord.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr std::string_view kEndRecordPrefix = ":0000000";
constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;
constexpr std::string_view kEndRecord = ":00000001FF";
// Windows tools end lines in CR LF, Unix tools and git checkouts in LF; a
// lone CR or anything else is no line end.
constexpr char kNoLineEnd[] = "line does not end in CR LF or LF.";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsLengthDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int ByteAt(std::string_view record, std::size_t pos) {
  return HexValue(record[pos]) * 16 + HexValue(record[pos + 1]);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = (a[i] >= 'a' && a[i] <= 'f') ? static_cast<char>(a[i] - 32) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// Data length each address or start record must have.
int ExpectedLength(std::uint8_t type) {
  switch (type) {
    case kRecordSegmentAddress:
    case kRecordLinearAddress:
      return 2;
    case kRecordStartSegment:
    case kRecordStartLinear:
      return 4;
    default:
      return -1;
  }
}

std::string CheckRecordMeaning(std::string_view record, std::uint8_t type, int length) {
  if (type > kRecordStartLinear) return "unknown record type.";
  if (type == kRecordEnd) {
    return SameIgnoringCase(record, kEndRecord) ? "" : "malformed end record.";
  }
  const int expected = ExpectedLength(type);
  if (expected >= 0 && length != expected) return "address record of the wrong length.";
  // The loader's framing takes any record starting ":0000000" for the end.
  if (LooksLikeEndRecord(record)) return "empty record at address 0000 reads as the end record.";
  return "";
}

}  // namespace

int DecodeLengthDigit(char digit) {
  const int code = static_cast<unsigned char>(digit);
  return digit > '9' ? code - 55 : code - 48;
}

int DecodeRecordLength(char high, char low) {
  return 16 * DecodeLengthDigit(high) + DecodeLengthDigit(low);
}

bool LooksLikeEndRecord(std::string_view record) {
  return record.substr(0, kEndRecordPrefix.size()) == kEndRecordPrefix;
}

std::string CheckHexRecord(std::string_view record, std::uint8_t& type) {
  if (record.empty()) return "empty line.";
  if (record[0] != ':') return "record does not start with ':'.";
  if (record.size() < 3) return "record too short.";
  if (!IsLengthDigit(record[1]) || !IsLengthDigit(record[2])) return "bad record length digits.";
  const int length = DecodeRecordLength(record[1], record[2]);
  if (length > kMaxRecordDataBytes) return "record longer than 19 data bytes.";
  for (std::size_t i = 1; i < record.size(); ++i) {
    if (HexValue(record[i]) < 0) return "character that is not a hex digit.";
  }
  if (record.size() != kRecordOverheadChars + 2 * static_cast<std::size_t>(length)) {
    return "record length does not match its length field.";
  }
  int sum = 0;
  for (std::size_t pos = 1; pos < record.size(); pos += 2) sum += ByteAt(record, pos);
  if ((sum & 0xFF) != 0) return "checksum mismatch.";
  type = static_cast<std::uint8_t>(ByteAt(record, 7));
  return CheckRecordMeaning(record, type, length);
}

bool HexFileChecker::Fail(const std::string& reason) {
  if (reason_.empty()) {
    reason_ = reason;
    fault_line_ = line_number_;
  }
  return false;
}

std::string HexFileChecker::ErrorText() const {
  if (reason_.empty()) return "";
  return "Line " + std::to_string(fault_line_) + ": " + reason_;
}

int HexFileChecker::LineWriting(std::uint64_t start, std::uint64_t end) const {
  auto it = runs_.upper_bound(start);
  if (it != runs_.begin() && std::prev(it)->second.end > start) {
    --it;
  } else if (it == runs_.end() || it->first >= end) {
    return 0;
  }
  // The first address both write, and the record of the run that holds it.
  const std::uint64_t first = std::max(start, it->first);
  const Run& run = it->second;
  return run.first_line + static_cast<int>((first - it->first) / run.record_bytes);
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> HexFileChecker::WrittenRanges() const {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  // The runs never overlap (that fails the check) and come in address order.
  for (const auto& [first, run] : runs_) {
    if (!ranges.empty() && ranges.back().second == first) {
      ranges.back().second = run.end;
    } else {
      ranges.emplace_back(first, run.end);
    }
  }
  return ranges;
}

bool HexFileChecker::NoteWrite(std::uint64_t start, std::uint64_t bytes) {
  const std::uint64_t end = start + bytes;
  if (const int earlier = LineWriting(start, end)) {
    return Fail("overlaps line " + std::to_string(earlier) + ".");
  }
  if (have_run_) {
    Run& last = runs_[last_run_start_];
    if (!last.closed && last.end == start && last.last_line + 1 == line_number_ &&
        bytes <= last.record_bytes) {
      last.end = end;
      last.last_line = line_number_;
      last.closed = bytes < last.record_bytes;
      return true;
    }
  }
  runs_[start] = Run{end, line_number_, line_number_, bytes, false};
  last_run_start_ = start;
  have_run_ = true;
  return true;
}

bool HexFileChecker::TakeRecord(std::uint8_t type) {
  const auto byte_at = [this](std::size_t pos) {
    return static_cast<std::uint32_t>(ByteAt(line_, pos));
  };
  const std::uint32_t length = byte_at(1);
  switch (type) {
    case kRecordData: {
      // The loader adds the offset to the base in 32 bits; a record that
      // would run past the top would wrap to address 0 on the pager.
      const std::uint32_t start = base_address_ + (byte_at(3) << 8 | byte_at(5));
      if (std::uint64_t{start} + length > kAddressSpaceEnd) {
        return Fail("record runs past address FFFFFFFF.");
      }
      data_bytes_ += length;
      return length == 0 || NoteWrite(start, length);
    }
    case kRecordSegmentAddress:
      base_address_ = (byte_at(9) << 8 | byte_at(11)) << 4;
      return true;
    case kRecordLinearAddress:
      base_address_ = (byte_at(9) << 8 | byte_at(11)) << 16;
      return true;
    default:
      return true;
  }
}

bool HexFileChecker::EndLine() {
  if (end_seen_) {
    // Only empty lines may follow the end record: anything else would never
    // reach the pager.
    if (!line_.empty()) return Fail("data after the end record.");
  } else {
    std::uint8_t type = 0;
    const std::string reason = CheckHexRecord(line_, type);
    if (!reason.empty()) return Fail(reason);
    if (!TakeRecord(type)) return false;
    end_seen_ = type == kRecordEnd;
    if (!end_seen_) {
      ++records_;
      record_chars_ += line_.size();
    }
  }
  line_.clear();
  ++line_number_;
  return true;
}

bool HexFileChecker::TakeChar(char c) {
  any_byte_ = true;
  if (pending_cr_) {
    // A CR is only ever the first half of CR LF.
    if (c != '\n') return Fail(kNoLineEnd);
    pending_cr_ = false;
    return EndLine();
  }
  if (c == '\r') {
    pending_cr_ = true;
    return true;
  }
  if (c == '\n') return EndLine();
  // Memory stays bounded by one record however long the line.
  if (line_.size() >= kMaxRecordChars) {
    return Fail(end_seen_ ? "data after the end record." : "record longer than 19 data bytes.");
  }
  line_.push_back(c);
  return true;
}

bool HexFileChecker::Feed(std::string_view chunk) {
  if (Failed()) return false;
  for (const char c : chunk) {
    if (!TakeChar(c)) return false;
  }
  return true;
}

bool HexFileChecker::Finish() {
  if (Failed()) return false;
  if (!any_byte_) return Fail("the file is empty.");
  if (pending_cr_) return Fail(kNoLineEnd);
  if (!line_.empty()) {
    // The end record alone may stand at the very end without a line end.
    std::uint8_t type = 0;
    if (end_seen_) return Fail("data after the end record.");
    const std::string reason = CheckHexRecord(line_, type);
    if (!reason.empty()) return Fail(reason);
    if (type != kRecordEnd) return Fail(kNoLineEnd);
    end_seen_ = true;
  }
  if (!end_seen_) return Fail("the file has no end record.");
  return true;
}
