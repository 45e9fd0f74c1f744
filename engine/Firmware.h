// A firmware file read once and checked whole: the bytes every update sends
// and what they carry. It never changes once made, so one image serves the
// updates of any number of ports at once, each reading it through a HexImage
// of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ReadOnlyFile.h"

// A firmware file is small; anything larger is refused before it is read.
constexpr std::int64_t kMaxHexFileBytes = std::int64_t{64} << 20;
constexpr char kHexFileTooLargeText[] =
    "The file is larger than 64 MiB; no firmware is that large.";

class CheckedFirmware {
 public:
  using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

  // Checks `bytes` as a whole HEX file. Null when they are not sound, with
  // the reason in `reason` ("Line 12: checksum mismatch.").
  static std::shared_ptr<const CheckedFirmware> Check(std::string bytes, std::string& reason);

  // What every update reads: the file with each line ended in CR LF, as the
  // transfer steps through it record by record, whether the file's lines
  // end in CR LF, in LF or in both.
  std::string_view Bytes() const { return sent_.empty() ? file_ : sent_; }
  std::int64_t Size() const { return static_cast<std::int64_t>(Bytes().size()); }
  // The file as it was read, for its hash.
  std::string_view FileBytes() const { return file_; }
  // The records that go on the line (all before the end record), their
  // characters from colon to checksum, their data bytes, and the flash
  // addresses they fill as [first, end) ranges, merged where they touch.
  int Records() const { return records_; }
  std::uint64_t RecordChars() const { return record_chars_; }
  std::uint64_t DataBytes() const { return data_bytes_; }
  const Ranges& WrittenRanges() const { return ranges_; }

 private:
  CheckedFirmware() = default;

  std::string file_;
  std::string sent_;  // empty when the file's lines all end in CR LF
  int records_ = 0;
  std::uint64_t record_chars_ = 0;
  std::uint64_t data_bytes_ = 0;
  Ranges ranges_;
};

struct FirmwareLoad {
  std::shared_ptr<const CheckedFirmware> firmware;  // null when refused
  // Why it was refused: the second line of "Unable to open the HEX file.".
  std::string reason;
  // The whole file was read, so a refusal is the check's.
  bool read = false;
};

// Opens `name` into `file` with `sharing`, then reads and checks it whole. On
// success the file stays open in `file` (the caller decides how long it holds
// it); on failure it is closed.
FirmwareLoad LoadFirmwareFile(ReadOnlyFile& file, const std::string& name, FileSharing sharing);
