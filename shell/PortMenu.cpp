#include "shell/PortMenu.h"

#include <algorithm>
#include <cctype>

#include "common/NoCase.h"
#include "common/PortIndex.h"

namespace {

constexpr char kItemPrefix[] = "MnCOM";
constexpr char kNotPresent[] = " (not present)";

// An FTDI adapter still on the driver's timer holds every reply up to that
// long; the note, in the menu's right-hand column, says what sets it to
// 1 ms.
std::string LatencyTimerNote(const PortInfo& port) {
  if (port.LatencyTimerMs <= 1) return "";
  return "\tlatency timer " + std::to_string(port.LatencyTimerMs) +
         " ms: tarvex-flash --tune-adapters sets 1 ms";
}

bool Listed(int number) { return number >= kFirstListedComNumber && number <= kHighestComNumber; }

PortMenuItem ItemFor(int number, std::string caption, int chosen_number) {
  return {PortItemName(number), number, std::move(caption), number == chosen_number};
}

}  // namespace

std::string PortCaption(const PortInfo& port) {
  std::string caption = "COM" + std::to_string(port.Number);
  if (port.Description.empty()) return caption + LatencyTimerNote(port);
  caption += "  " + port.Description;
  // Windows' own ports name their maker "(Standard port types)".
  const bool says_maker = port.Manufacturer.empty() || port.Manufacturer.front() == '(' ||
                          FindNoCase(port.Description, port.Manufacturer) != std::string_view::npos;
  if (!says_maker) caption += " (" + port.Manufacturer + ")";
  return caption + LatencyTimerNote(port);
}

std::vector<PortMenuItem> ListedPortItems(const std::vector<PortInfo>& present, int chosen_number) {
  std::vector<PortMenuItem> items;
  for (const PortInfo& port : present) {
    const bool repeat = std::any_of(items.begin(), items.end(), [&](const PortMenuItem& item) {
      return item.Number == port.Number;
    });
    if (Listed(port.Number) && !repeat)
      items.push_back(ItemFor(port.Number, PortCaption(port), chosen_number));
  }
  const bool chosen_present =
      std::any_of(items.begin(), items.end(),
                  [&](const PortMenuItem& item) { return item.Number == chosen_number; });
  if (Listed(chosen_number) && !chosen_present) {
    items.push_back(
        ItemFor(chosen_number, "COM" + std::to_string(chosen_number) + kNotPresent, chosen_number));
  }
  std::stable_sort(items.begin(), items.end(), [](const PortMenuItem& a, const PortMenuItem& b) {
    return a.Number < b.Number;
  });
  return items;
}

std::string PortItemName(int number) { return kItemPrefix + std::to_string(number); }

int PortNumberOfItem(const std::string& item) {
  const std::string prefix = kItemPrefix;
  if (item.size() <= prefix.size() || item.size() > prefix.size() + 3 ||
      item.compare(0, prefix.size(), prefix) != 0 || item[prefix.size()] == '0') {
    return 0;
  }
  int number = 0;
  for (std::size_t at = prefix.size(); at < item.size(); ++at) {
    if (!std::isdigit(static_cast<unsigned char>(item[at]))) return 0;
    number = number * 10 + (item[at] - '0');
  }
  return number <= kHighestComNumber ? number : 0;
}
