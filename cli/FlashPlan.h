// The command line of tarvex-flash read into a plan: what to do, on which
// ports, with which file and settings. Pure: nothing is opened here.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// The help keeps to this width where no terminal says otherwise; its prose
// keeps to it on a wider one too.
constexpr std::size_t kHelpColumns = 80;

// The help, when asked for, is word-wrapped to `columns`.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv,
                                   std::size_t columns = kHelpColumns);

// "tarvex-flash: ERROR" and where to read about the options, as every usage
// error ends.
std::string UsageErrorText(const std::string& error);

// When a port names the same device as an earlier one (by `identities`, one
// per port, as PortIdentity gives them), the usage error that says so;
// otherwise "".
std::string SamePortTwice(const std::vector<std::string>& ports,
                          const std::vector<std::string>& identities);
