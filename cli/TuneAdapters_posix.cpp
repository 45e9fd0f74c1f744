// --tune-adapters on Linux: nothing to write, as the channel asks for low
// latency at every open; each adapter's timer is read back with its port
// open, as an update opens it.
#include <cstdio>

#include "cli/Platform.h"
#include "cli/TuneReport.h"
#include "link/PortError.h"
#include "link/SerialDevice.h"
#include "station/Advice.h"

namespace {

LatencyReadBack OpenAndReadTimer(const std::string& port) {
  LatencyReadBack read;
  const std::unique_ptr<ISerialDevice> device = CreateSystemSerialDevice();
  if (!device->Open(port)) {
    const int error = device->LastError();
    const std::string hint = OpenFailureHint(PosixDevicePath(port), error);
    read.error = PortOpenReason(error, port) + (hint.empty() ? "" : "\n" + hint);
    return read;
  }
  read.opened = true;
  read.timer_ms = AdapterLatencyTimerMs(port);
  device->Close();
  return read;
}

}  // namespace

int TuneAdapters(const std::vector<std::string>& ports) {
  const TuningReport report = CheckLowLatency(ports, ListSerialPorts(), OpenAndReadTimer);
  const TuneOutput output = LowLatencyCheckOutput(report);
  WriteText(stdout, output.out);
  WriteText(stderr, output.err);
  return static_cast<int>(output.code);
}
