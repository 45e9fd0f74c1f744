// What a run of tarvex-flash ends with: one code per way an update can end,
// taken from the engine's outcome, so a script can tell a pager that is
// silent from one that refuses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/UpdateObserver.h"

enum class ExitCode : int {
  kFinished = 0,
  kInternal = 1,
  kUsage = 2,
  kBadHexFile = 3,
  kPortNotOpened = 4,
  kNoResponse = 5,
  kRefused = 6,
  kResendsExceeded = 7,
  kRewindsExceeded = 8,
  kUnexpectedReply = 9,
  kPortLost = 10,
  // A pager finished, but its line could not be added to the --log file.
  kNotLogged = 11,
  // The job was refused before any port opened: its signature, its
  // firmware, its expiry or its quota; or its count could not be kept.
  kJobRefused = 12,
  // The shell's convention for a program ended by Ctrl+C (128 + SIGINT).
  kInterrupted = 130,
};

// The code of an update's outcome; kNone (an update that did not end as
// it should) gives kInternal.
ExitCode ExitCodeOf(UpdateOutcome outcome);

// A short stable name for scripts and logs: "finished", "no-response", ...
std::string_view OutcomeName(ExitCode code);
// The length of the longest of those names, for columns that show them.
std::size_t LongestOutcomeName();

// The code a pager counts with in a run: its outcome's, or kNotLogged when
// it finished but its line could not be logged.
ExitCode PagerExitCode(ExitCode code, bool logged);

// How a pager counts in a run's totals, on the console and in the bench
// window alike: finished when it was flashed, whether or not its log line
// could be written; failed otherwise, a pager stopped during its update
// included.
bool CountsAsFinished(ExitCode pager_code);

struct PagerTotals {
  int finished = 0;
  int failed = 0;
  void Count(ExitCode pager_code) { ++(CountsAsFinished(pager_code) ? finished : failed); }
  int Ended() const { return finished + failed; }
};

// With several pagers: 0 when all finished, else the code of the first
// failure in port order; an interrupted run always ends as interrupted.
ExitCode GangExitCode(const std::vector<ExitCode>& in_port_order, bool interrupted);

// The table of codes for --help and the manual.
std::string ExitCodeTable();
