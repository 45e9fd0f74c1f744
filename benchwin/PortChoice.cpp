#include "benchwin/PortChoice.h"

#include <algorithm>
#include <cctype>

#include "common/NoCase.h"

namespace {

// Whether `given` is the entry as chosen: by serial number, or by a name
// that means the same COM port.
bool Chooses(const std::string& given, const PortEntry& entry) {
  if (NamesAdapterSerial(given)) {
    return !entry.serial.empty() && SameText(SerialNamedBy(given), entry.serial);
  }
  const int number = ComNumberOf(given);
  return number > 0 ? number == ComNumberOf(entry.name) : given == entry.name;
}

PortEntry Absent(const std::string& given) {
  PortEntry entry;
  entry.present = false;
  entry.ticked = true;
  if (NamesAdapterSerial(given)) {
    entry.serial = SerialNamedBy(given);
    entry.by_serial = true;
  } else {
    entry.name = given;
  }
  return entry;
}

std::string AdapterCell(const PortEntry& entry) {
  if (entry.present) return entry.adapter;
  return entry.adapter.empty() ? "(not present)" : entry.adapter + " (not present)";
}

}  // namespace

std::string GivenPort(const PortEntry& entry) {
  return entry.by_serial ? std::string(kSerialPrefix) + entry.serial : entry.name;
}

std::string AdapterName(const PortInfo& port) {
  if (port.Manufacturer.empty() ||
      FindNoCase(port.Description, port.Manufacturer) != std::string_view::npos) {
    return port.Description;
  }
  if (port.Description.empty()) return port.Manufacturer;
  return port.Description + " (" + port.Manufacturer + ")";
}

std::vector<PortEntry> PortEntries(const std::vector<PortInfo>& present,
                                   const std::vector<std::string>& chosen) {
  std::vector<PortEntry> entries;
  for (const PortInfo& port : present) {
    entries.push_back({port.Name, AdapterName(port), port.Serial});
  }
  for (const std::string& given : chosen) {
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const PortEntry& entry) {
      return entry.present && !entry.ticked && Chooses(given, entry);
    });
    if (found == entries.end()) {
      entries.push_back(Absent(given));
      continue;
    }
    found->ticked = true;
    found->by_serial = NamesAdapterSerial(given);
  }
  return entries;
}

std::vector<std::string> ChosenPorts(const std::vector<PortEntry>& entries) {
  std::vector<std::string> chosen;
  for (const PortEntry& entry : entries) {
    if (entry.ticked) chosen.push_back(GivenPort(entry));
  }
  return chosen;
}

std::string TickedOutOfView(const std::vector<PortEntry>& entries, std::size_t first,
                            std::size_t shown) {
  constexpr std::size_t kNamesTold = 4;
  std::vector<std::string> hidden;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].ticked && (i < first || i >= first + shown))
      hidden.push_back(GivenPort(entries[i]));
  }
  if (hidden.empty()) return "";
  std::string names;
  for (std::size_t i = 0; i < hidden.size() && i < kNamesTold; ++i) {
    names += (i == 0 ? "" : ", ") + hidden[i];
  }
  if (hidden.size() > kNamesTold) names += ", \u2026";
  const bool one = hidden.size() == 1;
  return std::to_string(hidden.size()) + (one ? " ticked port" : " ticked ports") +
         " out of view: " + names;
}

std::array<std::string, 4> PortCells(const PortEntry& entry) {
  return {entry.name.empty() ? "-" : entry.name, AdapterCell(entry), entry.serial,
          entry.by_serial ? "serial number" : "COM name"};
}
