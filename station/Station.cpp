#include "station/Station.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "engine/LoaderProbe.h"
#include "link/Dcommthread.h"
#include "station/Advice.h"
#include "station/PagerRunner.h"
#include "station/TraceLog.h"
#include "station/WallClock.h"

namespace {

// Waits are cut into steps this long, so a stop is honoured within one.
constexpr std::uint32_t kPauseStepMs = 50;

enum class Presence : std::uint8_t { kAnswered, kSilent, kCannotOpen };

class PortLoop;

// A pager's update as a bench port shows it: its progress in the row.
class RowProgress final : public IPagerListener {
 public:
  explicit RowProgress(PortLoop& loop) : loop_(loop) {}
  void OnStart(const PagerJob&) override {}
  void OnProgress(std::size_t, const PortProgress& progress) override;
  void OnMessage(std::size_t, const std::string&, UpdateOutcome) override {}
  void OnEnd(std::size_t, const PortResult&) override {}
  void OnNote(const std::string&) override {}

 private:
  PortLoop& loop_;
  int percent_ = -1;
};

class PortLoop {
 public:
  PortLoop(const StationPortSetup& setup, const StationShared& shared);

  StationRow Run();
  void ShowProgress(int percent) { SetState(PortState::kFlashing, percent); }

 private:
  bool Stopping() const {
    return shared_.interrupt.load() || shared_.tally.Enough() || PlacesUsedUp();
  }
  bool PlacesUsedUp() const;
  bool ReservePlaces();
  void AwaitResume();
  void Pause(std::uint32_t ms) { PauseFrom(clock_.TickCount(), ms); }
  void PauseFrom(std::uint32_t from, std::uint32_t ms);
  void SetName(const std::string& name);
  bool FindPort();
  Presence ProbeAt(std::int32_t rate);
  bool AwaitPager();
  bool TakePager();
  PortResult Flash();
  void EndPager(const PortResult& result);
  void AwaitRemoval(std::int32_t pager_rate);
  Presence ProbeRound(std::int32_t& pager_rate);
  void PortLost(const std::string& message);
  void PortBack();
  // What the port is about; shown unless the port is lost.
  void SetState(PortState state, int percent = 0);
  void ShowRow(PortState state, int percent);
  StationEvent Event(StationEventKind kind) const;
  bool AppendToLog(const PortResult& result);

  const StationPortSetup& setup_;
  const StationShared& shared_;
  ITickSource& clock_;
  TDComm comm_;
  LoaderProbe probe_;
  // The name opened: the port given, or the one the adapter is found under.
  std::string name_;
  StationRow row_;
  PortState activity_ = PortState::kConnect;
  bool lost_ = false;
  // A port missing from the start is lost before its loss has been told.
  bool lost_told_ = false;
  SetAsideRule set_aside_;
  // Its adapter turned up as a port the bench has already.
  bool refused_ = false;
};

void RowProgress::OnProgress(std::size_t, const PortProgress& progress) {
  if (progress.percent == percent_) return;
  percent_ = progress.percent;
  loop_.ShowProgress(progress.percent);
}

PortLoop::PortLoop(const StationPortSetup& setup, const StationShared& shared)
    : setup_(setup),
      shared_(shared),
      clock_(shared.clock),
      comm_(QuietGuiServices(), shared.clock),
      probe_(comm_),
      set_aside_(shared.set_aside_after) {
  if (setup.job.device_factory) comm_.DeviceFactory = setup.job.device_factory;
  SetName(setup.job.port);
  row_ = FirstRow(setup);
  // An adapter not there at the start is waited for as one that went.
  lost_ = setup.job.port.empty();
}

StationRow PortLoop::Run() {
  ShowRow(row_.state, 0);
  while (!Stopping()) {
    if (!FindPort()) {
      Pause(kReopenSpacingMs);
      continue;
    }
    if (!AwaitPager()) continue;
    if (!TakePager()) break;
    const PortResult result = Flash();
    EndPager(result);
    AwaitRemoval(result.pager_rate);
    if (set_aside_.SetAside()) AwaitResume();
  }
  probe_.Close();
  lost_ = false;
  SetState(PortState::kStopped);
  return row_;
}

void PortLoop::PauseFrom(std::uint32_t from, std::uint32_t ms) {
  for (std::uint32_t waited = ElapsedMs(from, clock_.TickCount()); waited < ms && !Stopping();
       waited = ElapsedMs(from, clock_.TickCount())) {
    clock_.Sleep(std::min(kPauseStepMs, ms - waited));
  }
}

void PortLoop::SetName(const std::string& name) {
  name_ = name;
  comm_.DevicePath = name;
}

// A port named by its adapter's serial number is looked up again while it
// cannot be opened: the adapter may be back under another name, or plugged
// in for the first time.
bool PortLoop::FindPort() {
  if (!lost_ || !NamesAdapterSerial(setup_.given) || !setup_.list_ports) return !name_.empty();
  const PortMatch match =
      ResolvePortNotTaken(setup_.given, setup_.list_ports(), setup_.bench_ports);
  if (match.name.empty()) {
    // A refusal is news to a port told missing: it is told once too.
    if (match.taken && !std::exchange(refused_, true)) lost_told_ = false;
    PortLost(match.error);
    return false;
  }
  refused_ = false;
  if (match.name != name_) {
    probe_.Close();
    SetName(match.name);
  }
  return true;
}

Presence PortLoop::ProbeAt(std::int32_t rate) {
  const ProbeAnswer answer = probe_.Probe(rate);
  if (answer == ProbeAnswer::kLost) {
    PortLost(comm_.LostText());
    return Presence::kCannotOpen;
  }
  if (answer == ProbeAnswer::kCannotOpen) {
    const std::string hint = OpenFailureHint(name_, comm_.LastOpenError);
    PortLost(comm_.OpenFailureText() + (hint.empty() ? "" : "\n" + hint));
    return Presence::kCannotOpen;
  }
  PortBack();
  return answer == ProbeAnswer::kAnswered ? Presence::kAnswered : Presence::kSilent;
}

// Probes at the start rate until a pager answers; false when the port could
// not be opened or the bench is stopping.
bool PortLoop::AwaitPager() {
  SetState(PortState::kConnect);
  while (!Stopping()) {
    const std::uint32_t began = clock_.TickCount();
    const Presence presence = ProbeAt(kStartBaudRate);
    if (presence == Presence::kAnswered) return true;
    if (presence == Presence::kCannotOpen) {
      Pause(kReopenSpacingMs);
      return false;
    }
    PauseFrom(began, kPresenceProbeSpacingMs);
  }
  return false;
}

bool PortLoop::TakePager() {
  if (Stopping() || !ReservePlaces()) return false;
  row_.number = shared_.tally.NextNumber();
  SetState(PortState::kFlashing);
  shared_.listener.OnEvent(Event(StationEventKind::kConnected));
  return true;
}

// The port is the update's while it runs.
PortResult PortLoop::Flash() {
  probe_.Close();
  PagerJob job = setup_.job;
  job.port = name_;
  RowProgress progress(*this);
  return RunPager(job, progress, shared_.interrupt, clock_);
}

void PortLoop::EndPager(const PortResult& result) {
  const bool finished = result.code == ExitCode::kFinished;
  // Given back before the log line, which tells what is left.
  for (IPagerPlaces* places : shared_.places) places->Release(finished);
  ++(finished ? row_.finished : row_.failed);
  row_.last = result.code;
  row_.last_time = LocalClockText();
  row_.latency_hint = result.latency_hint;
  const bool logged = AppendToLog(result);
  shared_.tally.Record(PagerExitCode(result.code, logged));
  if (!logged && shared_.stop_when_log_fails) shared_.tally.StopTaking();
  StationEvent event = Event(finished ? StationEventKind::kFinished : StationEventKind::kFailed);
  event.result = result;
  event.result.logged = logged;
  shared_.listener.OnEvent(event);
  if (set_aside_.PagerEnded(result.code)) {
    row_.failed_in_row = set_aside_.FailedInRow();
    StationEvent aside = Event(StationEventKind::kSetAside);
    aside.message = SetAsideWords(row_.failed_in_row);
    shared_.listener.OnEvent(aside);
  }
}

bool PortLoop::PlacesUsedUp() const {
  return std::any_of(shared_.places.begin(), shared_.places.end(),
                     [](const IPagerPlaces* places) { return places->UsedUp(); });
}

// A place in every count for the pager about to be flashed. While another
// port's pager holds the last place, this one waits: that pager may fail
// and give it back.
bool PortLoop::ReservePlaces() {
  while (!Stopping()) {
    std::size_t reserved = 0;
    while (reserved < shared_.places.size() && shared_.places[reserved]->Reserve()) ++reserved;
    if (reserved == shared_.places.size()) return true;
    while (reserved > 0) shared_.places[--reserved]->Release(false);
    Pause(kPresenceProbeSpacingMs);
  }
  return false;
}

// The port takes no pager until its adapter has gone and come back, which
// the probes see, or a person resumes it.
void PortLoop::AwaitResume() {
  SetState(PortState::kSetAside);
  while (!Stopping() && set_aside_.SetAside()) {
    if (shared_.resumes != nullptr && shared_.resumes->Take(setup_.job.index)) {
      set_aside_.Resume();
      shared_.listener.OnEvent(Event(StationEventKind::kResumed));
      return;
    }
    const Presence presence = FindPort() ? ProbeAt(kStartBaudRate) : Presence::kCannotOpen;
    Pause(presence == Presence::kCannotOpen ? kReopenSpacingMs : kPresenceProbeSpacingMs);
  }
}

// The pager stays on the cable after its update, whatever the outcome, and
// must not be flashed again: wait until it has gone.
void PortLoop::AwaitRemoval(std::int32_t pager_rate) {
  SetState(PortState::kRemove);
  int silent = 0;
  while (!Stopping()) {
    const std::uint32_t began = clock_.TickCount();
    const Presence presence = FindPort() ? ProbeRound(pager_rate) : Presence::kCannotOpen;
    if (presence == Presence::kCannotOpen) {
      // Whether the pager went with the adapter is not known: start over.
      silent = 0;
      Pause(kReopenSpacingMs);
      continue;
    }
    silent = presence == Presence::kSilent ? silent + 1 : 0;
    if (silent >= kSilentProbesForRemoval) {
      shared_.listener.OnEvent(Event(StationEventKind::kRemoved));
      return;
    }
    PauseFrom(began, kRemovalProbeSpacingMs);
  }
  // Stopped while a pager that may still be in flash mode waits on the
  // cable: it is asked once more to leave it.
  if (pager_rate != kStartBaudRate) (void)probe_.Probe(pager_rate);
}

// One round of removal probes: at the rate the pager was last told to use,
// where it may still listen in flash mode, then at the start rate. A loader
// that takes the exit command at its rate listens at the start rate again.
Presence PortLoop::ProbeRound(std::int32_t& pager_rate) {
  if (pager_rate != kStartBaudRate) {
    const Presence at_pager_rate = ProbeAt(pager_rate);
    if (at_pager_rate != Presence::kSilent) {
      if (at_pager_rate == Presence::kAnswered && probe_.Reply() == kAck) {
        pager_rate = kStartBaudRate;
      }
      return at_pager_rate;
    }
  }
  return ProbeAt(kStartBaudRate);
}

// Told once when the port goes, or is missing from the start; it is tried
// again until it comes back.
void PortLoop::PortLost(const std::string& message) {
  if (lost_ && lost_told_) return;
  set_aside_.PortLost();
  lost_ = true;
  lost_told_ = true;
  ShowRow(PortState::kAdapterMissing, 0);
  StationEvent event = Event(StationEventKind::kPortLost);
  event.message = message;
  shared_.listener.OnEvent(event);
}

void PortLoop::PortBack() {
  if (!lost_) return;
  lost_ = false;
  row_.port = name_;
  StationEvent event = Event(StationEventKind::kPortBack);
  if (NamesAdapterSerial(setup_.given)) event.message = setup_.given;
  shared_.listener.OnEvent(event);
  if (set_aside_.PortBack()) shared_.listener.OnEvent(Event(StationEventKind::kResumed));
  ShowRow(activity_, 0);
}

void PortLoop::SetState(PortState state, int percent) {
  activity_ = state;
  if (!lost_) ShowRow(state, percent);
}

void PortLoop::ShowRow(PortState state, int percent) {
  row_.state = state;
  row_.percent = percent;
  shared_.listener.OnRow(setup_.job.index, row_);
}

StationEvent PortLoop::Event(StationEventKind kind) const {
  StationEvent event;
  event.kind = kind;
  event.index = setup_.job.index;
  event.port = name_.empty() ? setup_.given : name_;
  const bool of_port = kind == StationEventKind::kPortLost || kind == StationEventKind::kPortBack ||
                       kind == StationEventKind::kSetAside || kind == StationEventKind::kResumed;
  event.number = of_port ? 0 : row_.number;
  event.local_time = LocalClockText();
  event.utc_time = UtcNow();
  return event;
}

bool PortLoop::AppendToLog(const PortResult& result) {
  if (shared_.log == nullptr ||
      shared_.log->AppendStation(result, row_.number, shared_.start_time)) {
    return true;
  }
  shared_.listener.OnNote(shared_.log->CannotAppendText());
  return false;
}

}  // namespace

StationRow FirstRow(const StationPortSetup& setup) {
  StationRow row;
  row.port = setup.job.port.empty() ? setup.given : setup.job.port;
  row.adapter_serial = setup.job.adapter_serial;
  row.state = setup.job.port.empty() ? PortState::kAdapterMissing : PortState::kConnect;
  return row;
}

std::string PortStateWords(const StationRow& row) {
  switch (row.state) {
    case PortState::kConnect:
      return "connect a pager";
    case PortState::kFlashing:
      return "flashing " + std::to_string(row.percent) + "%";
    case PortState::kRemove:
      return "remove pager #" + std::to_string(row.number);
    case PortState::kAdapterMissing:
      return "adapter missing";
    case PortState::kSetAside:
      return SetAsideWords(row.failed_in_row);
    case PortState::kStopped:
      break;
  }
  return "stopped";
}

std::string_view StationEventName(StationEventKind kind) {
  switch (kind) {
    case StationEventKind::kConnected:
      return "connected";
    case StationEventKind::kFinished:
      return "finished";
    case StationEventKind::kFailed:
      return "failed";
    case StationEventKind::kRemoved:
      return "removed";
    case StationEventKind::kPortLost:
      return "port-lost";
    case StationEventKind::kPortBack:
      return "port-back";
    case StationEventKind::kSetAside:
      return "set-aside";
    case StationEventKind::kResumed:
      break;
  }
  return "resumed";
}

int StationTally::NextNumber() {
  std::lock_guard lock(mutex_);
  return ++numbers_;
}

void StationTally::Record(ExitCode code) {
  std::lock_guard lock(mutex_);
  if (code != ExitCode::kFinished && !first_failure_) first_failure_ = code;
  // A pager flashed whose line could not be logged is flashed all the same.
  if (code != ExitCode::kFinished && code != ExitCode::kNotLogged) {
    ++failed_;
    return;
  }
  ++finished_;
  if (count_ > 0 && finished_ >= count_) enough_.store(true);
}

int StationTally::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

int StationTally::Failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

ExitCode StationTally::Code(bool interrupted) const {
  if (interrupted) return ExitCode::kInterrupted;
  std::lock_guard lock(mutex_);
  return first_failure_.value_or(ExitCode::kFinished);
}

std::vector<StationPortSetup> WithBenchPorts(std::vector<StationPortSetup> ports) {
  std::vector<std::string> given;
  for (const StationPortSetup& port : ports) given.push_back(port.given);
  for (StationPortSetup& port : ports) port.bench_ports = given;
  return ports;
}

StationRow RunStationPort(const StationPortSetup& setup, const StationShared& shared) {
  PortLoop loop(setup, shared);
  return loop.Run();
}

std::vector<StationRow> RunStation(const std::vector<StationPortSetup>& given,
                                   const StationShared& shared) {
  const std::vector<StationPortSetup> ports = WithBenchPorts(given);
  std::vector<StationRow> rows(ports.size());
  std::vector<std::thread> threads;
  threads.reserve(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    threads.emplace_back([&, i] { rows[i] = RunStationPort(ports[i], shared); });
  }
  for (std::thread& thread : threads) thread.join();
  return rows;
}
