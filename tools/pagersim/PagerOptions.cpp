#include "PagerOptions.h"

#include <charconv>
#include <functional>
#include <optional>
#include <string_view>

namespace pagersim {
namespace {

constexpr int kMaxDelayMs = 600000;  // ten minutes; anything longer is a typo
constexpr int kMaxLatencyMs = 255;   // the longest latency timer adapters offer
constexpr int kMaxCount = 1000000000;

std::optional<long long> ParseInteger(std::string_view text, int base = 10) {
  long long value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

bool ParseIntIn(std::string_view name, std::string_view text, int min, int max, int* out,
                std::string& err) {
  const auto value = ParseInteger(text);
  if (!value || *value < min || *value > max) {
    err = std::string(name) + ": expected an integer from " + std::to_string(min) + " to " +
          std::to_string(max) + ", got '" + std::string(text) + "'";
    return false;
  }
  *out = static_cast<int>(*value);
  return true;
}

// Splits "A:B"; false when there is no colon.
bool SplitPair(std::string_view text, std::string_view* first, std::string_view* second) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  *first = text.substr(0, colon);
  *second = text.substr(colon + 1);
  return true;
}

std::optional<uint8_t> ParseHexByte(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  const auto value = text.size() <= 2 ? ParseInteger(text, 16) : std::nullopt;
  if (!value || *value < 0) return std::nullopt;
  return static_cast<uint8_t>(*value);
}

bool ParseNakSend(std::string_view text, PagerOptions& out, std::string& err) {
  std::string_view n, k;
  NakSendFault fault;
  if (!SplitPair(text, &n, &k)) {
    err = "--nak-send: expected N:K, got '" + std::string(text) + "'";
    return false;
  }
  if (!ParseIntIn("--nak-send N", n, 1, kMaxCount, &fault.first_send, err) ||
      !ParseIntIn("--nak-send K", k, 1, kMaxCount, &fault.count, err)) {
    return false;
  }
  out.nak_send.push_back(fault);
  return true;
}

bool ParseStray(std::string_view text, PagerOptions& out, std::string& err) {
  std::string_view n, byte;
  StrayFault fault;
  if (!SplitPair(text, &n, &byte)) {
    err = "--stray: expected N:BYTE, got '" + std::string(text) + "'";
    return false;
  }
  if (!ParseIntIn("--stray N", n, 1, kMaxCount, &fault.command, err)) return false;
  const auto value = ParseHexByte(byte);
  if (!value) {
    err = "--stray BYTE: expected one hex byte such as 41, got '" + std::string(byte) + "'";
    return false;
  }
  fault.byte = *value;
  out.stray.push_back(fault);
  return true;
}

bool ParseHoldReply(std::string_view text, PagerOptions& out, std::string& err) {
  std::string_view n, ms;
  HoldReplyFault fault;
  if (!SplitPair(text, &n, &ms)) {
    err = "--hold-reply: expected N:MS, got '" + std::string(text) + "'";
    return false;
  }
  if (!ParseIntIn("--hold-reply N", n, 1, kMaxCount, &fault.command, err) ||
      !ParseIntIn("--hold-reply MS", ms, 0, kMaxDelayMs, &fault.at_ms, err)) {
    return false;
  }
  out.hold_reply.push_back(fault);
  return true;
}

// "MS" or "MS:BYTE"; the byte is an ACK unless given.
bool ParseUnprompted(std::string_view text, PagerOptions& out, std::string& err) {
  std::string_view ms = text, byte;
  const bool with_byte = SplitPair(text, &ms, &byte);
  if (!ParseIntIn("--unprompted MS", ms, 1, kMaxDelayMs, &out.unprompted_ms, err)) return false;
  if (!with_byte) return true;
  const auto value = ParseHexByte(byte);
  if (!value) {
    err = "--unprompted BYTE: expected one hex byte such as 06, got '" + std::string(byte) + "'";
    return false;
  }
  out.unprompted_byte = *value;
  return true;
}

bool ParseRate(std::string_view text, PagerOptions& out, std::string& err) {
  const std::string copy(text);
  size_t used = 0;
  double rate = -1;
  try {
    rate = std::stod(copy, &used);
  } catch (...) {
    used = 0;
  }
  if (used != copy.size() || !(rate >= 0.0 && rate <= 1.0)) {
    err = "--random-nak: expected a probability from 0 to 1, got '" + copy + "'";
    return false;
  }
  out.random_nak_rate = rate;
  return true;
}

bool ParseSeed(std::string_view text, PagerOptions& out, std::string& err) {
  const auto value = ParseInteger(text);
  if (!value || *value < 0 || *value > UINT32_MAX) {
    err = "--seed: expected an integer from 0 to 4294967295, got '" + std::string(text) + "'";
    return false;
  }
  out.seed = static_cast<uint32_t>(*value);
  return true;
}

using ValueHandler = std::function<bool(std::string_view, PagerOptions&, std::string&)>;

struct KnownOption {
  std::string_view name;
  bool takes_value;
  ValueHandler handle;  // for flags the value is empty
};

ValueHandler SetString(std::string PagerOptions::*field) {
  return [field](std::string_view v, PagerOptions& o, std::string& err) {
    if (v.empty()) {
      err = "empty path";
      return false;
    }
    o.*field = std::string(v);
    return true;
  };
}

ValueHandler SetFlag(bool PagerOptions::*field) {
  return [field](std::string_view, PagerOptions& o, std::string&) { return (o.*field = true); };
}

ValueHandler SetInt(std::string_view name, int PagerOptions::*field, int min, int max) {
  return [=](std::string_view v, PagerOptions& o, std::string& err) {
    return ParseIntIn(name, v, min, max, &(o.*field), err);
  };
}

ValueHandler AddCommandNumber(std::string_view name, std::vector<int> PagerOptions::*field) {
  return [=](std::string_view v, PagerOptions& o, std::string& err) {
    int n = 0;
    if (!ParseIntIn(name, v, 1, kMaxCount, &n, err)) return false;
    (o.*field).push_back(n);
    return true;
  };
}

const std::vector<KnownOption>& KnownOptions() {
  static const std::vector<KnownOption> known = {
      {"--link", true, SetString(&PagerOptions::link_path)},
      {"--device", true, SetString(&PagerOptions::device_path)},
      {"--pace", false, SetFlag(&PagerOptions::pace)},
      {"--cmd-timeout", true,
       SetInt("--cmd-timeout", &PagerOptions::command_timeout_ms, 1, kMaxDelayMs)},
      {"--latency-ms", true, SetInt("--latency-ms", &PagerOptions::latency_ms, 0, kMaxLatencyMs)},
      {"--stdin-stop", false, SetFlag(&PagerOptions::stdin_stop)},
      {"--exit-after-q", true, SetInt("--exit-after-q", &PagerOptions::exit_after_q, 1, kMaxCount)},
      {"--sessions", true, SetInt("--sessions", &PagerOptions::sessions, 1, kMaxCount)},
      {"--attach-after", true,
       SetInt("--attach-after", &PagerOptions::attach_after_ms, 0, kMaxDelayMs)},
      {"--linger-ms", true, SetInt("--linger-ms", &PagerOptions::linger_ms, 0, kMaxDelayMs)},
      {"--gap-ms", true, SetInt("--gap-ms", &PagerOptions::gap_ms, 0, kMaxDelayMs)},
      {"--image-bin", true, SetString(&PagerOptions::image_bin_path)},
      {"--image-hex", true, SetString(&PagerOptions::image_hex_path)},
      {"--log", true, SetString(&PagerOptions::log_path)},
      {"--verbose", false, SetFlag(&PagerOptions::verbose)},
      {"--nak-send", true, ParseNakSend},
      {"--nak-program", true, SetInt("--nak-program", &PagerOptions::nak_program, 1, kMaxCount)},
      {"--silent", false, SetFlag(&PagerOptions::silent)},
      {"--silent-from", true, SetInt("--silent-from", &PagerOptions::silent_from, 1, kMaxCount)},
      {"--delay", true, SetInt("--delay", &PagerOptions::delay_ms, 0, kMaxDelayMs)},
      {"--delay-from", true, SetInt("--delay-from", &PagerOptions::delay_from, 1, kMaxCount)},
      {"--stray", true, ParseStray},
      {"--nak-cmd", true, AddCommandNumber("--nak-cmd", &PagerOptions::nak_cmd)},
      {"--double", true, AddCommandNumber("--double", &PagerOptions::double_reply)},
      {"--hold-reply", true, ParseHoldReply},
      {"--unprompted", true, ParseUnprompted},
      {"--hangup-after", true, SetInt("--hangup-after", &PagerOptions::hangup_after, 1, kMaxCount)},
      {"--random-nak", true, ParseRate},
      {"--nul-after-rate", false, SetFlag(&PagerOptions::nul_after_rate)},
      {"--seed", true, ParseSeed},
      {"--help", false, SetFlag(&PagerOptions::show_help)},
      {"-h", false, SetFlag(&PagerOptions::show_help)},
      {"--version", false, SetFlag(&PagerOptions::show_version)},
  };
  return known;
}

const KnownOption* FindKnownOption(std::string_view name) {
  for (const auto& option : KnownOptions()) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

// Cross-option rules that a single option cannot check on its own.
bool Validate(const PagerOptions& o, bool delay_from_given, std::string& err) {
  if (!o.link_path.empty() && !o.device_path.empty()) {
    err = "--link and --device cannot be combined (--link names a new pty)";
    return false;
  }
  if (delay_from_given && o.delay_ms == 0) {
    err = "--delay-from needs --delay MS";
    return false;
  }
  if (o.sessions > 1 && o.linger_ms < 0) {
    err = "--sessions needs --linger-ms MS (a pager that never leaves lets no other on)";
    return false;
  }
  return true;
}

}  // namespace

bool ParsePagerOptions(int argc, const char* const* argv, PagerOptions& out, std::string& err) {
  out = PagerOptions{};
  bool delay_from_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view name = arg;
    std::optional<std::string_view> inline_value;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    const KnownOption* option = FindKnownOption(name);
    if (option == nullptr) {
      err = arg.starts_with("-") ? "unknown option '" + std::string(name) + "'"
                                 : "unexpected argument '" + std::string(arg) + "'";
      return false;
    }
    std::string_view value;
    if (option->takes_value) {
      if (!inline_value && i + 1 >= argc) {
        err = std::string(name) + " needs a value";
        return false;
      }
      value = inline_value ? *inline_value : std::string_view(argv[++i]);
    } else if (inline_value) {
      err = std::string(name) + " takes no value";
      return false;
    }
    if (!option->handle(value, out, err)) {
      if (err.find(name) == std::string::npos) err = std::string(name) + ": " + err;
      return false;
    }
    delay_from_given = delay_from_given || name == "--delay-from";
  }
  return Validate(out, delay_from_given, err);
}

std::string PagerUsage() {
  return R"(usage: pagersim [options]
Emulates the pager's loader on a serial line. Prints the line's path as the first line
of stdout, then serves the flasher on it until stopped: Ctrl+C or SIGTERM (or the end of
stdin with --stdin-stop, or the N-th "q" with --exit-after-q). One update is not the end:
it goes on serving update after update.

Line:
  --link PATH          also create a symlink PATH -> pty slave (removed on exit)
  --device PATH        serve on an existing serial device instead of a new pty
  --pace               each byte takes 10 bit times at the current rate
  --cmd-timeout MS     drop a partial command after MS ms of silence (default 2000)
  --latency-ms N       deliver every reply at the next multiple of N ms since the start,
                       as a USB adapter's latency timer does (0..255, default 0: at once)
A bench of pagers, one after another:
  --sessions N         N pagers, each a fresh loader with the same faults (needs --linger-ms)
  --attach-after MS    silent MS ms before each pager is connected
  --linger-ms MS       after its last "q" the pager stays on the line, answering, MS ms
  --gap-ms MS          silent MS ms after a pager has left, before the next one's wait
Stopping:
  --stdin-stop         stop when stdin reaches end of file
  --exit-after-q N     stop after the N-th executed "q"
Outputs (written on exit and on SIGUSR1; "%d" in an image path is the pager's number):
  --image-bin FILE     programmed bytes, lowest to highest address, gaps 0xFF
  --image-hex FILE     programmed bytes as Intel HEX
  --log FILE           event log, one event per line
  --verbose            echo log events to stderr as they happen
Faults (command numbers are 1-based over all answered commands):
  --nak-send N:K       NAK the N-th .. (N+K-1)-th "s" (repeatable)
  --nak-program K      NAK the first K "p"
  --silent             never answer
  --silent-from N      stop answering from command N on
  --delay MS           wait MS ms before every reply
  --delay-from N       ... only from command N on (needs --delay)
  --stray N:BYTE       answer command N with hex BYTE instead of ACK/NAK (repeatable)
  --nak-cmd N          answer command N with NAK without carrying it out (repeatable)
  --double N           answer command N twice, back to back (repeatable)
  --hold-reply N:MS    hold the reply to command N until MS ms after the start (repeatable)
  --unprompted MS[:BYTE]  send BYTE (default 06) after every MS ms of quiet on the line
  --hangup-after N     close the line after the N-th successful "p"
  --random-nak RATE    NAK each "s"/"p" with probability RATE (0..1)
  --nul-after-rate     send a 0x00 a few ms after the ACK of a rate change, at the new rate
  --seed S             seed for --random-nak (default 1)
  -h, --help           show this text
  --version            show the version
)";
}

std::string SessionPath(const std::string& pattern, int session) {
  std::string path;
  for (size_t at = 0; at < pattern.size(); ++at) {
    if (pattern.compare(at, 2, "%d") == 0) {
      path += std::to_string(session);
      ++at;
    } else {
      path += pattern[at];
    }
  }
  return path;
}

}  // namespace pagersim
