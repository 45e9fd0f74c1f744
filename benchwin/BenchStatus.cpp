#include "benchwin/BenchStatus.h"

#include <fmt/format.h>

#include <algorithm>

namespace {

constexpr char kRefusedFirmware[] =
    "The firmware was refused: choose a sound HEX file with File, Open..., or drop one here.";
constexpr char kReady[] = "Ready: Start (F5) when the firmware and the ports are right.";
constexpr char kStopped[] = "Stopped: every pager in flash mode was told to leave it.";
constexpr char kEnded[] = "The bench has ended.";

}  // namespace

std::string IdleStatus(const FirmwareCard& card, const std::vector<PortEntry>& entries) {
  if (card.path.empty()) return kNoFirmwareText;
  if (!card.loaded) return kRefusedFirmware;
  const bool ticked = std::any_of(entries.begin(), entries.end(),
                                  [](const PortEntry& entry) { return entry.ticked; });
  return ticked ? kReady : kNoPortsText;
}

std::string EndedStatus(bool stopped, int count, int finished) {
  if (stopped) return kStopped;
  if (count > 0 && finished >= count) {
    return fmt::format("{} pagers finished: the count of {} is reached.", finished, count);
  }
  return kEnded;
}
