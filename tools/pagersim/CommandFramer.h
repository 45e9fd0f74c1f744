// Cuts the byte stream from the host into loader commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pagersim {

// After a record that cannot be framed (no ':' or a bad length digit) the rest of it is
// still on its way; it is swallowed until the line has been quiet this long, then the
// whole thing is answered with a single NAK instead of one NAK per leftover byte.
inline constexpr int kResyncQuietMs = 50;
// Longest command kept verbatim for the log: "s" + a record with 255 data bytes.
inline constexpr size_t kMaxCommandBytes = 1 + 11 + 2 * 255;

struct FramerEvent {
  enum class Type {
    kCommand,    // complete command in `bytes`, to be interpreted by the loader
    kMalformed,  // command that could not be framed; `reason` says why; answer NAK
    kTimeout,    // partial command dropped after silence; not answered
  };
  Type type = Type::kCommand;
  std::string bytes;
  std::string reason;
};

// Pure state machine: callers pass the current time, so it is testable without clocks.
// Callers must call Expire(now) before Feed(now) so a stale partial command is dropped
// before a new byte is appended to it.
class CommandFramer {
 public:
  CommandFramer(int command_timeout_ms, int resync_quiet_ms)
      : command_timeout_ms_(command_timeout_ms), resync_quiet_ms_(resync_quiet_ms) {}

  // True when no partial command is buffered, i.e. the next byte starts a command.
  bool AtCommandStart() const { return partial_.empty() && !resyncing_; }

  // In idle mode every byte is a command of its own ("f" or a stray byte).
  std::optional<FramerEvent> Feed(uint8_t byte, bool flash_mode, int64_t now_ms);

  // Time at which Expire() will produce an event, if anything is buffered.
  std::optional<int64_t> DeadlineMs() const;
  std::optional<FramerEvent> Expire(int64_t now_ms);

 private:
  std::optional<FramerEvent> FeedRecordByte(uint8_t byte);
  std::optional<FramerEvent> Complete(FramerEvent::Type type);
  void StartResync(std::string reason);

  int command_timeout_ms_;
  int resync_quiet_ms_;
  std::string partial_;
  bool resyncing_ = false;
  std::string resync_reason_;
  int64_t last_byte_ms_ = 0;
};

}  // namespace pagersim
