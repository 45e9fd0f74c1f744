// The bench window's "Tune adapters…": which adapters it would set, what it
// asks before Windows asks for an administrator's consent, and what it
// tells afterwards. The change itself is tarvex-flash.exe --tune-adapters,
// run elevated from the program's folder; this side only decides. Pure, so
// it is tested on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/PortList.h"

constexpr char kTuneCaption[] = "Tune adapters";

// How an elevated run of tarvex-flash.exe went.
struct ElevatedRun {
  enum class Result : std::uint8_t {
    kRan,
    // The user said No to Windows' consent prompt.
    kDeclined,
    // Windows could not start it; `reason` says why in its own words.
    kNotStarted,
    // Started, and not ended within the time the window waits.
    kStillRunning,
  };
  Result result = Result::kRan;
  int exit_code = 0;
  std::string reason;
};

// The FTDI adapters plugged in whose latency timer is above 1 ms: what a
// tuning sets. Other adapters show no timer.
std::vector<PortInfo> AdaptersToTune(const std::vector<PortInfo>& present);

// Why there is nothing to tune: no FTDI adapter, or every one at 1 ms.
std::string NothingToTuneText(const std::vector<PortInfo>& present);

// The question before anything is changed: each adapter and its timer, the
// consent Windows asks for, and the replugging afterwards.
std::string TuneQuestion(const std::vector<PortInfo>& adapters);

// tarvex-flash.exe's command line for them, quoted as Windows programs read
// their arguments.
std::string TuneParameters(const std::vector<PortInfo>& adapters);

// What the window says once the run is over, from the adapters it was asked
// to set and the ports as read again afterwards.
struct TuneVerdict {
  std::string text;
  // For the status line under the totals.
  std::string status;
  bool alarm = false;
};
TuneVerdict VerdictOf(const std::vector<PortInfo>& asked, const std::vector<PortInfo>& after,
                      const ElevatedRun& run);

// One argument as CommandLineToArgvW reads it back: quoted when it holds a
// blank or a quote, with the backslashes before a quote doubled.
std::string QuotedArgument(const std::string& argument);
