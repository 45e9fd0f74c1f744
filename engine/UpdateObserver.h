// What an update tells as it happens, for a program that wants more than the
// message boxes: the states it enters, each command it writes and the reply
// it gets, each record it sends, each message it raises with what that
// message means for the update, and how the update ended. The window needs
// none of it; the command-line flasher reports from it alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How a command was answered.
enum ReplyClass : int { rpNone = 0, rpAck = 1, rpNak = 2, rpOther = 4 };

// How an update ended, or what a message says about that. kNone is a message
// after which the update goes on ("Fail to send code-package." and the
// record is sent again), or an update that has not ended yet.
enum class UpdateOutcome : std::uint8_t {
  kNone,
  kFinished,
  kNoResponse,
  kRefused,
  kResendsExceeded,
  kRewindsExceeded,
  kUnexpectedReply,
  kCannotOpenFile,
  kCannotOpenPort,
  kInterrupted,
  // The port went away under the update (the adapter pulled out): told with
  // "No response from the pager, flash now terminated." and why.
  kPortLost,
};

// The states as stages a person follows: the record and program states are
// one transfer, the rate change and its reopen one rate change.
enum class UpdateStage : std::uint8_t {
  kOpen,
  kEnterFlash,
  kChangeBaud,
  kErase,
  kTransfer,
  kExitFlash,
  kFinish,
};

UpdateStage StageOfState(std::int32_t state);

// A message as the update raised it, with what it means for the update.
struct UpdateMessage {
  std::string Text;  // may carry a second line saying why
  std::uint32_t Style = 0;
  UpdateOutcome Outcome = UpdateOutcome::kNone;
  // For a port that could not be opened or was lost: its name and the
  // system's error code at the failing call (0 when no call failed).
  std::string Device;
  int SystemError = 0;
};

// A command's reply, or its absence.
struct CommandReply {
  std::string_view Command;  // the bytes written; empty when nothing was
  std::int32_t Rate = 0;     // the line rate they went at
  ReplyClass Reply = rpNone;
  std::uint8_t Byte = 0;  // the reply byte, when there was one
  // From just before the command's first byte was written to the moment the
  // reply was read, or the whole wait when none came.
  std::uint32_t ElapsedMs = 0;
};

class IUpdateObserver {
 public:
  virtual ~IUpdateObserver() = default;
  // The state about to run, with the share of the file sent so far (0-100).
  virtual void OnState(std::int32_t state, UpdateStage stage, int percent) = 0;
  // A command has been written: its bytes, at `rate` bit/s.
  virtual void OnCommand(std::string_view bytes, std::int32_t rate) = 0;
  virtual void OnReply(const CommandReply& reply) = 0;
  // A record has gone out: the `ordinal`-th since the last erase, again when
  // `resend`; `percent` as in OnState.
  virtual void OnRecord(int ordinal, bool resend, int percent) = 0;
  // Told before the box is shown; the channel's own box when a port cannot
  // be opened is told here too.
  virtual void OnMessage(const UpdateMessage& message) = 0;
  // The update is over; the port and the file are closed.
  virtual void OnEnd(UpdateOutcome outcome) = 0;
};
