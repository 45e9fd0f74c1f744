// tarvex-flash --station: a production bench that flashes every pager as it
// is connected, once. Each port runs a loop of its own on a thread of its
// own, as a gang's ports do, so a pulled adapter or a misbehaving pager
// affects only its own row:
//   waiting  - an update runs; its "f" is the probe. Silence means no pager
//              yet: nothing is told, and the next try follows a second later.
//   flashing - "f" was answered: the update runs to its end as a one-shot
//              update does.
//   remove   - "q" (harmless in any state) about every second; any reply
//              means the pager is still on the cable, two silent probes in a
//              row that it has gone.
// What happens reaches an IStationListener (StationView.h on the streams).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/ExitCode.h"
#include "cli/Report.h"
#include "engine/Firmware.h"
#include "link/Dcommthread.h"
#include "link/PortList.h"

// After a try that found no pager, the next one starts this much later.
constexpr std::uint32_t kStationProbeSpacingMs = 1000;
// "q" probes for a pager to be removed start this far apart.
constexpr std::uint32_t kRemovalProbeSpacingMs = 1000;
// This many silent "q" probes in a row: the pager has gone.
constexpr int kSilentProbesForRemoval = 2;
// A port that cannot be opened is tried again this often.
constexpr std::uint32_t kReopenSpacingMs = 3000;

enum class PortState : std::uint8_t { kWaiting, kFlashing, kRemove, kCannotOpen, kStopped };

// One port's row of the live view.
struct StationRow {
  std::string port;
  std::string adapter_serial;
  PortState state = PortState::kWaiting;
  int percent = 0;
  int finished = 0;
  int failed = 0;
  // How the port's last pager ended, and when (local time, "14:02:11").
  std::optional<ExitCode> last;
  std::string last_time;
};

enum class StationEventKind : std::uint8_t {
  kConnected,
  kFinished,
  kFailed,
  kRemoved,
  // The port cannot be opened (the adapter pulled), and can again.
  kPortLost,
  kPortBack,
};

struct StationEvent {
  StationEventKind kind = StationEventKind::kConnected;
  std::size_t index = 0;
  std::string port;
  // The pager's running number in this station run, counted from 1 as pagers
  // connect on any port; 0 for the port's own events.
  int number = 0;
  // When it happened: local time for people, UTC (ISO 8601) for scripts.
  std::string local_time;
  std::string utc_time;
  // For a finished or failed pager.
  PortResult result;
  // For a port that cannot be opened: why.
  std::string message;
};

class IStationListener {
 public:
  virtual ~IStationListener() = default;
  virtual void OnRow(std::size_t index, const StationRow& row) = 0;
  virtual void OnEvent(const StationEvent& event) = 0;
  // A line of the program's own ("cannot append to the log ...").
  virtual void OnNote(const std::string& text) = 0;
};

// What the ports of one station share: the running number of pagers, how
// many finished, and the first failure.
class StationTally {
 public:
  // `count`: stop once this many pagers have finished; 0 for no limit.
  explicit StationTally(int count) : count_(count) {}

  int NextNumber();
  void Record(ExitCode code);
  // True once `count` pagers have finished: no new pager is taken on.
  bool Enough() const { return enough_.load(); }
  // 0 when no pager failed, else the code of the first failure; an
  // interrupted run ends as interrupted.
  ExitCode Code(bool interrupted) const;

 private:
  const int count_;
  mutable std::mutex mutex_;
  int numbers_ = 0;
  int finished_ = 0;
  std::optional<ExitCode> first_failure_;
  std::atomic<bool> enough_{false};
};

class TraceLog;

struct StationPortSetup {
  std::size_t index = 0;
  // As the user gave it: a port name, or serial=... for an adapter.
  std::string given;
  // The name it resolved to at the start.
  std::string port;
  std::string adapter_serial;
  std::string file_name;
  std::shared_ptr<const CheckedFirmware> firmware;
  int baud = 0;
  int resend = 0;
  // Where the channel's devices come from; the platform's driver when empty.
  SerialDeviceFactory device_factory;
  // The ports present, asked again when a port named by its adapter's serial
  // number cannot be opened: the adapter may be back under another name.
  std::function<std::vector<PortInfo>()> list_ports;
};

// Everything a station port needs beyond its own setup.
struct StationShared {
  StationTally& tally;
  IStationListener& listener;
  // Ctrl+C: running updates stop at their next step, the loops at once.
  const std::atomic<bool>& interrupt;
  TraceLog* log = nullptr;
  // The station's start, UTC, for the log.
  std::string start_time;
};

// Runs one port's loop on the calling thread until interrupted or the tally
// has enough; returns its last row.
StationRow RunStationPort(const StationPortSetup& setup, const StationShared& shared);

// Runs every port's loop at once, one thread each; rows in port order.
std::vector<StationRow> RunStation(const std::vector<StationPortSetup>& ports,
                                   const StationShared& shared);
