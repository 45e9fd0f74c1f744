#include "station/Station.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>
#include <utility>

#include "common/EachOnAThread.h"
#include "engine/LoaderProbe.h"
#include "engine/Protocol.h"
#include "link/Dcommthread.h"
#include "station/Advice.h"
#include "station/PagerRunner.h"
#include "station/TraceLog.h"
#include "station/WallClock.h"

namespace {

// Waits are cut into steps this long, so a stop is honoured within one.
constexpr std::uint32_t kPauseStepMs = 50;

enum class Presence : std::uint8_t { kAnswered, kSilent, kCannotOpen };

// A port's log lines, appended in order on a thread of their own while the
// port's loop goes on: a log that is slow to answer never keeps the loop
// from watching its pager's removal or flashing the next one.
class LineQueue {
 public:
  LineQueue() = default;
  ~LineQueue() { Finish(); }
  LineQueue(const LineQueue&) = delete;
  LineQueue& operator=(const LineQueue&) = delete;

  void Add(std::function<void()> append);
  // Every line added has been appended or given up on.
  bool Idle();
  // Returns once the queue is idle.
  void Finish();

 private:
  void Work();
  void AppendWaiting();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> lines_;
  // Added and not yet appended or given up on.
  int pending_ = 0;
  bool finishing_ = false;
  std::thread worker_;
};

void LineQueue::Add(std::function<void()> append) {
  {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(append));
    ++pending_;
    changed_.notify_all();
  }
  if (worker_.joinable()) return;
  try {
    worker_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    // No thread to be had: appended here.
    AppendWaiting();
  }
}

// Only the worker waits for lines to come; it ends once finishing with
// none left.
void LineQueue::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !lines_.empty() || finishing_; });
    if (lines_.empty()) return;
    lock.unlock();
    AppendWaiting();
    lock.lock();
  }
}

void LineQueue::AppendWaiting() {
  for (;;) {
    std::function<void()> append;
    {
      std::lock_guard lock(mutex_);
      if (lines_.empty()) return;
      append = std::move(lines_.front());
      lines_.pop_front();
    }
    append();
    std::lock_guard lock(mutex_);
    --pending_;
  }
}

bool LineQueue::Idle() {
  std::lock_guard lock(mutex_);
  return pending_ == 0;
}

void LineQueue::Finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
    changed_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
}

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

  PortEnd Run();
  void ShowProgress(int percent) { SetState(PortState::kFlashing, percent); }

 private:
  bool Stopping() const;
  void Pause(std::uint32_t ms) { PauseFrom(clock_.TickCount(), ms); }
  void PauseFrom(std::uint32_t from, std::uint32_t ms);
  void SetName(const std::string& name);
  bool FindPort();
  Presence Told(ProbeAnswer answer);
  Presence ProbeAt(std::int32_t rate);
  Presence ListenAt(std::int32_t rate, int probes);
  bool AskInFlashMode();
  bool AwaitPager();
  bool ReservePlaces();
  void ReleasePlaces(bool finished);
  void AwaitResume();
  bool TakePager();
  PortResult Flash();
  void EndPager(const PortResult& result);
  void AppendToLog(const PortResult& result, int number);
  void AwaitRemoval();
  Presence RemovalRound();
  void AskStoppedPagerToLeave();
  void NoteTurnaround();
  void PortLost(const std::string& message);
  void PortBack();
  // What the port is about; shown unless the port is lost.
  void SetState(PortState state, int percent = 0);
  void ShowRow(PortState state, int percent);
  StationEvent Event(StationEventKind kind) const;

  const StationPortSetup& setup_;
  const StationShared& shared_;
  ITickSource& clock_;
  PortMemory memory_;
  TDComm comm_;
  LoaderProbe probe_;
  // The name opened: the port given, or the one the adapter is found under.
  std::string name_;
  StationRow row_;
  PortState activity_ = PortState::kConnect;
  bool lost_ = false;
  // A port missing from the start is lost before its loss has been told.
  bool lost_told_ = false;
  bool timer_read_ = false;
  // When the transfer rates were last asked for a pager in flash mode;
  // they are asked at the first silence of a run.
  std::optional<std::uint32_t> flash_mode_asked_;
  SetAsideRule set_aside_;
  // Its adapter turned up as a port the bench has already.
  bool refused_ = false;
  LineQueue lines_;
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
      memory_(setup.memory),
      comm_(QuietGuiServices(), shared.clock),
      probe_(comm_, shared.clock, memory_.turnaround),
      set_aside_(shared.set_aside_after, memory_.failed_in_row) {
  if (setup.job.device_factory) comm_.DeviceFactory = setup.job.device_factory;
  SetName(setup.job.port);
  row_ = FirstRow(setup);
  row_.failed_in_row = set_aside_.FailedInRow();
  activity_ = row_.state;
  // An adapter not there at the start is waited for as one that went.
  lost_ = setup.job.port.empty();
}

// The pager on the port is waited for to go before another is taken,
// whether it came in this run or in the one before.
PortEnd PortLoop::Run() {
  ShowRow(row_.state, 0);
  while (!Stopping()) {
    if (memory_.pager_on_cable) {
      AwaitRemoval();
      continue;
    }
    if (set_aside_.SetAside()) {
      AwaitResume();
      continue;
    }
    if (!FindPort()) {
      Pause(kReopenSpacingMs);
      continue;
    }
    if (!AwaitPager() || !TakePager()) continue;
    EndPager(Flash());
  }
  memory_.failed_in_row = set_aside_.FailedInRow();
  AskStoppedPagerToLeave();
  probe_.Close();
  lines_.Finish();
  lost_ = false;
  SetState(PortState::kStopped);
  return {row_, memory_};
}

bool PortLoop::Stopping() const {
  if (shared_.interrupt.load() || shared_.tally.TakingStopped()) return true;
  return std::any_of(shared_.places.begin(), shared_.places.end(),
                     [](const IPagerPlaces* places) { return places->UsedUp(); });
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
  timer_read_ = false;
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

Presence PortLoop::Told(ProbeAnswer answer) {
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
  // The adapter's timer as the system reports it with the port open (on
  // Linux the channel has asked for low latency by then).
  if (!timer_read_) {
    timer_read_ = true;
    memory_.turnaround.SetTimerMs(AdapterLatencyTimerMs(name_));
  }
  return answer == ProbeAnswer::kAnswered ? Presence::kAnswered : Presence::kSilent;
}

Presence PortLoop::ProbeAt(std::int32_t rate) { return Told(probe_.Probe(rate)); }

Presence PortLoop::ListenAt(std::int32_t rate, int probes) {
  return Told(probe_.Listen(rate, probes, [this] { return Stopping(); }));
}

// A pager left in flash mode at a transfer rate hears nothing at the start
// rate: it is told to leave at each, and is then found as a new pager.
bool PortLoop::AskInFlashMode() {
  const std::uint32_t now = clock_.TickCount();
  if (flash_mode_asked_ && ElapsedMs(*flash_mode_asked_, now) < kFlashModeProbeSpacingMs) {
    return true;
  }
  flash_mode_asked_ = now;
  for (const std::int32_t rate : kTransferRates) {
    if (Stopping() || ProbeAt(rate) == Presence::kCannotOpen) return false;
  }
  return true;
}

// Probes at the start rate until a pager answers; false when the port could
// not be opened or the bench is stopping.
bool PortLoop::AwaitPager() {
  // A pager still waiting for a place keeps saying so while it answers.
  if (activity_ != PortState::kWaitingForPlace) SetState(PortState::kConnect);
  while (!Stopping()) {
    const std::uint32_t began = clock_.TickCount();
    const Presence presence = ProbeAt(kStartBaudRate);
    if (presence == Presence::kAnswered) {
      NoteTurnaround();
      return true;
    }
    if (activity_ != PortState::kConnect) SetState(PortState::kConnect);
    if (presence == Presence::kCannotOpen || !AskInFlashMode()) {
      Pause(kReopenSpacingMs);
      return false;
    }
    PauseFrom(began, kPresenceProbeSpacingMs);
  }
  return false;
}

// A place in each of the run's places, or none at all.
bool PortLoop::ReservePlaces() {
  for (std::size_t i = 0; i < shared_.places.size(); ++i) {
    if (shared_.places[i]->Reserve()) continue;
    while (i > 0) shared_.places[--i]->Release(false);
    return false;
  }
  return true;
}

void PortLoop::ReleasePlaces(bool finished) {
  for (IPagerPlaces* places : shared_.places) places->Release(finished);
}

// A pager is taken once it has a place; while every place is held by
// pagers still in flight it waits, as one of them may fail and free its. A
// bench that stops when a line cannot be logged takes none while the last
// one's line is still on its way.
bool PortLoop::TakePager() {
  if (Stopping()) return false;
  if (shared_.stop_when_log_fails && !lines_.Idle()) {
    Pause(kPresenceProbeSpacingMs);
    return false;
  }
  if (!ReservePlaces()) {
    if (activity_ != PortState::kWaitingForPlace) SetState(PortState::kWaitingForPlace);
    Pause(kPresenceProbeSpacingMs);
    return false;
  }
  row_.number = shared_.tally.NextNumber();
  memory_.pager_on_cable = true;
  memory_.number = row_.number;
  memory_.pager_rate = kStartBaudRate;
  SetState(PortState::kFlashing);
  shared_.listener.OnEvent(Event(StationEventKind::kConnected));
  return true;
}

// The port is the update's while it runs, once every late reply to the
// probes has been dropped.
PortResult PortLoop::Flash() {
  probe_.HandOver();
  PagerJob job = setup_.job;
  job.port = name_;
  job.opens_after_close = true;
  job.quick_stop = true;
  RowProgress progress(*this);
  return RunPager(job, progress, shared_.interrupt, clock_, &memory_.turnaround);
}

void PortLoop::EndPager(const PortResult& result) {
  PagerTotals totals{row_.finished, row_.failed};
  totals.Count(result.code);
  row_.finished = totals.finished;
  row_.failed = totals.failed;
  row_.last = memory_.last = result.code;
  row_.last_time = memory_.last_time = LocalClockText();
  row_.latency_hint = result.latency_hint;
  memory_.pager_rate = result.pager_rate;
  NoteTurnaround();
  shared_.tally.Record(result.code);
  ReleasePlaces(CountsAsFinished(result.code));
  const bool finished = result.code == ExitCode::kFinished;
  StationEvent event = Event(finished ? StationEventKind::kFinished : StationEventKind::kFailed);
  event.result = result;
  shared_.listener.OnEvent(event);
  AppendToLog(result, row_.number);
  if (set_aside_.PagerEnded(result.code)) {
    row_.failed_in_row = set_aside_.FailedInRow();
    StationEvent aside = Event(StationEventKind::kSetAside);
    aside.message = SetAsideWords(row_.failed_in_row);
    shared_.listener.OnEvent(aside);
  }
}

// Appended while the loop goes on to watch the pager's removal. A line
// that cannot be written is told, and counts against the run.
void PortLoop::AppendToLog(const PortResult& result, int number) {
  if (shared_.log == nullptr) return;
  lines_.Add([this, result, number] {
    if (shared_.log->AppendStation(result, number, shared_.start_time)) return;
    shared_.tally.RecordNotLogged();
    if (shared_.stop_when_log_fails) shared_.tally.StopTaking();
    shared_.listener.OnNote(shared_.log->CannotAppendText());
  });
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
void PortLoop::AwaitRemoval() {
  SetState(PortState::kRemove);
  while (!Stopping()) {
    const Presence presence = FindPort() ? RemovalRound() : Presence::kCannotOpen;
    if (presence == Presence::kCannotOpen) {
      // Whether the pager went with the adapter is not known: start over.
      Pause(kReopenSpacingMs);
      continue;
    }
    if (presence == Presence::kSilent && !Stopping()) {
      memory_.pager_on_cable = false;
      // A swap is under way: the next pager is looked for at the start rate.
      flash_mode_asked_ = clock_.TickCount();
      shared_.listener.OnEvent(Event(StationEventKind::kRemoved));
      return;
    }
  }
}

// A pager that may still listen in flash mode is asked at its rate first; a
// loader that takes the exit command listens at the start rate again. Then
// the line is watched at the start rate: gone once it has been silent while
// kRemovalQuietProbes replies were due.
Presence PortLoop::RemovalRound() {
  const std::int32_t rate = memory_.pager_rate;
  if (rate != kStartBaudRate) {
    const Presence at_pager_rate = ProbeAt(rate);
    if (at_pager_rate == Presence::kAnswered) {
      memory_.pager_rate = RateAfterProbe(rate, probe_.Reply(), rate);
    }
    if (at_pager_rate != Presence::kSilent) return at_pager_rate;
  }
  const Presence at_start_rate = ListenAt(kStartBaudRate, kRemovalQuietProbes);
  if (at_start_rate == Presence::kAnswered) {
    memory_.pager_rate = RateAfterProbe(kStartBaudRate, probe_.Reply(), memory_.pager_rate);
  }
  return at_start_rate;
}

// Stopped while a pager that may still be in flash mode waits on the
// cable: it is asked once more to leave it, at its rate and at the start
// rate.
void PortLoop::AskStoppedPagerToLeave() {
  if (!memory_.pager_on_cable || memory_.pager_rate == kStartBaudRate || lost_) return;
  for (const std::int32_t rate : {memory_.pager_rate, kStartBaudRate}) {
    if (probe_.Probe(rate) != ProbeAnswer::kAnswered) continue;
    memory_.pager_rate = RateAfterProbe(rate, probe_.Reply(), memory_.pager_rate);
    if (memory_.pager_rate == kStartBaudRate) return;
  }
}

void PortLoop::NoteTurnaround() { row_.turnaround_ms = memory_.turnaround.TypicalMs(); }

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

}  // namespace

StationRow FirstRow(const StationPortSetup& setup) {
  StationRow row;
  row.port = setup.job.port.empty() ? setup.given : setup.job.port;
  row.adapter_serial = setup.job.adapter_serial;
  const PortMemory& memory = setup.memory;
  row.state = setup.job.port.empty()  ? PortState::kAdapterMissing
              : memory.pager_on_cable ? PortState::kRemove
                                      : PortState::kConnect;
  if (memory.pager_on_cable) row.number = memory.number;
  row.last = memory.last;
  row.last_time = memory.last_time;
  row.turnaround_ms = memory.turnaround.TypicalMs();
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
    case PortState::kWaitingForPlace:
      return "pager waits for a place";
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

void StationTally::NoteFailure(ExitCode code) {
  if (!first_failure_) first_failure_ = code;
}

void StationTally::Record(ExitCode code) {
  std::lock_guard lock(mutex_);
  totals_.Count(code);
  if (code != ExitCode::kFinished) NoteFailure(code);
}

void StationTally::RecordNotLogged() {
  std::lock_guard lock(mutex_);
  NoteFailure(ExitCode::kNotLogged);
}

int StationTally::Finished() const {
  std::lock_guard lock(mutex_);
  return totals_.finished;
}

int StationTally::Failed() const {
  std::lock_guard lock(mutex_);
  return totals_.failed;
}

ExitCode StationTally::Code(bool interrupted) const {
  if (interrupted) return ExitCode::kInterrupted;
  std::lock_guard lock(mutex_);
  return first_failure_.value_or(ExitCode::kFinished);
}

PortEnd RunStationPort(const StationPortSetup& setup, const StationShared& shared) {
  PortLoop loop(setup, shared);
  return loop.Run();
}

std::vector<StationPortSetup> WithBenchPorts(std::vector<StationPortSetup> ports) {
  std::vector<std::string> given;
  for (const StationPortSetup& port : ports) given.push_back(port.given);
  for (StationPortSetup& port : ports) port.bench_ports = given;
  return ports;
}

std::vector<PortEnd> RunStation(const std::vector<StationPortSetup>& given,
                                const StationShared& shared) {
  const std::vector<StationPortSetup> ports = WithBenchPorts(given);
  std::vector<PortEnd> ends(ports.size());
  EachOnAThread(ports.size(), [&](std::size_t i) { ends[i] = RunStationPort(ports[i], shared); });
  return ends;
}
