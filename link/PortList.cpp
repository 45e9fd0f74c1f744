// The platform-free part of the port list: reading what the system's strings
// say, and putting the ports of several sources into one ordered list.
#include "link/PortList.h"

#include <algorithm>
#include <cctype>

#include "common/DosDevice.h"
#include "common/NoCase.h"

namespace {

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The four hex digits after `key` ("VID_"), upper-cased; empty when they are
// not there.
std::string FourHexAfter(std::string_view text, std::string_view key) {
  const std::size_t at = FindNoCase(text, key);
  if (at == std::string_view::npos || at + key.size() + 4 > text.size()) return {};
  std::string digits(text.substr(at + key.size(), 4));
  if (!std::all_of(digits.begin(), digits.end(), IsHex)) return {};
  return ToUpper(digits);
}

// The part of `text` between the `index`th `separator` and the next one.
std::string_view Field(std::string_view text, char separator, int index) {
  for (; index > 0; --index) {
    const std::size_t cut = text.find(separator);
    if (cut == std::string_view::npos) return {};
    text.remove_prefix(cut + 1);
  }
  return text.substr(0, text.find(separator));
}

// Windows makes up an instance number ("6&2A3B4C&0&1") for a device that
// reports no serial number; it names no adapter, so it is not one.
std::string SerialOrNothing(std::string_view candidate) {
  if (candidate.empty() || candidate.find('&') != std::string_view::npos) return {};
  return std::string(candidate);
}

// "ttyUSB10" compares after "ttyUSB2": runs of digits compare as numbers.
bool NaturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      const std::size_t i0 = i, j0 = j;
      while (i < a.size() && IsDigit(a[i])) ++i;
      while (j < b.size() && IsDigit(b[j])) ++j;
      std::string_view x = a.substr(i0, i - i0), y = b.substr(j0, j - j0);
      while (x.size() > 1 && x.front() == '0') x.remove_prefix(1);
      while (y.size() > 1 && y.front() == '0') y.remove_prefix(1);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i, ++j;
  }
  return a.size() - i < b.size() - j;
}

void FillIfEmpty(std::string& field, const std::string& value) {
  if (field.empty()) field = value;
}

// "/dev/ttyUSB0 (A600ARJH), /dev/ttyS4 (no serial number)", or that there are none.
std::string PortsPresent(const std::vector<PortInfo>& ports) {
  if (ports.empty()) return "no serial ports are present";
  std::string text = "the ports present: ";
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const std::string serial = ports[i].Serial.empty() ? "no serial number" : ports[i].Serial;
    text += (i > 0 ? ", " : "") + ports[i].Name + " (" + serial + ")";
  }
  return text;
}

constexpr std::string_view kDosAliasPrefix = R"(\??\)";
// A chain of DOS names defined as one another ends well within this.
constexpr int kMaxDosAliases = 8;
// A lookup's first buffer, and the most any of the system's names needs (a
// counted string of the kernel's holds at most 32767 characters).
constexpr std::size_t kFirstLookupChars = 256;
constexpr std::size_t kMostLookupChars = 65536;
constexpr std::size_t kLookupGrowth = 4;

}  // namespace

bool ParseInstanceId(std::string_view instance_id, UsbIdentity& out) {
  out = UsbIdentity{};
  out.Vid = FourHexAfter(instance_id, "VID_");
  out.Pid = FourHexAfter(instance_id, "PID_");
  if (out.Vid.empty() || out.Pid.empty()) {
    out = UsbIdentity{};
    return false;
  }
  // FTDI's bus driver packs vendor, product and serial number into the
  // second field with '+' ("VID_0403+PID_6001+A600ARJHA", the serial number
  // followed by the channel letter); USB itself gives the serial number as
  // the third field.
  const std::string_view hardware = Field(instance_id, '\\', 1);
  if (hardware.find('+') != std::string_view::npos) {
    out.Serial = SerialOrNothing(Field(hardware, '+', 2));
  } else {
    out.Serial = SerialOrNothing(Field(instance_id, '\\', 2));
  }
  return true;
}

int ComNumberOf(std::string_view name) {
  // Every spelling of the device namespace, and a colon after the name,
  // open the same port as the plain name.
  name = DosSpellingOf(name).name;
  if (name.size() < 4 || name.size() > 7 || !SameText(name.substr(0, 3), "COM")) return 0;
  int number = 0;
  for (const char c : name.substr(3)) {
    if (!IsDigit(c)) return 0;
    number = number * 10 + (c - '0');
  }
  return number;
}

std::string DescriptionFromFriendlyName(std::string_view friendly_name,
                                        std::string_view port_name) {
  const std::string suffix = " (" + std::string(port_name) + ")";
  if (friendly_name.size() >= suffix.size() &&
      SameText(friendly_name.substr(friendly_name.size() - suffix.size()), suffix)) {
    friendly_name.remove_suffix(suffix.size());
  }
  return std::string(friendly_name);
}

void MergePort(std::vector<PortInfo>& ports, const PortInfo& found) {
  const auto same = std::find_if(ports.begin(), ports.end(),
                                 [&](const PortInfo& p) { return SameText(p.Name, found.Name); });
  if (same == ports.end()) {
    ports.push_back(found);
    return;
  }
  if (same->Number == 0) same->Number = found.Number;
  FillIfEmpty(same->Description, found.Description);
  FillIfEmpty(same->Manufacturer, found.Manufacturer);
  FillIfEmpty(same->Driver, found.Driver);
  FillIfEmpty(same->VidPid, found.VidPid);
  FillIfEmpty(same->Serial, found.Serial);
  FillIfEmpty(same->ById, found.ById);
  if (same->LatencyTimerMs < 0) same->LatencyTimerMs = found.LatencyTimerMs;
}

void SortPorts(std::vector<PortInfo>& ports) {
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
    // Numbered ports first (0 means none), in number order.
    if ((a.Number == 0) != (b.Number == 0)) return a.Number != 0;
    if (a.Number != b.Number) return a.Number < b.Number;
    return NaturalLess(a.Name, b.Name);
  });
}

std::string AdapterSerialOf(const std::string& port, const std::vector<PortInfo>& ports) {
  const int number = ComNumberOf(port);
  for (const PortInfo& info : ports) {
    if (info.Name == port || (!info.ById.empty() && info.ById == port) ||
        (number > 0 && info.Number == number)) {
      return info.Serial;
    }
  }
  return "";
}

bool NamesAdapterSerial(const std::string& given) { return given.rfind(kSerialPrefix, 0) == 0; }

std::string SerialNamedBy(const std::string& given) {
  return NamesAdapterSerial(given) ? given.substr(kSerialPrefix.size()) : std::string();
}

std::string AdapterSerialFor(const std::string& given, const std::string& resolved,
                             const std::vector<PortInfo>& present) {
  return resolved.empty() ? SerialNamedBy(given) : AdapterSerialOf(resolved, present);
}

PortMatch ResolvePort(const std::string& given, const std::vector<PortInfo>& ports) {
  if (!NamesAdapterSerial(given)) return {given, ""};
  const std::string serial = SerialNamedBy(given);
  std::vector<std::string> matches;
  for (const PortInfo& port : ports) {
    if (!serial.empty() && SameText(port.Serial, serial)) matches.push_back(port.Name);
  }
  if (matches.size() == 1) return {matches.front(), ""};
  if (matches.empty()) {
    return {"",
            "no port has an adapter with the serial number " + serial + "; " + PortsPresent(ports)};
  }
  std::string names;
  for (const std::string& name : matches) names += (names.empty() ? "" : ", ") + name;
  return {"",
          std::to_string(matches.size()) + " ports have an adapter with the serial number " +
              serial + ": " + names,
          true};
}

std::string DosNameOf(std::string_view port) {
  const int number = ComNumberOf(port);
  if (number > 0) return "COM" + std::to_string(number);
  const std::string_view name = DosSpellingOf(port).name;
  if (name.empty() || name.find_first_of("\\/") != std::string_view::npos) return "";
  // The system's table of DOS names ignores case.
  return ToUpper(name);
}

std::string DosPortIdentity(const std::string& port,
                            const std::function<std::string(const std::string&)>& dos_target) {
  std::string name = DosNameOf(port);
  if (name.empty()) return port;
  // A name defined as another ("\\??\\COM7") leads on to that one's device.
  for (int alias = 0; alias < kMaxDosAliases; ++alias) {
    const std::string target = dos_target(name);
    if (target.empty()) return name;
    if (!target.starts_with(kDosAliasPrefix)) return "device " + target;
    const std::string next = DosNameOf(target);
    if (next.empty()) return "device " + target;
    name = next;
  }
  return name;
}

std::string LookUpGrowing(const std::function<BufferedLookup(std::size_t chars)>& lookup) {
  for (std::size_t chars = kFirstLookupChars; chars <= kMostLookupChars; chars *= kLookupGrowth) {
    BufferedLookup result = lookup(chars);
    if (result.status == BufferedLookup::Status::kDone) return std::move(result.text);
    if (result.status == BufferedLookup::Status::kFailed) break;
  }
  return "";
}

std::string GivenPortIdentity(const std::string& given, const std::vector<PortInfo>& present,
                              const PortIdentityFunction& identity) {
  if (!NamesAdapterSerial(given)) return identity(given);
  const PortMatch match = ResolvePort(given, present);
  if (!match.name.empty()) return identity(match.name);
  return "adapter " + ToUpper(SerialNamedBy(given));
}

std::optional<SamePort> PortGivenTwice(const std::vector<std::string>& given,
                                       const std::vector<PortInfo>& present,
                                       const PortIdentityFunction& identity) {
  std::vector<std::string> identities;
  for (std::size_t later = 0; later < given.size(); ++later) {
    identities.push_back(GivenPortIdentity(given[later], present, identity));
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      if (identities[earlier] == identities[later]) return SamePort{earlier, later};
    }
  }
  return std::nullopt;
}

PortMatch ResolvePortNotTaken(const std::string& given, const std::vector<PortInfo>& present,
                              const std::vector<std::string>& others,
                              const PortIdentityFunction& identity) {
  PortMatch match = ResolvePort(given, present);
  if (match.name.empty()) return match;
  const std::string found = identity(match.name);
  for (const std::string& other : others) {
    if (other == given || GivenPortIdentity(other, present, identity) != found) continue;
    return {"",
            given + " has turned up as " + match.name + ", which this bench has already as " +
                other + ": it is not opened twice. Give the bench each port once.",
            false, true};
  }
  return match;
}
