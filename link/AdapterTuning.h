// Bringing USB adapters to line speed. An FTDI chip hands the bytes it has
// received to the host only when its latency timer runs out, 16 ms unless
// told otherwise, and every command of the loader waits for a one-byte
// reply. On Windows the FTDI driver keeps the timer in the registry, beside
// the COM name it gave the adapter:
//   HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device ID>\0000\Device Parameters
//     PortName      REG_SZ     "COM5"
//     LatencyTimer  REG_DWORD  16
// and takes a new value when the adapter next starts (unplugged and plugged
// back). Writing there needs an administrator. On Linux the channel asks the
// driver for low latency each time it opens a port, which sets an FTDI
// chip's timer to 1 ms while the port is open; what is left to do there is
// to see that it took.
//
// The decisions are pure, over a registry or a port opener given to them,
// so they are tested on every platform; the Windows registry itself is in
// FtdiRegistry_win32.cpp.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/PortList.h"

// The timer a tuned adapter runs with: the shortest the chips allow.
constexpr int kTunedLatencyTimerMs = 1;
// What the FTDI driver uses where its settings name no timer.
constexpr int kFtdiDefaultLatencyTimerMs = 16;

// One adapter's settings as the FTDI driver keeps them.
struct FtdiAdapterKey {
  // The key's name below FTDIBUS: "VID_0403+PID_6001+FT5KQ2R7A".
  std::string device_id;
  // The COM name the adapter was given: "COM5".
  std::string port_name;
  // -1 where the key holds no timer (the driver then uses its default).
  int latency_timer_ms = -1;
};

struct RegistryWrite {
  enum class Result { kWritten, kDenied, kFailed };
  Result result = Result::kWritten;
  // The system's words for a failure, taken when the write failed.
  std::string reason;
};

class IFtdiRegistry {
 public:
  virtual ~IFtdiRegistry() = default;
  // Every adapter the driver has settings for, plugged in now or not.
  virtual std::vector<FtdiAdapterKey> Adapters() = 0;
  virtual RegistryWrite SetLatencyTimer(const std::string& device_id, int timer_ms) = 0;
};

// The registry of this Windows system. Windows only.
std::unique_ptr<IFtdiRegistry> SystemFtdiRegistry();

// How a tuning or a check ended, worst first.
enum class TuningOutcome {
  kDone,
  // A port given is not an FTDI adapter, or not there at all: nothing was
  // changed, nothing checked.
  kNotFtdi,
  kMissing,
  // Windows refused the write for want of an administrator's rights.
  kRefused,
  // Another failure of the write, or (Linux) a port that could not be opened.
  kFailed,
  // Linux: low latency was asked for and the timer stayed higher.
  kNotTaken,
};

// One adapter's timer, before and after.
struct AdapterTimer {
  std::string port;
  std::string serial;
  // As the registry held it; -1 where it held none (the driver's default
  // applies).
  int before_ms = -1;
  // As written (Windows) or as read back with the port open (Linux); -1
  // when not known.
  int after_ms = -1;
  // Set by this run; false when it was 1 ms already, and on Linux.
  bool written = false;
  // Linux: why the port could not be opened; empty when it was.
  std::string error;
};

struct TuningReport {
  TuningOutcome outcome = TuningOutcome::kDone;
  // The adapters dealt with, in the order of the ports: on a refusal or a
  // failure, those written before it and then the one that failed.
  std::vector<AdapterTimer> adapters;
  // The port the outcome is about when it is not kDone, with what the system
  // says of it: its description for a port that is not FTDI's, the
  // system's words for a failure.
  std::string port;
  std::string reason;
};

// Sets the latency timer of each FTDI port `given` (COM names, or
// serial=NUMBER) to 1 ms, or of every FTDI port `present` when none is
// given. Every port given is looked up before anything is written: a port
// that is not an FTDI adapter, or not there at all, changes nothing. A port
// whose timer is 1 ms already is left alone. The first write refused or
// failed ends the run.
TuningReport TuneLatencyTimers(IFtdiRegistry& registry, const std::vector<std::string>& given,
                               const std::vector<PortInfo>& present);

// What opening a port as an update opens it left its adapter's timer at.
struct LatencyReadBack {
  bool opened = false;
  // Why the port did not open, in the system's words, with a hint where
  // there is one.
  std::string error;
  int timer_ms = -1;
};

// Linux: opens each USB adapter `given` (or every one `present` that shows
// a latency timer when none is given) as an update does, which asks for low
// latency, and reads its timer back while it is open (`open_and_read`).
// A port whose timer stays above 1 ms is kNotTaken; one that shows no timer
// is kNotFtdi, and like a port not there (kMissing) it stops the check
// before any port is opened.
TuningReport CheckLowLatency(
    const std::vector<std::string>& given, const std::vector<PortInfo>& present,
    const std::function<LatencyReadBack(const std::string&)>& open_and_read);
