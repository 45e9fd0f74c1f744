// The command line of tarvex-flash read into a plan: what to do, on which
// ports, with which file and settings. Pure: nothing is opened here.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "link/PortList.h"
#include "station/ExitCode.h"
#include "station/SetAside.h"

enum class Verbosity { kQuiet, kNormal, kVerbose };

struct FlashPlan {
  std::vector<std::string> ports;
  int baud = 4800;  // the window's default
  int resend = 3;
  // -b and -r given: under a job they must agree with it.
  bool baud_given = false;
  bool resend_given = false;
  bool check_only = false;
  bool list_ports = false;
  // Set FTDI adapters' latency timer to 1 ms (Windows), or check that low
  // latency takes (Linux), on the ports given or on every one present.
  bool tune_adapters = false;
  bool json = false;
  // A production bench: every pager flashed as it is connected, once.
  bool station = false;
  // With station: stop once this many pagers have finished; 0 for no limit.
  int count = 0;
  std::string log_file;
  // The bench's name in each log line; empty for the host's name.
  std::string station_name;
  // With station: failures in a row that set a port aside; 0 never.
  int set_aside_after = kDefaultSetAsideAfter;
  // Flash only as this signed job allows, checked with engineering's key.
  std::string job_file;
  std::string job_key;
  // Write a job for the file instead of flashing: its path, quota, last
  // day ("" for none) and name ("" for the job file's name).
  std::string make_job;
  int quota = 0;
  std::string expires;
  std::string job_name;
  Verbosity verbosity = Verbosity::kNormal;
  std::string hex_file;
};

// What the command line asks for. When `done` is set, the program prints
// `out` (help, version) and `err` (a usage error) and ends with `code`
// without doing anything else.
struct ParsedCommandLine {
  FlashPlan plan;
  bool done = false;
  ExitCode code = ExitCode::kFinished;
  std::string out;
  std::string err;
};

// The help keeps to this width where no terminal says otherwise; its prose
// keeps to it on a wider one too.
constexpr std::size_t kHelpColumns = 80;

// The help, when asked for, is word-wrapped to `columns`.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv,
                                   std::size_t columns = kHelpColumns);

// "tarvex-flash: ERROR" and where to read about the options, as every usage
// error ends.
std::string UsageErrorText(const std::string& error);

// When a port names the same port as an earlier one (the port list's rule:
// serial= forms found among `present`, every other name by `identity`),
// the usage error that says so, naming both; otherwise "".
std::string SamePortTwice(const std::vector<std::string>& ports,
                          const std::vector<PortInfo>& present,
                          const PortIdentityFunction& identity = PortIdentity);
