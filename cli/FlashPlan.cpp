#include "cli/FlashPlan.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <sstream>
#include <string_view>

#include "TarvexVersion.h"
#include "common/NoCase.h"
#include "common/TextWidth.h"
#include "common/VisibleText.h"
#include "engine/Hexproc.h"
#include "link/PortList.h"
#include "station/Job.h"
#include "station/PortLimit.h"

namespace {

constexpr int kMaxResends = 99;
constexpr const char* kProgram = "tarvex-flash";
constexpr int kMaxCount = 1000000;

// One line of --help: the option as it is typed, and what it does. The help
// is laid out from this table, one line per option, so no option can be
// missing from it and none shows the parser's own notation.
struct OptionHelp {
  const char* names;  // "-p,--port", as CLI11 takes them
  const char* shown;  // "-p, --port PORT", as the help shows them
  const char* what;
};

constexpr OptionHelp kPort{"-p,--port", "-p, --port PORT",
                           "COM7, /dev/ttyUSB0 or serial=NUMBER; repeat for more"};
constexpr OptionHelp kBaud{"-b,--baud", "-b, --baud RATE",
                           "the rate: 2400, 4800 or 9600 bit/s (default 4800)"};
constexpr OptionHelp kResend{"-r,--resend", "-r, --resend N",
                             "resends of a rejected package, 0 to 99 (default 3)"};
constexpr OptionHelp kCheck{"--check", "    --check",
                            "check FILE.hex: records, bytes, ranges, line time"};
constexpr OptionHelp kListPorts{"-l,--list-ports", "-l, --list-ports",
                                "the serial ports present, their adapters and serials"};
constexpr OptionHelp kTune{"--tune-adapters", "    --tune-adapters",
                           "set FTDI adapters' latency timer to 1 ms, or check it"};
constexpr OptionHelp kJson{"--json", "    --json", "one JSON object per line on stdout"};
constexpr OptionHelp kStation{"--station", "    --station",
                              "flash every pager once as it is connected"};
constexpr OptionHelp kCount{"--count", "    --count N",
                            "with --station: stop once N pagers have finished"};
constexpr OptionHelp kLog{"--log", "    --log FILE",
                          "append one JSON line per finished pager to FILE"};
constexpr OptionHelp kStationName{"--station-name", "    --station-name NAME",
                                  "the bench's name in --log lines (default: host name)"};
constexpr OptionHelp kSetAside{"--set-aside-after", "    --set-aside-after N",
                               "set a port aside after N failed in a row (default 3)"};
constexpr OptionHelp kJob{"--job", "    --job JOB", "flash only as the signed job JOB allows"};
constexpr OptionHelp kJobKey{"--job-key", "    --job-key KEY",
                             "engineering's public key (PEM) that signed the job"};
constexpr OptionHelp kMakeJob{"--make-job", "    --make-job JOB",
                              "write a job for FILE.hex for engineering to sign"};
constexpr OptionHelp kQuota{"--quota", "    --quota N",
                            "with --make-job: pagers the job allows per machine"};
constexpr OptionHelp kExpires{"--expires", "    --expires DAY",
                              "with --make-job: its last day, UTC (YYYY-MM-DD)"};
constexpr OptionHelp kJobName{"--job-name", "    --job-name NAME",
                              "with --make-job: its name (default: JOB's name)"};
constexpr OptionHelp kQuiet{"-q,--quiet", "-q, --quiet", "no progress and no message lines"};
constexpr OptionHelp kVerbose{"-v,--verbose", "-v, --verbose",
                              "also a line at each stage of every update"};
constexpr OptionHelp kVersion{"--version", "    --version", "the program's version"};
constexpr OptionHelp kHelp{"-h,--help", "-h, --help", "this help"};

constexpr OptionHelp kOptions[] = {kPort,  kBaud,    kResend,  kCheck, kListPorts,   kTune,
                                   kJson,  kStation, kCount,   kLog,   kStationName, kSetAside,
                                   kJob,   kJobKey,  kMakeJob, kQuota, kExpires,     kJobName,
                                   kQuiet, kVerbose, kVersion, kHelp};

constexpr std::size_t kShownWidth = 23;
// Where an option's words start, and a wrapped line of them goes on.
constexpr std::size_t kWhatColumn = 2 + kShownWidth + 2;
// "Usage: tarvex-flash ": a usage line goes on below its options.
constexpr std::size_t kUsageIndent = 20;

// `line` wrapped to `columns`, its continuations from `indent` on.
std::string Wrapped(const std::string& line, std::size_t columns, std::size_t indent) {
  std::string text;
  for (const std::string& part : WrapLine(line, columns, indent)) text += part + "\n";
  return text;
}

// Where the meaning starts on a line of the exit codes' table ("   11
// not-logged        a pager..."): after the code, its name and the spaces
// that follow each.
std::size_t MeaningColumn(const std::string& line) {
  std::size_t at = line.find_first_not_of(' ');
  for (int field = 0; field < 2 && at != std::string::npos; ++field) {
    at = line.find(' ', at);
    if (at != std::string::npos) at = line.find_first_not_of(' ', at);
  }
  return at == std::string::npos ? 4 : at;
}

// The exit codes' table, each meaning wrapped below itself.
std::string WrappedExitCodes(std::size_t columns) {
  std::string text;
  std::istringstream lines(ExitCodeTable());
  for (std::string line; std::getline(lines, line);) {
    const bool code_line = line.size() > 4 && std::isdigit(static_cast<unsigned char>(line[4]));
    text += Wrapped(line, columns, code_line ? MeaningColumn(line) : 4);
  }
  return text;
}

std::string HelpText(std::size_t columns) {
  std::string text;
  for (const char* usage : {"Usage: tarvex-flash [options] -p PORT FILE.hex",
                            "       tarvex-flash --station [--count N] [options] -p PORT FILE.hex",
                            "       tarvex-flash --check [-b RATE] FILE.hex",
                            "       tarvex-flash --make-job JOB.json --quota N [--expires DAY] "
                            "FILE.hex",
                            "       tarvex-flash --list-ports [--json]",
                            "       tarvex-flash --tune-adapters [-p PORT ...]"}) {
    text += Wrapped(usage, columns, kUsageIndent);
  }
  text += "\n" +
          Wrapped(
              "Rewrites the firmware of one or more pagers over serial lines, as the Tarvex "
              "Flasher window does. FILE.hex, an Intel HEX file, is checked whole before any "
              "port is opened. With --job JOB.json --job-key KEY, in every mode, the job's "
              "signature (JOB.json.sig), firmware, expiry and quota are checked first.",
              std::min(columns, kHelpColumns), 0) +
          "\nOptions:\n";
  for (const OptionHelp& option : kOptions) {
    text += Wrapped(fmt::format("  {:<{}}  {}", option.shown, kShownWidth, option.what), columns,
                    kWhatColumn);
  }
  return text + "\n" + WrappedExitCodes(columns);
}

ParsedCommandLine Finished(ExitCode code, std::string out, std::string err) {
  ParsedCommandLine parsed;
  parsed.done = true;
  parsed.code = code;
  parsed.out = std::move(out);
  parsed.err = std::move(err);
  return parsed;
}

ParsedCommandLine UsageError(const std::string& error) {
  return Finished(ExitCode::kUsage, "", UsageErrorText(error));
}

// Edits (insertions, deletions, changes, swaps of two neighbours) that turn
// one text into the other.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::vector<std::string> OptionNames() {
  std::vector<std::string> names;
  for (const OptionHelp& option : kOptions) {
    std::istringstream parts(option.names);
    for (std::string name; std::getline(parts, name, ',');) names.push_back(name);
  }
  return names;
}

// The option a mistyped one most likely meant: one that differs only in
// case ("-P" for "-p"), one the typed text begins or abbreviates
// ("--list" for "--list-ports"), or the one nearest by a few edits. Empty
// when no single option stands out.
std::string NearestOption(const std::string& typed) {
  const std::string lower = ToLower(typed);
  const std::vector<std::string> names = OptionNames();
  for (const std::string& name : names) {
    if (ToLower(name) == lower) return name;
  }
  std::vector<std::string> prefixed;
  for (const std::string& name : names) {
    if (name.size() > 2 && lower.size() > 3 &&
        (name.starts_with(lower) || lower.starts_with(name))) {
      prefixed.push_back(name);
    }
  }
  if (prefixed.size() == 1) return prefixed.front();
  // A short option is one letter: any other letter is as near as the next.
  if (typed.size() <= 2) return "";
  const std::size_t limit = std::max<std::size_t>(1, typed.size() / 4);
  std::string best;
  std::size_t best_distance = limit + 1;
  bool tie = false;
  for (const std::string& name : names) {
    const std::size_t distance = EditDistance(lower, name);
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
      tie = false;
    } else if (distance == best_distance) {
      tie = true;
    }
  }
  return tie ? "" : best;
}

std::string UnknownOptionError(const std::string& arg) {
  const std::string typed = arg.substr(0, arg.find('='));
  const std::string nearest = NearestOption(typed);
  std::string error = "unknown option " + typed;
  if (!nearest.empty()) error += "; did you mean " + nearest + "?";
  return error;
}

// What is left over after parsing: an option nobody knows, else a second
// file name.
std::string ExtrasError(const std::vector<std::string>& extras) {
  for (const std::string& extra : extras) {
    if (extra.size() > 1 && extra.front() == '-') return UnknownOptionError(extra);
  }
  if (extras.empty()) return "unexpected arguments";
  return "one FILE.hex only: " + extras.front() + " is a second one";
}

// The text of a parse error, in this program's words where CLI11's would
// show its own notation.
std::string ParseErrorText(const CLI::App& app, const CLI::ParseError& error) {
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    return ExtrasError(app.remaining());
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
    return "--quiet and --verbose cannot be given together";
  }
  const std::string text = error.what();
  const std::size_t colon = text.find(": ");
  if (colon == std::string::npos) return text;
  // CLI11 names the option by its long name: "--baud: ...".
  const std::string name = text.substr(0, colon);
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    return text.find("missing") != std::string::npos ? name + " needs a value"
                                                     : name + " is given more than once";
  }
  // The validators below word the rest: "--baud: takes 2400, ..., not 1200".
  return name + " " + text.substr(colon + 2);
}

// A whole decimal number within [low, high], else why not, in the help's
// words.
CLI::Validator WholeNumberIn(std::vector<int> allowed, int low, int high, std::string words) {
  return CLI::Validator(
      [allowed = std::move(allowed), low, high, words](std::string& value) -> std::string {
        int number = 0;
        std::size_t used = 0;
        try {
          number = std::stoi(value, &used);
        } catch (const std::exception&) {
          used = 0;
        }
        const bool listed =
            allowed.empty() || std::find(allowed.begin(), allowed.end(), number) != allowed.end();
        if (used == 0 || used != value.size() || number < low || number > high || !listed) {
          return "takes " + words + ", not " + value;
        }
        return "";
      },
      "");
}

void AddOptions(CLI::App& app, FlashPlan& plan, bool& quiet, bool& verbose, bool& version) {
  app.set_help_flag(kHelp.names);
  // Options start with "-" on every system: on Windows, too, "/fw.hex" is a
  // file, not an option.
  app.allow_windows_style_options(false);
  app.add_option(kPort.names, plan.ports)->allow_extra_args(false);
  app.add_option(kBaud.names, plan.baud)
      ->check(WholeNumberIn({kTransferRates.begin(), kTransferRates.end()}, kTransferRates.front(),
                            kTransferRates.back(), "2400, 4800 or 9600"));
  app.add_option(kResend.names, plan.resend)
      ->check(WholeNumberIn({}, 0, kMaxResends, "a number from 0 to 99"));
  app.add_flag(kCheck.names, plan.check_only);
  app.add_flag(kListPorts.names, plan.list_ports);
  app.add_flag(kTune.names, plan.tune_adapters);
  app.add_flag(kJson.names, plan.json);
  app.add_flag(kStation.names, plan.station);
  app.add_option(kCount.names, plan.count)
      ->check(WholeNumberIn({}, 1, kMaxCount, "a number from 1 to 1000000"));
  app.add_option(kLog.names, plan.log_file);
  app.add_option(kStationName.names, plan.station_name);
  app.add_option(kSetAside.names, plan.set_aside_after)
      ->check(WholeNumberIn({}, 0, kMaxSetAsideAfter, "a number from 0 to 1000"));
  app.add_option(kJob.names, plan.job_file);
  app.add_option(kJobKey.names, plan.job_key);
  app.add_option(kMakeJob.names, plan.make_job);
  app.add_option(kQuota.names, plan.quota)
      ->check(WholeNumberIn({}, 1, kMaxJobQuota, "a number from 1 to 1000000"));
  app.add_option(kExpires.names, plan.expires);
  app.add_option(kJobName.names, plan.job_name);
  auto* quiet_flag = app.add_flag(kQuiet.names, quiet);
  app.add_flag(kVerbose.names, verbose)->excludes(quiet_flag);
  app.add_flag(kVersion.names, version);
  app.add_option("FILE", plan.hex_file);
}

// The first of `unused` that was given, refused beside `mode`, so that a
// typing slip ("-l /dev/ttyUSB0", "--check --log day.jsonl") does not pass
// as done.
std::string UnusedOptionError(const CLI::App& app, const std::string& mode,
                              std::initializer_list<const OptionHelp*> unused) {
  for (const OptionHelp* option : unused) {
    const std::string name = option->names;
    const std::string long_name = name.substr(name.rfind(',') + 1);
    if (app.count(long_name) > 0) return mode + " cannot be given with " + long_name;
  }
  return "";
}

std::string ListPortsError(const CLI::App& app, const FlashPlan& plan) {
  if (!plan.hex_file.empty())
    return "--list-ports takes no file, but " + plan.hex_file + " was given";
  return UnusedOptionError(
      app, "--list-ports",
      {&kPort, &kBaud, &kResend, &kCheck, &kTune, &kStation, &kCount, &kLog, &kStationName,
       &kSetAside, &kJob, &kJobKey, &kMakeJob, &kQuota, &kExpires, &kJobName});
}

// Tuning touches the adapters only: it takes ports, and nothing an update
// or a listing would use.
std::string TuneAdaptersError(const CLI::App& app, const FlashPlan& plan) {
  if (!plan.hex_file.empty())
    return "--tune-adapters takes no file, but " + plan.hex_file + " was given";
  return UnusedOptionError(
      app, "--tune-adapters",
      {&kBaud, &kResend, &kCheck, &kJson, &kStation, &kCount, &kLog, &kStationName, &kSetAside,
       &kJob, &kJobKey, &kMakeJob, &kQuota, &kExpires, &kJobName});
}

// --make-job writes a file and flashes nothing.
std::string MakeJobError(const CLI::App& app, const FlashPlan& plan) {
  if (plan.hex_file.empty()) return "a FILE.hex is required";
  if (plan.quota == 0) return "--make-job needs --quota N, the pagers the job allows";
  if (!plan.expires.empty() && !ParseDay(plan.expires)) {
    return "--expires takes a day as YYYY-MM-DD (2026-12-31), not " + plan.expires;
  }
  if (app.count("--job-name") > 0) {
    if (const std::string error = JobNameError(plan.job_name); !error.empty()) return error;
  }
  return UnusedOptionError(app, "--make-job",
                           {&kPort, &kCheck, &kJson, &kStation, &kCount, &kLog, &kStationName,
                            &kSetAside, &kJob, &kJobKey});
}

// What only --make-job uses, and the two halves of --job.
std::string JobOptionsError(const CLI::App& app, const FlashPlan& plan) {
  if (!plan.make_job.empty()) return MakeJobError(app, plan);
  for (const OptionHelp* option : {&kQuota, &kExpires, &kJobName}) {
    const std::string name = option->names;
    if (app.count(name) > 0) return name + " needs --make-job";
  }
  if (plan.job_file.empty() != plan.job_key.empty()) {
    return plan.job_file.empty() ? "--job-key needs --job JOB.json"
                                 : "--job needs --job-key, engineering's public key";
  }
  return "";
}

// "serial=" with no number would match no adapter, and the error would
// list every port as lacking one.
std::string PortNameError(const std::string& port) {
  // An empty name would open whatever the platform makes of "" (the first
  // serial port, on some systems).
  if (port.find_first_not_of(" \t\r\n") == std::string::npos) return "a port name is empty";
  if (NamesAdapterSerial(port) &&
      port.find_first_not_of(" \t\r\n", kSerialPrefix.size()) == std::string::npos) {
    return "serial= needs the adapter's serial number, as --list-ports shows it "
           "(serial=FT12AB34)";
  }
  return "";
}

std::string FirstPortNameError(const std::vector<std::string>& ports) {
  for (const std::string& port : ports) {
    if (const std::string error = PortNameError(port); !error.empty()) return error;
  }
  return "";
}

// The checks that tie options together, after CLI11 has checked each alone.
std::string PlanError(const CLI::App& app, const FlashPlan& plan) {
  if (plan.list_ports) return ListPortsError(app, plan);
  if (plan.tune_adapters) {
    if (const std::string error = TuneAdaptersError(app, plan); !error.empty()) return error;
    return FirstPortNameError(plan.ports);
  }
  if (const std::string error = JobOptionsError(app, plan); !error.empty()) return error;
  if (!plan.make_job.empty()) return "";
  if (plan.hex_file.empty()) return "a FILE.hex is required";
  if (!plan.check_only && plan.ports.empty()) return "at least one --port is required";
  if (plan.ports.size() > kMaxPorts) return TooManyPortsText(plan.ports.size());
  // An empty name would otherwise mean no log at all, and pagers would go
  // unrecorded without a word.
  if (app.count("--log") > 0 && plan.log_file.find_first_not_of(" \t\r\n") == std::string::npos) {
    return "--log needs a file name";
  }
  if (const std::string error = FirstPortNameError(plan.ports); !error.empty()) return error;
  if (plan.count > 0 && !plan.station) return "--count needs --station";
  if (app.count("--set-aside-after") > 0 && !plan.station)
    return "--set-aside-after needs --station";
  if (plan.station && plan.check_only) return "--station and --check cannot be combined";
  // --check reads the file and sends nothing: what only an update uses is
  // refused, as --list-ports refuses it.
  if (plan.check_only) {
    if (const std::string error =
            UnusedOptionError(app, "--check", {&kPort, &kResend, &kLog, &kStationName, &kSetAside});
        !error.empty()) {
      return error;
    }
  }
  // The name goes nowhere but into the log's lines.
  if (app.count(kStationName.names) > 0) {
    if (plan.log_file.empty()) return "--station-name needs --log";
    if (plan.station_name.find_first_not_of(" \t\r\n") == std::string::npos) {
      return "--station-name needs a name";
    }
  }
  std::vector<std::string> sorted = plan.ports;
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end()) return "the port " + *twice + " is given twice";
  return "";
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::size_t columns) {
  FlashPlan plan;
  bool quiet = false;
  bool verbose = false;
  bool version = false;
  CLI::App app("", kProgram);
  AddOptions(app, plan, quiet, verbose, version);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return Finished(ExitCode::kFinished, HelpText(columns), "");
  } catch (const CLI::ParseError& error) {
    return UsageError(ParseErrorText(app, error));
  }
  if (version) return Finished(ExitCode::kFinished, "tarvex-flash " TARVEX_VERSION "\n", "");
  if (const std::string error = PlanError(app, plan); !error.empty()) return UsageError(error);
  plan.baud_given = app.count("--baud") > 0;
  plan.resend_given = app.count("--resend") > 0;
  plan.verbosity = quiet ? Verbosity::kQuiet : (verbose ? Verbosity::kVerbose : Verbosity::kNormal);
  ParsedCommandLine parsed;
  parsed.plan = std::move(plan);
  return parsed;
}

std::string UsageErrorText(const std::string& error) {
  // A usage error is one line, whatever names it quotes.
  return fmt::format("{}: {}\nRun '{} --help' for the options.\n", kProgram, VisibleText(error),
                     kProgram);
}

std::string SamePortTwice(const std::vector<std::string>& ports,
                          const std::vector<PortInfo>& present,
                          const PortIdentityFunction& identity) {
  const std::optional<SamePort> twice = PortGivenTwice(ports, present, identity);
  if (!twice) return "";
  return "the port " + ports[twice->first] + " is given twice (also as " + ports[twice->second] +
         ")";
}
