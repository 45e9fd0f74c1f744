#include "cli/FlashPlan.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "TarvexVersion.h"

namespace {

constexpr int kMaxResends = 99;
constexpr int kMaxCount = 1000000;

const char kDescription[] =
    "Rewrites the firmware of one or more pagers over serial lines, as the Tarvex Flasher "
    "window does.";

const char kPortHelp[] =
    "COM7 or \\\\.\\COM12 on Windows, /dev/ttyUSB0 or a /dev/serial/by-id name on Linux; "
    "repeat it to flash several pagers at once; serial=NUMBER names the port of the USB adapter "
    "with that serial number";

ParsedCommandLine Finished(ExitCode code, std::string out, std::string err) {
  ParsedCommandLine parsed;
  parsed.done = true;
  parsed.code = code;
  parsed.out = std::move(out);
  parsed.err = std::move(err);
  return parsed;
}

// The checks that tie options together, after CLI11 has checked each alone.
std::string PlanError(const FlashPlan& plan) {
  if (plan.list_ports) return "";
  if (plan.hex_file.empty()) return "a HEX file is required";
  if (!plan.check_only && plan.ports.empty()) return "at least one --port is required";
  if (plan.count > 0 && !plan.station) return "--count needs --station";
  if (plan.station && plan.check_only) return "--station and --check cannot be combined";
  std::vector<std::string> sorted = plan.ports;
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end()) return "the port " + *twice + " is given twice";
  return "";
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  FlashPlan plan;
  bool quiet = false;
  bool verbose = false;
  bool version = false;
  CLI::App app(kDescription, "tarvex-flash");
  app.footer(ExitCodeTable());
  app.add_option("-p,--port", plan.ports, kPortHelp)->allow_extra_args(false)->type_name("PORT");
  app.add_option("-b,--baud", plan.baud, "transfer rate: 2400, 4800 or 9600 (default 4800)")
      ->check(CLI::IsMember({2400, 4800, 9600}))
      ->type_name("RATE");
  app.add_option("-r,--resend", plan.resend, "resends of a rejected package (default 3)")
      ->check(CLI::Range(0, kMaxResends))
      ->type_name("N");
  app.add_flag("--check", plan.check_only,
               "check the file only: records, data bytes, address ranges and the line time at "
               "the chosen rate; sends nothing");
  app.add_flag("-l,--list-ports", plan.list_ports,
               "the ports present: name, description, USB VID:PID, serial number");
  app.add_flag("--json", plan.json,
               "one JSON object per line on stdout (start, progress, message, end)");
  app.add_flag("--station", plan.station,
               "a production bench: flash every pager once as it is connected, until Ctrl+C or "
               "--count (-q silences its bell)");
  app.add_option("--count", plan.count, "with --station: stop once N pagers have finished")
      ->check(CLI::Range(1, kMaxCount))
      ->type_name("N");
  app.add_option("--log", plan.log_file,
                 "append one JSON line per finished pager (time, port, adapter serial, file "
                 "name and SHA-256, outcome, seconds)")
      ->type_name("FILE");
  auto* quiet_flag = app.add_flag("-q,--quiet", quiet, "no progress and no message lines");
  app.add_flag("-v,--verbose", verbose, "also each stage of every update")->excludes(quiet_flag);
  app.add_flag("--version", version, "the program's version");
  app.add_option("FILE", plan.hex_file, "the firmware, an Intel HEX file")->type_name("FILE.hex");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(error, out, err);
    return Finished(code == 0 ? ExitCode::kFinished : ExitCode::kUsage, out.str(), err.str());
  }
  if (version) return Finished(ExitCode::kFinished, "tarvex-flash " TARVEX_VERSION "\n", "");
  if (const std::string error = PlanError(plan); !error.empty()) {
    return Finished(ExitCode::kUsage, "",
                    "tarvex-flash: " + error + "\nRun with --help for more information.\n");
  }
  plan.verbosity = quiet ? Verbosity::kQuiet : (verbose ? Verbosity::kVerbose : Verbosity::kNormal);
  ParsedCommandLine parsed;
  parsed.plan = std::move(plan);
  return parsed;
}
