// The pager's loader: command semantics and fault injection, without any I/O or clocks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>

#include "FlashImage.h"
#include "IntelHex.h"
#include "PagerLog.h"
#include "PagerOptions.h"

namespace pagersim {

inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr int kInitialRateBps = 1200;

struct Command {
  std::string bytes;             // as received, e.g. "b4800B8" or "s:0100000041BE"
  bool malformed = false;        // could not be framed; always NAKed
  std::string malformed_reason;  // logged as ERR
  int line_rate_bps = 0;         // host's port speed when the command began; 0 = unknown
};

// What the line side has to do after a command.
struct CommandOutcome {
  std::optional<uint8_t> reply;  // nullopt: stay silent
  int delay_ms = 0;              // wait before sending the reply
  int hold_until_ms = -1;        // ... and not before this many ms after the start (-1: off)
  int copies = 1;                // the reply goes out this many times, back to back
  int new_rate_bps = 0;          // once the reply is out, listen at this rate (0 = keep)
  bool hang_up = false;          // close the line once the reply has been read
  bool finish = false;           // stop serving once the reply has been read
};

using EventSink = std::function<void(EventKind, std::string)>;

// Bit rate of a rate-change command, or 0 if the loader does not know the command.
int RateOfCommand(std::string_view bytes);

class LoaderCore {
 public:
  LoaderCore(PagerOptions options, EventSink sink);

  // Logs the command, applies faults, carries it out unless a fault prevents that.
  CommandOutcome Handle(const Command& command);
  // Called by the line side after the ACK of a rate change has gone out at the old rate.
  void SwitchRate(int rate_bps);

  bool flash_mode() const { return flash_mode_; }
  int rate_bps() const { return rate_bps_; }
  int commands() const { return commands_; }
  int quits() const { return quits_; }  // executed "q"
  const FlashImage& image() const { return image_; }

 private:
  void Log(EventKind kind, std::string text) { sink_(kind, std::move(text)); }
  uint8_t Reject(std::string why);
  void CheckLineRate(int line_rate_bps);
  bool IsSilent(int command) const;
  std::optional<std::string> InjectedNak(int command, bool is_send, bool is_program,
                                         bool random_hit) const;
  bool DrawRandomNak();
  // A reply given in idle is lost on the line.
  void ApplyIdleLoss(bool was_idle, CommandOutcome* out);
  void ApplyStray(int command, CommandOutcome* out);
  void ApplyDelay(int command, CommandOutcome* out);
  void ApplyHoldAndDouble(int command, CommandOutcome* out);

  uint8_t Execute(const Command& command, CommandOutcome* out);
  uint8_t ExecuteIdle(const Command& command);
  uint8_t ChangeRate(const Command& command, CommandOutcome* out);
  uint8_t Erase(const Command& command);
  uint8_t AcceptRecord(const Command& command);
  uint8_t ProgramPending(CommandOutcome* out);
  uint8_t ApplyRecord(const HexRecord& record);
  uint8_t Quit(CommandOutcome* out);

  PagerOptions options_;
  EventSink sink_;
  std::mt19937 rng_;
  std::mt19937 loss_rng_;

  bool flash_mode_ = false;
  bool erased_ = false;               // "e0" seen in this flash session; required before "s"
  std::optional<HexRecord> pending_;  // accepted by "s", not yet programmed
  uint32_t base_address_ = 0;         // from the last 02/04 record
  int rate_bps_ = kInitialRateBps;
  FlashImage image_;

  int commands_ = 0;    // every answered unit
  int sends_ = 0;       // every "s" in flash mode
  int programs_ = 0;    // every "p" in flash mode
  int programmed_ = 0;  // successful "p"
  int quits_ = 0;       // executed "q"
};

}  // namespace pagersim
