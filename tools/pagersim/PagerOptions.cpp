#include "PagerOptions.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <functional>
#include <optional>
#include <utility>

namespace pagersim {
namespace {

constexpr int kMaxDelayMs = 600000;  // ten minutes; anything longer is a typo
constexpr int kMaxLatencyMs = 255;   // the longest latency timer adapters offer
constexpr int kMaxCount = 1000000000;
constexpr long long kMaxSeed = UINT32_MAX;

// The groups, in the order --help shows them (the manual page has the same).
constexpr const char* kLine = "Line";
constexpr const char* kBench = "A bench of pagers, one after another";
constexpr const char* kStopping = "Stopping";
constexpr const char* kOutputs =
    "Outputs (written on exit and on SIGUSR1; \"%d\" in an image path is the pager's number)";
constexpr const char* kFaults = "Faults (command numbers are 1-based over all answered commands)";
constexpr const char* kOther = "Other";

constexpr const char* kAbout =
    R"(Emulates the pager's loader on a serial line. Prints the line's path as the first line
of stdout, then serves the flasher on it until stopped: Ctrl+C or SIGTERM (or the end of
stdin with --stdin-stop, or the N-th "q" with --exit-after-q). One update is not the end:
it goes on serving update after update.
)";

// Where the option descriptions start in --help: the longest "--name VALUE" fits.
constexpr std::size_t kDescriptionColumn = 26;

// Whole decimal numbers only: CLI11 alone would also take "0x10", and read
// "010" as octal eight where a user means ten. Leading zeros are dropped here
// so that CLI11's own conversion sees plain decimal.
CLI::Validator Decimal() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const std::size_t digits = text.starts_with('-') ? 1 : 0;
        if (text.size() == digits ||
            text.find_first_not_of("0123456789", digits) != std::string::npos) {
          return "Value " + text + " is not a whole decimal number";
        }
        const std::size_t first = std::min(text.find_first_not_of('0', digits), text.size() - 1);
        text.erase(digits, first - digits);
        return "";
      },
      "");
}

// CLI11's range check, without its note in the value's name ("N:INT in [1 -
// 1000000000]"), which --help and the message for a missing value show.
CLI::Validator Within(long long min, long long max) {
  CLI::Validator range = CLI::Range(min, max);
  range.description("");
  return range;
}

// One number of an "A:B" value, checked as a whole option's number is.
std::string ReadNumber(const char* part, std::string text, long long min, long long max, int& out) {
  std::string error = Decimal()(text);
  if (error.empty()) error = Within(min, max)(text);
  if (!error.empty()) return std::string(part) + ": " + error;
  out = std::stoi(text);
  return "";
}

// "41" or "0x41".
std::string ReadHexByte(const std::string& text, std::uint8_t& out) {
  std::string_view digits = text;
  if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);
  unsigned value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value, 16);
  if (digits.empty() || digits.size() > 2 || error != std::errc() || stop != end) {
    return "BYTE: Value " + text + " is not one hex byte such as 41";
  }
  out = static_cast<std::uint8_t>(value);
  return "";
}

// Splits "A:B" at its colon; nothing when there is none.
std::optional<std::pair<std::string, std::string>> SplitPair(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return std::pair(text.substr(0, colon), text.substr(colon + 1));
}

std::string ReadNakSend(const std::string& text, NakSendFault& fault) {
  const auto pair = SplitPair(text);
  if (!pair) return "expected N:K, got '" + text + "'";
  std::string error = ReadNumber("N", pair->first, 1, kMaxCount, fault.first_send);
  return error.empty() ? ReadNumber("K", pair->second, 1, kMaxCount, fault.count) : error;
}

std::string ReadStray(const std::string& text, StrayFault& fault) {
  const auto pair = SplitPair(text);
  if (!pair) return "expected N:BYTE, got '" + text + "'";
  std::string error = ReadNumber("N", pair->first, 1, kMaxCount, fault.command);
  return error.empty() ? ReadHexByte(pair->second, fault.byte) : error;
}

std::string ReadHoldReply(const std::string& text, HoldReplyFault& fault) {
  const auto pair = SplitPair(text);
  if (!pair) return "expected N:MS, got '" + text + "'";
  std::string error = ReadNumber("N", pair->first, 1, kMaxCount, fault.command);
  return error.empty() ? ReadNumber("MS", pair->second, 0, kMaxDelayMs, fault.at_ms) : error;
}

// "MS" or "MS:BYTE"; the byte is an ACK unless given.
struct Unprompted {
  int ms = 0;
  std::uint8_t byte = 0x06;
};

std::string ReadUnprompted(const std::string& text, Unprompted& unprompted) {
  const auto pair = SplitPair(text);
  std::string error = ReadNumber("MS", pair ? pair->first : text, 1, kMaxDelayMs, unprompted.ms);
  return error.empty() && pair ? ReadHexByte(pair->second, unprompted.byte) : error;
}

// As CLI11's each(), with an answer: `read` turns every value given into
// what it means, or says what is wrong with it, and `keep` stores it.
template <typename Value>
CLI::Option* ReadEach(CLI::Option* option, std::string (*read)(const std::string&, Value&),
                      std::function<void(const Value&)> keep) {
  return option->check(CLI::Validator(
      [read, keep](std::string& text) {
        Value value{};
        std::string error = read(text, value);
        if (error.empty()) keep(value);
        return error;
      },
      ""));
}

// A repeatable "A:B" option: every value given adds one fault to `faults`.
template <typename Fault>
void AddFaultList(CLI::App& app, const char* name, const char* form, const char* help,
                  std::vector<Fault>& faults, std::string (*read)(const std::string&, Fault&)) {
  CLI::Option* option = app.add_option(name, CLI::callback_t{}, help)->type_name(form);
  ReadEach<Fault>(option, read, [&faults](const Fault& fault) { faults.push_back(fault); });
}

CLI::Option* AddNumber(CLI::App& app, const char* name, const char* form, const char* help,
                       int& field, int min, int max) {
  return app.add_option(name, field, help)
      ->type_name(form)
      ->transform(Decimal())
      ->check(Within(min, max));
}

// A repeatable command number: every value given adds one to `numbers`.
void AddCommandList(CLI::App& app, const char* name, const char* help, std::vector<int>& numbers) {
  app.add_option(name, numbers, help)
      ->type_name("N")
      ->transform(Decimal())
      ->check(Within(1, kMaxCount))
      ->allow_extra_args(false);
}

CLI::Option* AddPath(CLI::App& app, const char* name, const char* form, const char* help,
                     std::string& field) {
  const CLI::Validator not_empty(
      [](std::string& text) { return text.empty() ? "Value is empty, expected a path" : ""; }, "");
  return app.add_option(name, field, help)->type_name(form)->check(not_empty);
}

CLI::Validator Probability() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double rate = -1;
        if (CLI::detail::lexical_cast(text, rate) && rate >= 0.0 && rate <= 1.0) return "";
        return "Value " + text + " is not a probability from 0 to 1";
      },
      "");
}

void AddLineOptions(CLI::App& app, PagerOptions& o) {
  app.option_defaults()->group(kLine);
  CLI::Option* link =
      AddPath(app, "--link", "PATH", "also create a symlink PATH -> pty slave (removed on exit)",
              o.link_path);
  CLI::Option* device =
      AddPath(app, "--device", "PATH", "serve on an existing serial device instead of a new pty",
              o.device_path);
  // --link names a new pty; an existing device has its own name.
  link->excludes(device);
  app.add_flag("--pace", o.pace, "each byte takes 10 bit times at the current rate");
  AddNumber(app, "--cmd-timeout", "MS",
            "drop a partial command after MS ms of silence (default 2000)", o.command_timeout_ms, 1,
            kMaxDelayMs);
  AddNumber(app, "--latency-ms", "N",
            "deliver every reply at the next multiple of N ms since the start,\n"
            "as a USB adapter's latency timer does (0..255, default 0: at once)",
            o.latency_ms, 0, kMaxLatencyMs);
}

void AddBenchOptions(CLI::App& app, PagerOptions& o) {
  app.option_defaults()->group(kBench);
  AddNumber(app, "--sessions", "N",
            "N pagers, each a fresh loader with the same faults (needs --linger-ms)", o.sessions, 1,
            kMaxCount);
  AddNumber(app, "--attach-after", "MS", "silent MS ms before each pager is connected",
            o.attach_after_ms, 0, kMaxDelayMs);
  AddNumber(app, "--linger-ms", "MS",
            "after its last \"q\" the pager stays on the line, answering, MS ms", o.linger_ms, 0,
            kMaxDelayMs);
  AddNumber(app, "--gap-ms", "MS",
            "silent MS ms after a pager has left, before the next one's wait", o.gap_ms, 0,
            kMaxDelayMs);
}

void AddStoppingOptions(CLI::App& app, PagerOptions& o) {
  app.option_defaults()->group(kStopping);
  app.add_flag("--stdin-stop", o.stdin_stop, "stop when stdin reaches end of file");
  AddNumber(app, "--exit-after-q", "N", "stop after the N-th executed \"q\"", o.exit_after_q, 1,
            kMaxCount);
}

void AddOutputOptions(CLI::App& app, PagerOptions& o) {
  app.option_defaults()->group(kOutputs);
  AddPath(app, "--image-bin", "FILE", "programmed bytes, lowest to highest address, gaps 0xFF",
          o.image_bin_path);
  AddPath(app, "--image-hex", "FILE", "programmed bytes as Intel HEX", o.image_hex_path);
  AddPath(app, "--log", "FILE", "event log, one event per line", o.log_path);
  app.add_flag("--verbose", o.verbose, "echo log events to stderr as they happen");
}

void AddFaultOptions(CLI::App& app, PagerOptions& o) {
  app.option_defaults()->group(kFaults);
  AddFaultList(app, "--nak-send", "N:K",
               "NAK the record sent at the N-th \"s\" K times in a row\n"
               "(the host sends the same record again each time; repeatable)",
               o.nak_send, ReadNakSend);
  AddNumber(app, "--nak-program", "K", "NAK the first K \"p\"", o.nak_program, 1, kMaxCount);
  app.add_flag("--silent", o.silent, "never answer");
  AddNumber(app, "--silent-from", "N", "stop answering from command N on", o.silent_from, 1,
            kMaxCount);
  CLI::Option* delay =
      AddNumber(app, "--delay", "MS", "wait MS ms before every reply", o.delay_ms, 0, kMaxDelayMs);
  AddNumber(app, "--delay-from", "N", "... only from command N on (needs --delay)", o.delay_from, 1,
            kMaxCount)
      ->needs(delay);
  AddFaultList(app, "--stray", "N:BYTE",
               "answer command N with hex BYTE instead of ACK/NAK (repeatable)", o.stray,
               ReadStray);
  AddCommandList(app, "--nak-cmd", "answer command N with NAK without carrying it out (repeatable)",
                 o.nak_cmd);
  AddCommandList(app, "--double", "answer command N twice, back to back (repeatable)",
                 o.double_reply);
  AddFaultList(app, "--hold-reply", "N:MS",
               "hold the reply to command N until MS ms after the start (repeatable)", o.hold_reply,
               ReadHoldReply);
  CLI::Option* unprompted =
      app.add_option("--unprompted", CLI::callback_t{},
                     "send BYTE (default 06) after every MS ms of quiet on the line")
          ->type_name("MS[:BYTE]");
  ReadEach<Unprompted>(unprompted, ReadUnprompted, [&o](const Unprompted& value) {
    o.unprompted_ms = value.ms;
    o.unprompted_byte = value.byte;
  });
  AddNumber(app, "--hangup-after", "N", "close the line after the N-th successful \"p\"",
            o.hangup_after, 1, kMaxCount);
  app.add_option("--random-nak", o.random_nak_rate,
                 "NAK each \"s\"/\"p\" with probability RATE (0..1)")
      ->type_name("RATE")
      ->check(Probability());
  app.add_option("--lose-idle-replies", o.lose_idle_rate,
                 "lose each reply given in idle (a probe's NAK) with probability RATE (0..1)")
      ->type_name("RATE")
      ->check(Probability());
  app.add_flag("--nul-after-rate", o.nul_after_rate,
               "send a 0x00 a few ms after the ACK of a rate change, at the new rate");
  app.add_option("--seed", o.seed, "seed for --random-nak and --lose-idle-replies (default 1)")
      ->type_name("S")
      ->transform(Decimal())
      ->check(Within(0, kMaxSeed));
}

void AddOtherOptions(CLI::App& app, PagerOptions& o) {
  app.option_defaults()->group(kOther);
  app.add_flag("-h,--help", o.show_help, "show this text");
  app.add_flag("--version", o.show_version, "show the version");
}

// --help as this program has always shown it: the usage line, what the
// program does, then each group with its options, each with only the name
// of its value (none of CLI11's notes on types, ranges and exclusions).
class UsageFormatter : public CLI::Formatter {
 public:
  UsageFormatter() { column_width(kDescriptionColumn); }

  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    std::string text = "usage: pagersim [options]\n" + app->get_description();
    for (const std::string& group : app->get_groups()) {
      text += make_group(group, false, app->get_options([&group](const CLI::Option* option) {
        return option->get_group() == group;
      }));
    }
    return text;
  }

  std::string make_option_name(const CLI::Option* option, bool) const override {
    std::string names = option->get_name(false, true);
    for (std::size_t comma = names.find(','); comma != std::string::npos;
         comma = names.find(',', comma + 2)) {
      names.insert(comma + 1, " ");
    }
    return names;
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_type_size() == 0 ? "" : " " + option->get_type_name();
  }
};

// Every option, declared once: --help, the parser and its errors all come
// from here.
void DeclareOptions(CLI::App& app, PagerOptions& o) {
  app.set_help_flag();  // --help is an option like the others: main prints it
  app.formatter(std::make_shared<UsageFormatter>());
  // As before: options other than the lists keep their last value, and a
  // flag takes no value.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.option_defaults()->disable_flag_override();
  AddLineOptions(app, o);
  AddBenchOptions(app, o);
  AddStoppingOptions(app, o);
  AddOutputOptions(app, o);
  AddFaultOptions(app, o);
  AddOtherOptions(app, o);
}

// A rule across options that CLI11's needs() cannot say: only more than one
// pager needs --linger-ms.
void CheckBench(const PagerOptions& o) {
  if (o.sessions > 1 && o.linger_ms < 0) {
    throw CLI::ValidationError(
        "--sessions needs --linger-ms MS (a pager that never leaves lets no other on)");
  }
}

}  // namespace

bool ParsePagerOptions(int argc, const char* const* argv, PagerOptions& out, std::string& err) {
  out = PagerOptions{};
  CLI::App app(kAbout, "pagersim");
  DeclareOptions(app, out);
  try {
    app.parse(argc, argv);
    CheckBench(out);
  } catch (const CLI::ParseError& error) {
    err = error.what();
    return false;
  }
  return true;
}

std::string PagerUsage() {
  PagerOptions unused;
  CLI::App app(kAbout, "pagersim");
  DeclareOptions(app, unused);
  return app.help();
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
