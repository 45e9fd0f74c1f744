// --tune-adapters on Windows: the FTDI driver's settings in the registry.
#include <cstdio>

#include "cli/Platform.h"
#include "cli/TuneReport.h"

int TuneAdapters(const std::vector<std::string>& ports) {
  const TuningReport report = TuneLatencyTimers(*SystemFtdiRegistry(), ports, ListSerialPorts());
  const TuneOutput output = RegistryTuningOutput(report);
  WriteText(stdout, output.out);
  WriteText(stderr, output.err);
  return static_cast<int>(output.code);
}
