// The command line of tarvex-flash read into a plan: what to do, on which
// ports, with which file and settings. Pure: nothing is opened here.
#pragma once

#include <string>
#include <vector>

#include "link/PortList.h"
#include "station/ExitCode.h"

enum class Verbosity { kQuiet, kNormal, kVerbose };

struct FlashPlan {
  std::vector<std::string> ports;
  int baud = 4800;  // the window's default
  int resend = 3;
  bool check_only = false;
  bool list_ports = false;
  bool json = false;
  // A production bench: every pager flashed as it is connected, once.
  bool station = false;
  // With station: stop once this many pagers have finished; 0 for no limit.
  int count = 0;
  std::string log_file;
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

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// "tarvex-flash: ERROR" and where to read about the options, as every usage
// error ends.
std::string UsageErrorText(const std::string& error);

// When a port names the same port as an earlier one (the port list's rule:
// serial= forms found among `present`, every other name by `identity`),
// the usage error that says so, naming both; otherwise "".
std::string SamePortTwice(const std::vector<std::string>& ports,
                          const std::vector<PortInfo>& present,
                          const PortIdentityFunction& identity = PortIdentity);
