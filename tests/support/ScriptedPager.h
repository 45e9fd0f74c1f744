// A pager on a virtual line, behind the channel's device interface. It frames
// what the host writes into commands the way the loader does, answers each
// as the test's script says (a byte, after a delay, or never), and records
// every byte, read, open and setting so tests can check the exact traffic.
// Its driver can be made to behave as real USB adapters' drivers do: refuse
// a state it already runs, ignore the read time limit, refuse a reopen for a
// moment, lose the line when the adapter is pulled out, hang in a close.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/Dcommthread.h"
#include "link/SerialDevice.h"
#include "tests/support/SystemCodes.h"
#include "tests/support/VirtualClock.h"

struct PagerReply {
  bool silent = false;
  std::uint8_t byte = 0x06;
  std::uint32_t delay_ms = 0;
  // A byte that follows the reply on the line this long after it (-1: none),
  // as an adapter leaves one behind a rate change.
  int trailing_byte = -1;
  std::uint32_t trailing_after_ms = 0;

  static PagerReply Ack(std::uint32_t delay_ms = 0) { return {false, 0x06, delay_ms}; }
  static PagerReply Nak() { return {false, 0x15, 0}; }
  static PagerReply Stray(std::uint8_t byte) { return {false, byte, 0}; }
  static PagerReply Silence() { return {true, 0, 0}; }
  static PagerReply AckThen(std::uint8_t byte, std::uint32_t after_ms) {
    return {false, 0x06, 0, byte, after_ms};
  }
};

struct SentCommand {
  std::string bytes;        // the command as it crossed the line
  std::uint32_t at_ms = 0;  // virtual time its last byte was written
  std::uint32_t rate = 0;   // line rate the host had set
};

class ScriptedPager {
 public:
  explicit ScriptedPager(VirtualClock& clock) : clock_(clock) {}

  // Devices for TDComm::DeviceFactory; all share this line.
  SerialDeviceFactory Factory();

  // Decides the reply to each command; `index` counts commands from 0.
  // The default acknowledges everything at once.
  std::function<PagerReply(const SentCommand&, int index)> respond;

  // Puts a byte on the line from the pager's side, due at `at_ms`.
  void Inject(std::uint8_t byte, std::uint32_t at_ms) { pending_.push_back({at_ms, byte}); }

  // Command texts only, in order.
  std::vector<std::string> CommandTexts() const;

  std::vector<SentCommand> commands;
  std::string wire;                       // every byte the host wrote
  std::vector<std::uint32_t> read_times;  // virtual time at the start of each read
  std::vector<std::uint32_t> open_times;  // virtual time of each open attempt
  std::vector<std::string> calls;         // device calls in order: "open COM1", "state", ...
  std::vector<std::string> opened_names;
  std::vector<TDcb> applied_dcbs;
  std::vector<TCommTimeouts> applied_timeouts;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> queue_sizes;
  int opens = 0;
  int closes = 0;
  int purges = 0;
  int open_devices = 0;
  // 1-based number of the open that fails (0: none), which call fails, and
  // the system's code it fails with.
  int fail_open_number = 0;
  // While this says so the adapter is pulled: every open fails with
  // fail_error, and an open device is hung up.
  std::function<bool()> unplugged;
  std::string fail_call = "open";
  int fail_error = kMissingPortError;
  // The open attempts numbered refuse_open_from to refuse_open_from +
  // refused_opens - 1 fail with refusal_error, as a driver still finishing
  // the close of the port does.
  int refuse_open_from = 0;
  int refused_opens = 0;
  int refusal_error = 0;
  // Every state is refused with this code (0: none); the line stays as the
  // driver runs it (driver_dcb).
  int refused_state_error = 0;
  // Reads come back at once, empty, whatever the time limit says.
  bool reads_ignore_time_limit = false;
  // What the driver reports before the channel sets its own settings.
  TDcb driver_dcb = {.BaudRate = 110};
  // Refuses a state whose XON and XOFF characters are equal, as many drivers do.
  bool refuse_equal_flow_chars = false;
  // A write reports fewer bytes than asked.
  bool short_writes = false;
  // The line is gone (the adapter pulled out): every read, write, purge and
  // presence check fails with hang_up_error. With
  // hung_up_reads_time_out, reads instead come back empty after their time
  // limit, as Wine's do, and only the presence check tells.
  bool hung_up = false;
  int hang_up_error = kPulledOutError;
  bool hung_up_reads_time_out = false;
  // Closes never return (within the test's life); they are not counted as
  // closes, and their devices stay open.
  bool hang_closes = false;
  // Closes return, but this late on the system's clock: the closing thread
  // of a loaded machine, run long after the channel asked.
  std::uint32_t close_late_real_ms = 0;

 private:
  friend class ScriptedDevice;
  struct Pending {
    std::uint32_t due;
    std::uint8_t byte;
  };

  void Receive(std::uint8_t byte);
  void CommandComplete();
  bool CommandDone() const;

  VirtualClock& clock_;
  std::string partial_;
  std::deque<Pending> pending_;
  std::uint32_t rate_ = 0;
  std::uint32_t read_limit_ms_ = 0;
};
