// A production bench: every pager flashed once as it is connected. Each
// port runs a loop of its own on a thread of its own, as a gang's ports do,
// so a pulled adapter or a misbehaving pager affects only its own row:
//   connect  - "q" at the start rate, waiting as long as the port's
//              turnaround may take; any reply is a pager (LoaderProbe.h says
//              why only "q" probes). Now and then "q" at each transfer rate
//              too, so a pager left in flash mode by an earlier run leaves it
//              and is then found as a new one.
//   flashing - once a place is reserved for it (PagerPlaces.h), the pager's
//              update, run as every other face runs it (PagerRunner.h).
//   remove   - "q" at the rate the pager was last told to use, then the line
//              watched at the start rate until it has been silent while the
//              replies of kRemovalQuietProbes probes in a row were due: the
//              pager has gone. A pager whose replies are lost now and then is
//              never taken for gone (README works out the odds), and a swap
//              of 0.4 s is still seen.
// The pager on the port is remembered until it has gone: a loop that ends
// hands back its PortMemory, and the next run on the port starts from it, so
// a pager left on the cable is never flashed again.
// What happens reaches an IStationListener: the console's rows, the bench
// window's tiles. Each pager's log line is appended on a thread of its own:
// the port's loop never waits for the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Clock.h"
#include "engine/Turnaround.h"
#include "link/PortList.h"
#include "station/ExitCode.h"
#include "station/PagerPlaces.h"
#include "station/PagerResult.h"
#include "station/PagerRunner.h"
#include "station/SetAside.h"

// Probes for a pager to be connected start this far apart, or one after
// the other when a probe's wait is longer.
constexpr std::uint32_t kPresenceProbeSpacingMs = 80;
// A port that finds no pager at the start rate asks at each transfer rate
// this often.
constexpr std::uint32_t kFlashModeProbeSpacingMs = 10000;
// A pager has gone when no byte came while the replies of this many probes
// in a row were due. At 30 % of replies lost a staying pager loses them all
// with odds of 0.7 x 0.3^18 (2.7e-10) at each probe, about once in 17000
// hours of a pager left on the cable at one probe every kListenSpacingMs;
// the silence still fits into a swap of 0.4 s.
constexpr int kRemovalQuietProbes = 18;
// A port that cannot be opened is tried again this often.
constexpr std::uint32_t kReopenSpacingMs = 3000;

enum class PortState : std::uint8_t {
  kConnect,
  kFlashing,
  kRemove,
  kAdapterMissing,
  kStopped,
  // Too many failures in a row (SetAside.h): no pager is taken.
  kSetAside,
  // A pager answers, but every place of the run is held by pagers still in
  // flight on other ports: it is flashed if one of them fails.
  kWaitingForPlace,
};

// One port's row of the live view.
struct StationRow {
  // The port's name, or serial=... while its adapter has not been found.
  std::string port;
  std::string adapter_serial;
  PortState state = PortState::kConnect;
  int percent = 0;
  // The running number of the pager on the port, or of the last one.
  int number = 0;
  int finished = 0;
  int failed = 0;
  // Pagers that failed one after another on the port, the last one included.
  int failed_in_row = 0;
  // How the port's last pager ended, and when (local time, "14:02:11").
  std::optional<ExitCode> last;
  std::string last_time;
  // The last pager's latency hint, when its replies came late.
  std::string latency_hint;
  // The port's turnaround as last measured (PortResult::turnaround_ms);
  // negative when unknown.
  double turnaround_ms = -1.0;
};

// What a port's loop knows of the port when it ends, which the next run on
// the port starts from.
struct PortMemory {
  // A pager was flashed, or failed, or was stopped on the port, and has not
  // been seen to leave: it is waited for to go before any pager is taken.
  bool pager_on_cable = false;
  // Its running number, how it ended and when, for its row.
  int number = 0;
  std::optional<ExitCode> last;
  std::string last_time;
  // The rate it was last told to listen at.
  std::int32_t pager_rate = kStartBaudRate;
  PortTurnaround turnaround;
  // Pagers that failed one after another on the port: a port set aside
  // stays so across Stop and Start.
  int failed_in_row = 0;
};

// A port's loop has ended: its last row and what it hands on.
struct PortEnd {
  StationRow row;
  PortMemory memory{};
};

enum class StationEventKind : std::uint8_t {
  kConnected,
  kFinished,
  kFailed,
  kRemoved,
  // The port cannot be opened (the adapter pulled), and can again.
  kPortLost,
  kPortBack,
  // The port takes no more pagers after failures in a row, and takes them
  // again (its adapter plugged back, or a person's say).
  kSetAside,
  kResumed,
};

struct StationEvent {
  StationEventKind kind = StationEventKind::kConnected;
  std::size_t index = 0;
  std::string port;
  // The pager's running number in this bench run, counted from 1 as pagers
  // connect on any port; 0 for the port's own events.
  int number = 0;
  // When it happened: local time for people, UTC (ISO 8601) for scripts.
  std::string local_time;
  std::string utc_time;
  // For a finished or failed pager.
  PortResult result;
  // For a port that cannot be opened: why. For a port back: the adapter
  // serial it was found by, when it was named so.
  std::string message;
};

// "connected", "finished", "failed", "removed", "port-lost", "port-back",
// "set-aside", "resumed": the event's name in the JSON lines and the log.
std::string_view StationEventName(StationEventKind kind);

class IStationListener {
 public:
  virtual ~IStationListener() = default;
  virtual void OnRow(std::size_t index, const StationRow& row) = 0;
  virtual void OnEvent(const StationEvent& event) = 0;
  // A line of the program's own ("cannot append to the log ...").
  virtual void OnNote(const std::string& text) = 0;
};

// What the ports of one bench share: the running number of pagers, how many
// finished and failed (by the one rule of PagerTotals), and the first
// failure.
class StationTally {
 public:
  int NextNumber();
  // A pager ended with `code` (its outcome's).
  void Record(ExitCode code);
  // A finished pager's log line could not be written: the run ends with
  // kNotLogged unless a pager failed before.
  void RecordNotLogged();
  // No more pagers at all: a log that cannot be written stops the bench
  // taking new ones, as a pager it cannot account for is not flashed.
  void StopTaking() { taking_stopped_.store(true); }
  bool TakingStopped() const { return taking_stopped_.load(); }
  int Finished() const;
  int Failed() const;
  // 0 when no pager failed, else the code of the first failure; an
  // interrupted run ends as interrupted.
  ExitCode Code(bool interrupted) const;

 private:
  void NoteFailure(ExitCode code);

  mutable std::mutex mutex_;
  int numbers_ = 0;
  PagerTotals totals_;
  std::optional<ExitCode> first_failure_;
  std::atomic<bool> taking_stopped_{false};
};

class TraceLog;

struct StationPortSetup {
  // The update each pager on the port gets. Its port is the name the port
  // resolved to at the start, empty while its adapter is not there yet; its
  // adapter serial is known even then, for a port given by it.
  PagerJob job;
  // As the user gave it: a port name, or serial=... for an adapter.
  std::string given;
  // The ports present, asked again while a port named by its adapter's
  // serial number cannot be opened: the adapter may be back under another
  // name.
  std::function<std::vector<PortInfo>()> list_ports;
  // Every port of the bench as given (RunStation fills it in): an adapter
  // that turns up late as one the bench has already is refused.
  std::vector<std::string> bench_ports{};
  // What the port's last run handed on (PortEnd::memory).
  PortMemory memory{};
};

// The row a port starts with, before its loop has done anything: "remove
// pager #N" while the pager of its last run is on the cable.
StationRow FirstRow(const StationPortSetup& setup);

// What the technician is to do at a port, or what it is doing, in a bench's
// words: "connect a pager", "flashing 42%", "remove pager #12", "adapter
// missing", "stopped", "set aside: 3 failed in a row, check the cable".
std::string PortStateWords(const StationRow& row);

// Everything a bench port needs beyond its own setup.
struct StationShared {
  StationTally& tally;
  IStationListener& listener;
  // A stop: running updates stop at their next step, the loops at once.
  const std::atomic<bool>& interrupt;
  TraceLog* log = nullptr;
  // The bench's start, UTC, for the log.
  std::string start_time;
  // What every wait is timed on.
  ITickSource& clock = SystemTickSource();
  // A pager whose log line could not be written stops the bench taking new
  // ones (the bench window's way); otherwise the bench goes on and its run
  // ends with kNotLogged.
  bool stop_when_log_fails = false;
  // The places pagers are taken on (a --count, a job's quota): a pager is
  // flashed only once each has reserved one for it, a failed pager gives its
  // place back, and the run ends once one is used up.
  std::vector<IPagerPlaces*> places = {};
  // Failures in a row that set a port aside; 0 never.
  int set_aside_after = kDefaultSetAsideAfter;
  // A person's requests to resume ports set aside, where there is one.
  PortResumes* resumes = nullptr;
};

// Runs one port's loop on the calling thread until interrupted, the places
// are used up or the tally takes no more; returns its last row and memory.
PortEnd RunStationPort(const StationPortSetup& setup, const StationShared& shared);

// `ports`, each told of all the bench's ports.
std::vector<StationPortSetup> WithBenchPorts(std::vector<StationPortSetup> ports);

// Runs every port's loop at once, one thread each; ends in port order.
std::vector<PortEnd> RunStation(const std::vector<StationPortSetup>& ports,
                                const StationShared& shared);
