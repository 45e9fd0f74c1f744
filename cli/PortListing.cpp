#include "cli/PortListing.h"

#include <fmt/format.h>

#include <algorithm>

#include "cli/Formatting.h"
#include "common/VisibleText.h"

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
  if (!port.Manufacturer.empty()) parts.push_back("made by " + VisibleText(port.Manufacturer));
  if (!port.Driver.empty()) parts.push_back("driver " + VisibleText(port.Driver));
  if (port.LatencyTimerMs >= 0) {
    parts.push_back("latency timer " + std::to_string(port.LatencyTimerMs) + " ms");
  }
  if (!port.ById.empty()) parts.push_back(VisibleText(port.ById));
  if (parts.empty()) return "";
  std::string line = "    ";
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i > 0 ? ", " : "") + parts[i];
  return line + "\n";
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
    name_width = std::max(name_width, VisibleText(port.Name).size());
    description_width = std::max(description_width, VisibleText(port.Description).size());
  }
  text = fmt::format("{:<{}}  {:<{}}  {:<9}  {}\n", "NAME", name_width, "DESCRIPTION",
                     description_width, "VID:PID", "SERIAL");
  for (const PortInfo& port : ports) {
    // What an adapter says of itself is its maker's text, shown as text.
    text += fmt::format("{:<{}}  {:<{}}  {:<9}  {}\n", VisibleText(port.Name), name_width,
                        OrDash(VisibleText(port.Description)), description_width,
                        OrDash(VisibleText(port.VidPid)), OrDash(VisibleText(port.Serial)));
    text += DetailLine(port);
  }
  return text;
}
