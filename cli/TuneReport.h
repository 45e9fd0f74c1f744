// What tarvex-flash --tune-adapters prints and ends with: on Windows, each
// FTDI adapter's latency timer as it was and as it is now, and that each
// one changed takes the new timer once unplugged and plugged back; on
// Linux, each adapter's timer read back with its port open, and the udev
// rule where low latency did not take. Pure: the tuning itself is
// link/AdapterTuning.h's, the call of it TuneAdapters_<platform>.cpp's.
#pragma once

#include <string>
#include <vector>

#include "link/AdapterTuning.h"
#include "station/ExitCode.h"

struct TuneOutput {
  std::string out;
  std::string err;
  ExitCode code = ExitCode::kFinished;
};

// Windows: 0 when done, 2 when a port is not an FTDI adapter or not there
// (nothing changed), 1 when Windows refused or failed a write.
TuneOutput RegistryTuningOutput(const TuningReport& report);

// Linux: 0 when every adapter runs at 1 ms with its port open, 1 when one
// does not, 2 as on Windows, 4 when a port could not be opened.
TuneOutput LowLatencyCheckOutput(const TuningReport& report);

// The ports tarvex-flash --tune-adapters is run with, and then what it does:
// the platform's tuning (registry) or check (Linux), printed. One
// implementation file per platform.
int TuneAdapters(const std::vector<std::string>& ports);
