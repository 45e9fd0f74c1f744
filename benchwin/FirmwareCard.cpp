#include "benchwin/FirmwareCard.h"

#include <fmt/format.h>

#include <algorithm>

#include "common/Sha256.h"
#include "station/NextStep.h"

namespace {

// Enough digits to tell two files apart at a glance; the box has them all.
constexpr std::size_t kShortShaDigits = 16;
// More ranges than this are counted, not listed, in the window.
constexpr std::size_t kRangesShown = 3;
constexpr char kNoFirmwareLine[] = "No firmware chosen: File, Open..., or drop a HEX file here.";

std::string RangeText(const AddressRange& range) {
  return fmt::format("{:08X}-{:08X}", range.first, range.last);
}

std::string Figures(const FirmwareCard& card) {
  return fmt::format("{} records, {} data bytes", card.summary.records, card.summary.data_bytes);
}

// The first few ranges; more are counted, the details box has them all.
std::string RangesText(const std::vector<AddressRange>& ranges) {
  std::string text;
  for (std::size_t i = 0; i < ranges.size() && i < kRangesShown; ++i) {
    text += (i == 0 ? "" : ", ") + RangeText(ranges[i]);
  }
  if (ranges.size() > kRangesShown) {
    text += fmt::format(" and {} more (Details...)", ranges.size() - kRangesShown);
  }
  return text;
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
    const FileRefusal refusal = RefusalOf(load);
    card.refusal = refusal.headline + "\n" + refusal.reason;
    card.next_step = refusal.next_step;
    return card;
  }
  card.loaded = true;
  card.summary = SummarizeHex(*load.firmware);
  card.sha256 = Sha256Hex(load.firmware->FileBytes());
  return card;
}

FirmwareLines LinesOf(const FirmwareCard& card) {
  FirmwareLines lines;
  lines.job = card.job;
  lines.name = card.path.empty() ? kNoFirmwareLine : card.name;
  if (card.loaded) {
    const std::string ranges = RangesText(card.summary.ranges);
    lines.figures = Figures(card) + (ranges.empty() ? "" : ", " + ranges);
    lines.sha = "SHA-256 " + card.sha256.substr(0, kShortShaDigits) + "\u2026";
  } else if (!card.refusal.empty()) {
    lines.figures = card.refusal;
    std::replace(lines.figures.begin(), lines.figures.end(), '\n', ' ');
    lines.refused = true;
  }
  return lines;
}

std::string FirmwareDetails(const FirmwareCard& card) {
  if (!card.loaded) return card.path + "\n\n" + card.refusal + "\n\n" + card.next_step;
  std::string text = card.path + "\n\n";
  text += Figures(card) + "\n";
  for (const AddressRange& range : card.summary.ranges) {
    text += fmt::format("{} ({} bytes)\n", RangeText(range), range.Bytes());
  }
  return text + "\nSHA-256\n" + card.sha256;
}
