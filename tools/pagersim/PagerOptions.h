// Settings of the emulated pager: where it listens, what faults it injects, what it writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pagersim {

// A partial command followed by this much silence is dropped (the loader gives up on it).
inline constexpr int kDefaultCommandTimeoutMs = 2000;
inline constexpr uint32_t kDefaultSeed = 1;

// NAK the "s" commands numbered first_send .. first_send+count-1, counting every "s"
// received in flash mode (1-based). Because the host resends a NAKed record, this NAKs
// the record sent at the first_send-th "s" count times in a row.
struct NakSendFault {
  int first_send = 0;
  int count = 0;
};

// Answer command number `command` (1-based, all commands) with `byte` instead of its
// ACK/NAK. The command itself is still carried out, as when a reply is garbled on the line.
struct StrayFault {
  int command = 0;
  uint8_t byte = 0;
};

// Hold the reply to command number `command` until `at_ms` milliseconds after the
// emulator started (at once if that moment has passed), as a pager that answers just
// when the host is busy elsewhere.
struct HoldReplyFault {
  int command = 0;
  int at_ms = 0;
};

struct PagerOptions {
  // Line. Default: a new pseudo-terminal whose slave path is reported.
  std::string link_path;    // also make a symlink here to the pty slave
  std::string device_path;  // serve on this existing device instead of a new pty
  bool pace = false;        // every byte takes 10 bit times at the current rate
  int command_timeout_ms = kDefaultCommandTimeoutMs;
  // Every reply is delivered at the next multiple of this many ms of a clock that runs from
  // the start, as a USB adapter's latency timer delivers received bytes; 0 = at once.
  int latency_ms = 0;

  // When the CLI stops (the library is stopped by its owner).
  bool stdin_stop = false;  // stop when stdin reaches EOF
  int exit_after_q = 0;     // stop after the N-th executed "q"; 0 = never

  // A bench of pagers on the line, one after another. Each is connected attach_after_ms
  // after the line became free (the start, or the end of the gap after the one before),
  // answers until linger_ms after its last executed "q", then leaves; the line then stays
  // silent for gap_ms. Every pager starts as a fresh loader, with the same faults.
  int sessions = 1;
  int attach_after_ms = 0;
  int linger_ms = -1;  // -1: the pager stays until the emulator stops
  int gap_ms = 0;

  // Outputs, written on exit and on SIGUSR1 by the CLI or by PagerSim::WriteOutputs.
  // An image path holding "%d" names one file per pager, the number in its place.
  std::string image_bin_path;
  std::string image_hex_path;
  std::string log_path;
  bool verbose = false;  // echo every log event to stderr as it happens

  // Faults. Command numbers are 1-based and count every answered unit: each complete
  // command (f, b..., e0, s+record, p, q) and each stray byte.
  std::vector<NakSendFault> nak_send;
  int nak_program = 0;  // NAK the first K "p" commands received in flash mode
  bool silent = false;  // never answer (commands are not carried out either)
  int silent_from = 0;  // from command N on, as --silent; 0 = off
  int delay_ms = 0;     // wait this long before each reply
  int delay_from = 1;   // ... starting with command N
  std::vector<StrayFault> stray;
  std::vector<int> nak_cmd;       // answer these commands with NAK, not carrying them out
  int hangup_after = 0;           // close the line after N successful "p"; 0 = never
  std::vector<int> double_reply;  // answer these commands twice, back to back
  std::vector<HoldReplyFault> hold_reply;
  int unprompted_ms = 0;           // send a byte after every this many ms of quiet; 0 = off
  uint8_t unprompted_byte = 0x06;  // ... this byte (ACK unless given)
  double random_nak_rate = 0.0;    // probability of NAKing each "s"/"p"
  // Probability of losing each reply the loader gives, and stays, in idle (a
  // probe's NAK; never the ACK of "f"),
  // as a line that drops a byte now and then; drawn from a generator of its
  // own, so --random-nak's pattern for a seed stays as it is.
  double lose_idle_rate = 0.0;
  bool nul_after_rate = false;   // a 0x00 a few ms after the ACK of a rate change, at the new rate
  uint32_t seed = kDefaultSeed;  // for random_nak_rate and lose_idle_rate (std::mt19937)

  bool show_help = false;
  bool show_version = false;
};

// Parses argv[1..argc-1] with the options declared once in PagerOptions.cpp (CLI11). On
// error returns false with a one-line message in err, in CLI11's words; `out` is then
// unspecified. "--opt VALUE" and "--opt=VALUE" are both accepted; --nak-send,
// --stray, --nak-cmd, --double and --hold-reply may be repeated, other options keep their last
// value.
bool ParsePagerOptions(int argc, const char* const* argv, PagerOptions& out, std::string& err);

// Multi-line usage text for --help, laid out from the same declaration.
std::string PagerUsage();

// `pattern` with every "%d" replaced by `session`.
std::string SessionPath(const std::string& pattern, int session);

}  // namespace pagersim
