#include "link/AdapterTuning.h"

#include <algorithm>

namespace {

// A timer of 1 ms or less gains nothing from being set again.
bool AlreadyTuned(int timer_ms) { return timer_ms >= 0 && timer_ms <= kTunedLatencyTimerMs; }

const PortInfo* PresentByNumber(int number, const std::vector<PortInfo>& present) {
  for (const PortInfo& port : present) {
    if (number > 0 && port.Number == number) return &port;
  }
  return nullptr;
}

std::vector<const FtdiAdapterKey*> KeysOfNumber(int number,
                                                const std::vector<FtdiAdapterKey>& keys) {
  std::vector<const FtdiAdapterKey*> found;
  for (const FtdiAdapterKey& key : keys) {
    if (number > 0 && ComNumberOf(key.port_name) == number) found.push_back(&key);
  }
  return found;
}

// The serial number as --list-ports shows it for the adapter plugged in
// now; for one that is not, as its device ID carries it.
std::string SerialOfKey(const FtdiAdapterKey& key, const PortInfo* present) {
  if (present != nullptr && !present->Serial.empty()) return present->Serial;
  UsbIdentity usb;
  ParseInstanceId("FTDIBUS\\" + key.device_id + "\\0000", usb);
  return usb.Serial;
}

TuningReport Fault(TuningOutcome outcome, const std::string& port, const std::string& reason) {
  TuningReport report;
  report.outcome = outcome;
  report.port = port;
  report.reason = reason;
  return report;
}

// The COM numbers to tune, in the order given; a fault when a port given
// cannot be tuned.
TuningReport NumbersToTune(const std::vector<std::string>& given,
                           const std::vector<PortInfo>& present,
                           const std::vector<FtdiAdapterKey>& keys, std::vector<int>& numbers) {
  if (given.empty()) {
    for (const PortInfo& port : present) {
      if (!KeysOfNumber(port.Number, keys).empty()) numbers.push_back(port.Number);
    }
  }
  for (const std::string& name : given) {
    const PortMatch match = ResolvePort(name, present);
    if (match.name.empty()) return Fault(TuningOutcome::kMissing, name, match.error);
    const int number = ComNumberOf(match.name);
    const PortInfo* port = PresentByNumber(number, present);
    if (KeysOfNumber(number, keys).empty()) {
      if (port == nullptr) return Fault(TuningOutcome::kMissing, name, "");
      return Fault(TuningOutcome::kNotFtdi, name, port->Description);
    }
    numbers.push_back(number);
  }
  // One port given under two names is tuned once.
  std::vector<int> once;
  for (const int number : numbers) {
    if (std::find(once.begin(), once.end(), number) == once.end()) once.push_back(number);
  }
  numbers = once;
  return {};
}

}  // namespace

TuningReport TuneLatencyTimers(IFtdiRegistry& registry, const std::vector<std::string>& given,
                               const std::vector<PortInfo>& present) {
  const std::vector<FtdiAdapterKey> keys = registry.Adapters();
  std::vector<int> numbers;
  TuningReport report = NumbersToTune(given, present, keys, numbers);
  if (report.outcome != TuningOutcome::kDone) return report;
  for (const int number : numbers) {
    const PortInfo* port = PresentByNumber(number, present);
    // Two keys may name one COM port (an adapter gone, another given its
    // name): whichever is plugged in is to run tuned.
    for (const FtdiAdapterKey* key : KeysOfNumber(number, keys)) {
      AdapterTimer timer;
      timer.port = port != nullptr ? port->Name : "COM" + std::to_string(number);
      timer.serial = SerialOfKey(*key, port);
      timer.before_ms = timer.after_ms = key->latency_timer_ms;
      if (!AlreadyTuned(key->latency_timer_ms)) {
        const RegistryWrite write = registry.SetLatencyTimer(key->device_id, kTunedLatencyTimerMs);
        if (write.result != RegistryWrite::Result::kWritten) {
          report.adapters.push_back(timer);
          report.outcome = write.result == RegistryWrite::Result::kDenied ? TuningOutcome::kRefused
                                                                          : TuningOutcome::kFailed;
          report.port = timer.port;
          report.reason = write.reason;
          return report;
        }
        timer.after_ms = kTunedLatencyTimerMs;
        timer.written = true;
      }
      report.adapters.push_back(timer);
    }
  }
  return report;
}

namespace {

// The port present that `name` names: by its name, its by-id link, or the
// device both lead to.
const PortInfo* PresentByName(const std::string& name, const std::vector<PortInfo>& present) {
  for (const PortInfo& port : present) {
    if (port.Name == name || (!port.ById.empty() && port.ById == name)) return &port;
  }
  const std::string identity = PortIdentity(name);
  for (const PortInfo& port : present) {
    if (PortIdentity(port.Name) == identity) return &port;
  }
  return nullptr;
}

// The adapters to check, in the order given; a fault when a port given has
// no timer to check.
TuningReport PortsToCheck(const std::vector<std::string>& given,
                          const std::vector<PortInfo>& present,
                          std::vector<const PortInfo*>& ports) {
  if (given.empty()) {
    for (const PortInfo& port : present) {
      if (port.LatencyTimerMs >= 0) ports.push_back(&port);
    }
  }
  for (const std::string& name : given) {
    const PortMatch match = ResolvePort(name, present);
    if (match.name.empty()) return Fault(TuningOutcome::kMissing, name, match.error);
    const PortInfo* port = PresentByName(match.name, present);
    if (port == nullptr) return Fault(TuningOutcome::kMissing, name, "");
    if (port->LatencyTimerMs < 0) {
      const std::string driver = port->Driver.empty() ? "" : "driver " + port->Driver;
      return Fault(TuningOutcome::kNotFtdi, name,
                   port->Description.empty() ? driver : port->Description);
    }
    if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
  }
  return {};
}

}  // namespace

TuningReport CheckLowLatency(
    const std::vector<std::string>& given, const std::vector<PortInfo>& present,
    const std::function<LatencyReadBack(const std::string&)>& open_and_read) {
  std::vector<const PortInfo*> ports;
  TuningReport report = PortsToCheck(given, present, ports);
  if (report.outcome != TuningOutcome::kDone) return report;
  for (const PortInfo* port : ports) {
    const LatencyReadBack read = open_and_read(port->Name);
    AdapterTimer timer;
    timer.port = port->Name;
    timer.serial = port->Serial;
    timer.before_ms = port->LatencyTimerMs;
    timer.after_ms = read.opened ? read.timer_ms : -1;
    timer.error = read.opened ? "" : read.error;
    report.adapters.push_back(timer);
    // The first port found wanting is the one the outcome names.
    if (report.outcome != TuningOutcome::kDone) continue;
    if (!read.opened) {
      report.outcome = TuningOutcome::kFailed;
    } else if (read.timer_ms > kTunedLatencyTimerMs) {
      report.outcome = TuningOutcome::kNotTaken;
    }
    if (report.outcome != TuningOutcome::kDone) {
      report.port = port->Name;
      report.reason = timer.error;
    }
  }
  return report;
}
