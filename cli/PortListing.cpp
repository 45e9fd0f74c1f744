#include "cli/PortListing.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "cli/Formatting.h"

namespace {

std::string JsonLine(const PortInfo& port) {
  const nlohmann::json object = {
      {"event", "port"},
      {"name", port.Name},
      {"description", port.Description},
      {"manufacturer", port.Manufacturer},
      {"driver", port.Driver},
      {"vid_pid", port.VidPid},
      {"serial", port.Serial},
      {"by_id", port.ById},
      {"latency_timer_ms",
       port.LatencyTimerMs >= 0 ? nlohmann::json(port.LatencyTimerMs) : nlohmann::json(nullptr)}};
  return JsonText(object) + "\n";
}

// What else tells this adapter apart, on a line of its own.
std::string DetailLine(const PortInfo& port) {
  std::vector<std::string> parts;
  if (!port.Manufacturer.empty()) parts.push_back("made by " + port.Manufacturer);
  if (!port.Driver.empty()) parts.push_back("driver " + port.Driver);
  if (port.LatencyTimerMs >= 0) {
    parts.push_back("latency timer " + std::to_string(port.LatencyTimerMs) + " ms");
  }
  if (!port.ById.empty()) parts.push_back(port.ById);
  if (parts.empty()) return "";
  std::string line = "    ";
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i > 0 ? ", " : "") + parts[i];
  return line + "\n";
}

constexpr std::string_view kSerialPrefix = "serial=";

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
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

}  // namespace

std::string FormatPortList(const std::vector<PortInfo>& ports, bool json) {
  std::string text;
  if (json) {
    for (const PortInfo& port : ports) text += JsonLine(port);
    return text;
  }
  if (ports.empty()) return "No serial ports found.\n";
  std::size_t name_width = 4;
  std::size_t description_width = 11;
  for (const PortInfo& port : ports) {
    name_width = std::max(name_width, port.Name.size());
    description_width = std::max(description_width, port.Description.size());
  }
  text = fmt::format("{:<{}}  {:<{}}  {:<9}  {}\n", "NAME", name_width, "DESCRIPTION",
                     description_width, "VID:PID", "SERIAL");
  for (const PortInfo& port : ports) {
    text +=
        fmt::format("{:<{}}  {:<{}}  {:<9}  {}\n", port.Name, name_width, OrDash(port.Description),
                    description_width, OrDash(port.VidPid), OrDash(port.Serial));
    text += DetailLine(port);
  }
  return text;
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

PortMatch ResolvePort(const std::string& given, const std::vector<PortInfo>& ports) {
  if (!NamesAdapterSerial(given)) return {given, ""};
  const std::string serial = given.substr(kSerialPrefix.size());
  std::vector<std::string> matches;
  for (const PortInfo& port : ports) {
    if (!serial.empty() && SameTextIgnoringCase(port.Serial, serial)) matches.push_back(port.Name);
  }
  if (matches.size() == 1) return {matches.front(), ""};
  if (matches.empty()) {
    return {"",
            "no port has an adapter with the serial number " + serial + "; " + PortsPresent(ports)};
  }
  std::string names;
  for (const std::string& name : matches) names += (names.empty() ? "" : ", ") + name;
  return {"", std::to_string(matches.size()) + " ports have an adapter with the serial number " +
                  serial + ": " + names};
}
