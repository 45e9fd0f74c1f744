#include "benchwin/FirmwareCard.h"

#include <fmt/format.h>

#include "common/Sha256.h"
#include "engine/Hexproc.h"

namespace {

// Enough digits to tell two files apart at a glance; the box has them all.
constexpr std::size_t kShortShaDigits = 16;
// More ranges than this are counted, not listed, in the window.
constexpr std::size_t kRangesShown = 3;

std::string RangeText(const AddressRange& range) {
  return fmt::format("{:08X}-{:08X}", range.first, range.last);
}

std::uint64_t RangeBytes(const AddressRange& range) {
  return std::uint64_t{range.last} - range.first + 1;
}

}  // namespace

std::string FileNameOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

FirmwareCard DescribeFirmware(const std::string& path, const FirmwareLoad& load) {
  FirmwareCard card;
  card.path = path;
  card.name = FileNameOf(path);
  if (!load.firmware) {
    card.refusal = std::string(msgOpenHexFail.Text) + "\n" + load.reason;
    return card;
  }
  card.loaded = true;
  card.summary = SummarizeHex(*load.firmware);
  card.sha256 = Sha256Hex(load.firmware->FileBytes());
  return card;
}

std::string FirmwareFigures(const FirmwareCard& card) {
  if (!card.loaded) return "";
  return fmt::format("{} records, {} data bytes", card.summary.records, card.summary.data_bytes);
}

std::string FirmwareRanges(const FirmwareCard& card) {
  const auto& ranges = card.summary.ranges;
  std::string text;
  for (std::size_t i = 0; i < ranges.size() && i < kRangesShown; ++i) {
    text += (i == 0 ? "" : ", ") + RangeText(ranges[i]);
  }
  if (ranges.size() > kRangesShown) {
    text += fmt::format(" and {} more (Details...)", ranges.size() - kRangesShown);
  }
  return text;
}

std::string ShortSha256(const FirmwareCard& card) {
  if (card.sha256.empty()) return "";
  return "SHA-256 " + card.sha256.substr(0, kShortShaDigits) + "\u2026";
}

std::string FirmwareDetails(const FirmwareCard& card) {
  if (!card.loaded) return card.path + "\n\n" + card.refusal;
  std::string text = card.path + "\n\n";
  text += FirmwareFigures(card) + "\n";
  for (const AddressRange& range : card.summary.ranges) {
    text += fmt::format("{} ({} bytes)\n", RangeText(range), RangeBytes(range));
  }
  return text + "\nSHA-256\n" + card.sha256;
}
