#include "PagerLog.h"

#include <array>
#include <cstdio>

namespace pagersim {
namespace {

struct KindName {
  EventKind kind;
  std::string_view name;
};
constexpr std::array<KindName, 6> kKindNames = {{{EventKind::kRx, "RX"},
                                                 {EventKind::kTx, "TX"},
                                                 {EventKind::kRate, "RATE"},
                                                 {EventKind::kFault, "FAULT"},
                                                 {EventKind::kErr, "ERR"},
                                                 {EventKind::kInfo, "INFO"}}};

constexpr char kFirstPrintable = '!';  // space is escaped to keep tokens space-free
constexpr char kLastPrintable = '~';

}  // namespace

std::string_view EventKindName(EventKind kind) {
  for (const auto& entry : kKindNames) {
    if (entry.kind == kind) return entry.name;
  }
  return "?";
}

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (c >= kFirstPrintable && c <= kLastPrintable && c != '\\') {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
      out += buf;
    }
  }
  return out;
}

std::string FormatLogEvent(const LogEvent& event) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%06lld ", static_cast<long long>(event.ms));
  std::string line = stamp;
  line += EventKindName(event.kind);
  if (!event.text.empty()) line += " " + event.text;
  return line;
}

bool ParseLogLine(std::string_view line, LogEvent* out) {
  const size_t stamp_end = line.find(' ');
  if (stamp_end == 0 || stamp_end == std::string_view::npos) return false;
  LogEvent event;
  for (char c : line.substr(0, stamp_end)) {
    if (c < '0' || c > '9') return false;
    event.ms = event.ms * 10 + (c - '0');
  }
  std::string_view rest = line.substr(stamp_end + 1);
  const size_t kind_end = rest.find(' ');
  const std::string_view kind_name = rest.substr(0, kind_end);
  bool known = false;
  for (const auto& entry : kKindNames) {
    if (entry.name == kind_name) {
      event.kind = entry.kind;
      known = true;
    }
  }
  if (!known) return false;
  if (kind_end != std::string_view::npos) event.text = std::string(rest.substr(kind_end + 1));
  *out = std::move(event);
  return true;
}

std::string FormatLog(const std::vector<LogEvent>& events) {
  std::string out;
  for (const auto& event : events) out += FormatLogEvent(event) + "\n";
  return out;
}

}  // namespace pagersim
