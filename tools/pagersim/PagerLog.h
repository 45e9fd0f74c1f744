// Event log of the emulated loader: one line per event, "MMMMMM KIND text".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pagersim {

enum class EventKind {
  kRx,     // a complete command, counted; the N-th RX line is command N
  kTx,     // the reply byte as sent: ACK, NAK or 0xHH for anything else
  kRate,   // the loader now listens at this bit rate
  kFault,  // an injected fault took effect
  kErr,    // the host did something the loader rejects or did not expect
  kInfo,   // state changes worth seeing when reading a session
};

struct LogEvent {
  int64_t ms = 0;  // since the emulator started
  EventKind kind = EventKind::kInfo;
  std::string text;

  bool operator==(const LogEvent&) const = default;
};

std::string_view EventKindName(EventKind kind);

// Printable ASCII other than space and backslash stays as is; everything else becomes
// \xHH so a logged command is always a single space-free token.
std::string EscapeBytes(std::string_view bytes);

// "000123 RX f"; the timestamp is zero-padded to at least six digits.
std::string FormatLogEvent(const LogEvent& event);
// Inverse of FormatLogEvent (without the line ending). False for a malformed line.
bool ParseLogLine(std::string_view line, LogEvent* out);
// All events, each followed by '\n'.
std::string FormatLog(const std::vector<LogEvent>& events);

}  // namespace pagersim
