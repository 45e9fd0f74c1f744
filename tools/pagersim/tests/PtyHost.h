// Test stand-in for the flasher: talks to the emulator through the pty slave with plain
// POSIX I/O, the way the real host's serial port layer does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PagerLog.h"

namespace pagersim::testing {

inline constexpr int kHostReplyTimeoutMs = 1300;  // what the flasher waits for a reply
// For commands expected to get no reply: long enough for the emulator to have answered.
inline constexpr int kNoReplyWaitMs = 300;

class PtyHost {
 public:
  PtyHost() = default;
  ~PtyHost() { Close(); }
  PtyHost(const PtyHost&) = delete;
  PtyHost& operator=(const PtyHost&) = delete;

  // Opens raw 8N1. rate_bps 0 leaves the port speed as it is.
  bool Open(const std::string& path, int rate_bps);
  void Close();
  // Sets the port speed the way a serial layer does (cfsetospeed + tcsetattr).
  bool SetRate(int rate_bps);

  bool Send(std::string_view bytes);
  // One byte, or nullopt on timeout, EOF or error (errno kept in last_errno()).
  std::optional<uint8_t> ReadByte(int timeout_ms);
  // Sends a command and returns its single reply byte.
  std::optional<uint8_t> Command(std::string_view bytes, int timeout_ms = kHostReplyTimeoutMs);
  // True if nothing at all arrives within wait_ms.
  bool NothingArrives(int wait_ms);

  int last_errno() const { return last_errno_; }

 private:
  int fd_ = -1;
  int last_errno_ = 0;
};

// "s" + record text, as the host sends a record.
std::string SendCommand(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data);

// Events of one kind whose text starts with `prefix`.
int CountEvents(const std::vector<LogEvent>& log, EventKind kind, std::string_view prefix = "");

// Polls `condition` until it holds or timeout_ms passes.
template <typename Condition>
bool Eventually(Condition condition, int timeout_ms);

}  // namespace pagersim::testing

#include <chrono>
#include <thread>

namespace pagersim::testing {

template <typename Condition>
bool Eventually(Condition condition, int timeout_ms) {
  constexpr auto kPollInterval = std::chrono::milliseconds(5);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

}  // namespace pagersim::testing
