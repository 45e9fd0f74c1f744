#include "cli/Station.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "cli/TraceLog.h"
#include "common/Clock.h"
#include "common/GuiServices.h"
#include "engine/UpdateSession.h"

namespace {

// Waits are cut into steps this long, so a stop is honoured within one.
constexpr std::uint32_t kPauseStepMs = 100;
constexpr char kInterruptedText[] = "Interrupted.";

std::string LocalClockText() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  return fmt::format("{:%H:%M:%S}", fmt::localtime(now));
}

// "Can NOT Open ..." with the hint for a port the user may not open.
std::string OpenFailureWithHint(const std::string& text, const std::string& device, int error) {
  const std::string hint = OpenFailureHint(device, error);
  return hint.empty() ? text : text + "\n" + hint;
}

// Between updates no window shows the channel's boxes either: what they say
// is told through the station's own events.
class QuietGuiScope {
 public:
  QuietGuiScope() : previous_(SetGuiServices(&gui_)) {}
  ~QuietGuiScope() { SetGuiServices(previous_); }
  QuietGuiScope(const QuietGuiScope&) = delete;
  QuietGuiScope& operator=(const QuietGuiScope&) = delete;

 private:
  class QuietGui final : public IGuiServices {
   public:
    void ProcessMessages() override {}
    void MessageBox(const std::string&, const std::string&, std::uint32_t) override {}
  };
  QuietGui gui_;
  IGuiServices* previous_;
};

// Any byte within `limit_ms`. A read waits up to the channel's own limit;
// one that fails at once (a line gone) is followed by the engine's poll
// spacing, so a dead line does not keep a core busy.
bool AwaitAnyByte(TDComm& comm, std::uint32_t limit_ms) {
  const std::uint32_t start = TickCount();
  std::uint8_t byte = 0;
  while (ElapsedMs(start, TickCount()) < limit_ms) {
    const std::uint32_t read_start = TickCount();
    if (comm.ReadByte(&byte)) return true;
    while (ElapsedMs(read_start, TickCount()) < kPollSpacingMs) SleepMs(kPollSleepStepMs);
  }
  return false;
}

enum class TryKind : std::uint8_t {
  kNoPager,
  kPager,
  kCannotOpen,
  // A pager answered once the station wanted no more: it was sent "q".
  kTurnedAway,
};

struct TryResult {
  TryKind kind = TryKind::kNoPager;
  PortResult result;    // for kPager
  std::string message;  // for kCannotOpen
};

class PortLoop;

// One update as a station sees it. Until "f" is answered nothing is told:
// silence is no pager yet. From then on it is a pager's update, with its
// progress and its end.
class PagerWatch final : public IUpdateObserver {
 public:
  PagerWatch(PortLoop& loop, UpdateSession& session)
      : loop_(loop), session_(session), start_(TickCount()) {}

  void OnState(std::int32_t state, UpdateStage, int percent) override;
  void OnCommand(std::string_view bytes, std::int32_t) override { line_bytes_ += bytes.size(); }
  void OnReply(const CommandReply& reply) override;
  void OnRecord(int ordinal, bool, int percent) override;
  void OnMessage(const UpdateMessage& message) override;
  void OnEnd(UpdateOutcome outcome) override { outcome_ = outcome; }

  TryResult Result(const std::string& port, const std::string& adapter_serial) const;

 private:
  void Progress(int percent);

  PortLoop& loop_;
  UpdateSession& session_;
  const std::uint32_t start_;
  bool answered_ = false;
  bool taken_ = false;
  int percent_ = -1;
  int records_ = 0;
  std::uint64_t line_bytes_ = 0;
  std::string final_message_;
  UpdateOutcome outcome_ = UpdateOutcome::kNone;
};

class PortLoop {
 public:
  PortLoop(const StationPortSetup& setup, const StationShared& shared)
      : setup_(setup), shared_(shared), name_(setup.port) {
    row_.port = setup.port;
    row_.adapter_serial = setup.adapter_serial;
  }

  StationRow Run();

  // The port opened: when it had been lost, it is back, in `state`.
  void PortOpened(PortState state);
  // A pager answered "f": true when the station takes it on. Asked by
  // PagerWatch, as are the others, on this loop's thread.
  bool TakePager();
  void ShowProgress(int percent) { SetState(PortState::kFlashing, percent); }

 private:
  enum class Presence : std::uint8_t { kAnswered, kSilent, kCannotOpen };

  bool Stopping() const { return shared_.interrupt.load() || shared_.tally.Enough(); }
  void Pause(std::uint32_t ms) { PauseFrom(TickCount(), ms); }
  void PauseFrom(std::uint32_t from, std::uint32_t ms);
  bool FindPort();
  TryResult TryUpdate();
  void EndPager(const PortResult& result);
  void AwaitRemoval();
  Presence ProbeWithQuit();
  void PortLost(const std::string& message);
  void SetState(PortState state, int percent = 0);
  StationEvent Event(StationEventKind kind) const;
  bool AppendToLog(const PortResult& result);

  const StationPortSetup& setup_;
  const StationShared& shared_;
  // The name opened: the port given, or the one the adapter is found under.
  std::string name_;
  StationRow row_;
  bool lost_ = false;
  // The running number of the pager on the port, or of the last one.
  int number_ = 0;
};

void PagerWatch::OnState(std::int32_t state, UpdateStage, int percent) {
  // The first state runs once the port is open.
  if (state == stOpenFile) loop_.PortOpened(PortState::kWaiting);
  Progress(percent);
}

void PagerWatch::OnReply(const CommandReply& reply) {
  if (answered_ || reply.Command != "f" || reply.Reply == rpNone) return;
  answered_ = true;
  taken_ = loop_.TakePager();
  // Turned away: the update stops at its next step, the pager told to leave
  // flash mode.
  if (!taken_) session_.RequestStop();
}

void PagerWatch::OnRecord(int ordinal, bool, int percent) {
  records_ = ordinal;
  Progress(percent);
}

void PagerWatch::OnMessage(const UpdateMessage& message) {
  if (message.Outcome == UpdateOutcome::kNone || !final_message_.empty()) return;
  final_message_ = message.Outcome == UpdateOutcome::kCannotOpenPort
                       ? OpenFailureWithHint(message.Text, message.Device, message.SystemError)
                       : message.Text;
}

void PagerWatch::Progress(int percent) {
  if (!taken_ || percent == percent_) return;
  percent_ = percent;
  loop_.ShowProgress(percent);
}

TryResult PagerWatch::Result(const std::string& port, const std::string& adapter_serial) const {
  TryResult attempt;
  if (answered_ && !taken_) {
    attempt.kind = TryKind::kTurnedAway;
  } else if (answered_) {
    attempt.kind = TryKind::kPager;
    PortResult& result = attempt.result;
    result.port = port;
    result.adapter_serial = adapter_serial;
    result.code = ExitCodeOf(outcome_);
    result.message = outcome_ == UpdateOutcome::kInterrupted ? kInterruptedText : final_message_;
    result.seconds = ElapsedMs(start_, TickCount()) / 1000.0;
    result.line_bytes = line_bytes_;
    result.records = records_;
  } else if (outcome_ == UpdateOutcome::kCannotOpenPort) {
    attempt.kind = TryKind::kCannotOpen;
    attempt.message = final_message_;
  }
  return attempt;
}

StationRow PortLoop::Run() {
  const QuietGuiScope quiet;
  SetState(PortState::kWaiting);
  while (!Stopping()) {
    if (!FindPort()) {
      Pause(kReopenSpacingMs);
      continue;
    }
    const TryResult attempt = TryUpdate();
    switch (attempt.kind) {
      case TryKind::kNoPager:
        Pause(kStationProbeSpacingMs);
        break;
      case TryKind::kCannotOpen:
        PortLost(attempt.message);
        Pause(kReopenSpacingMs);
        break;
      case TryKind::kPager:
        EndPager(attempt.result);
        AwaitRemoval();
        break;
      case TryKind::kTurnedAway:
        break;
    }
  }
  SetState(PortState::kStopped);
  return row_;
}

void PortLoop::PauseFrom(std::uint32_t from, std::uint32_t ms) {
  for (std::uint32_t waited = ElapsedMs(from, TickCount()); waited < ms && !Stopping();
       waited = ElapsedMs(from, TickCount())) {
    SleepMs(std::min(kPauseStepMs, ms - waited));
  }
}

// A port named by its adapter's serial number is looked up again once it
// could not be opened: the adapter may be back under another name.
bool PortLoop::FindPort() {
  if (!lost_ || !NamesAdapterSerial(setup_.given) || !setup_.list_ports) return true;
  const PortMatch match = ResolvePort(setup_.given, setup_.list_ports());
  if (match.name.empty()) {
    PortLost(match.error);
    return false;
  }
  name_ = match.name;
  row_.port = match.name;
  return true;
}

TryResult PortLoop::TryUpdate() {
  UpdateSession session(name_, setup_.baud, setup_.resend);
  if (setup_.device_factory) session.SetDeviceFactory(setup_.device_factory);
  PagerWatch watch(*this, session);
  session.Run(setup_.firmware, setup_.file_name, watch, &shared_.interrupt);
  return watch.Result(name_, row_.adapter_serial);
}

void PortLoop::PortOpened(PortState state) {
  if (!lost_) return;
  lost_ = false;
  shared_.listener.OnEvent(Event(StationEventKind::kPortBack));
  SetState(state);
}

bool PortLoop::TakePager() {
  if (Stopping()) return false;
  number_ = shared_.tally.NextNumber();
  SetState(PortState::kFlashing);
  shared_.listener.OnEvent(Event(StationEventKind::kConnected));
  return true;
}

void PortLoop::EndPager(const PortResult& result) {
  const bool finished = result.code == ExitCode::kFinished;
  ++(finished ? row_.finished : row_.failed);
  row_.last = result.code;
  row_.last_time = LocalClockText();
  shared_.tally.Record(PagerExitCode(result.code, AppendToLog(result)));
  StationEvent event = Event(finished ? StationEventKind::kFinished : StationEventKind::kFailed);
  event.result = result;
  shared_.listener.OnEvent(event);
}

// The pager stays on the cable after its update, whatever the outcome, and
// must not be flashed again: wait until it has gone.
void PortLoop::AwaitRemoval() {
  SetState(PortState::kRemove);
  int silent = 0;
  while (!Stopping()) {
    const std::uint32_t began = TickCount();
    const Presence presence = FindPort() ? ProbeWithQuit() : Presence::kCannotOpen;
    if (presence == Presence::kCannotOpen) {
      // Whether the pager went with the adapter is not known: start over.
      silent = 0;
      Pause(kReopenSpacingMs);
      continue;
    }
    silent = presence == Presence::kSilent ? silent + 1 : 0;
    if (silent >= kSilentProbesForRemoval) {
      shared_.listener.OnEvent(Event(StationEventKind::kRemoved));
      SetState(PortState::kWaiting);
      return;
    }
    PauseFrom(began, kRemovalProbeSpacingMs);
  }
}

// "q" at the start rate: a loader in flash mode leaves it, one in idle
// refuses it; either way any reply is a pager still there.
PortLoop::Presence PortLoop::ProbeWithQuit() {
  TDComm comm;
  comm.DevicePath = name_;
  if (setup_.device_factory) comm.DeviceFactory = setup_.device_factory;
  comm.BaudRate = kStartBaudRate;
  if (!comm.OpenPort()) {
    PortLost(OpenFailureWithHint(comm.OpenFailureText(), comm.DeviceName(), comm.LastOpenError));
    return Presence::kCannotOpen;
  }
  PortOpened(PortState::kRemove);
  comm.Purge();
  comm.WriteByte(&kCmdExitFlash);
  const bool answered = AwaitAnyByte(comm, kReplyLimitMs);
  comm.ClosePort();
  return answered ? Presence::kAnswered : Presence::kSilent;
}

// Told once when the port goes; it is tried again until it comes back.
void PortLoop::PortLost(const std::string& message) {
  if (lost_) return;
  lost_ = true;
  SetState(PortState::kCannotOpen);
  StationEvent event = Event(StationEventKind::kPortLost);
  event.message = message;
  shared_.listener.OnEvent(event);
}

void PortLoop::SetState(PortState state, int percent) {
  row_.state = state;
  row_.percent = percent;
  shared_.listener.OnRow(setup_.index, row_);
}

StationEvent PortLoop::Event(StationEventKind kind) const {
  StationEvent event;
  event.kind = kind;
  event.index = setup_.index;
  event.port = name_;
  const bool of_port = kind == StationEventKind::kPortLost || kind == StationEventKind::kPortBack;
  event.number = of_port ? 0 : number_;
  event.local_time = LocalClockText();
  event.utc_time = UtcNow();
  return event;
}

bool PortLoop::AppendToLog(const PortResult& result) {
  if (shared_.log == nullptr || shared_.log->AppendStation(result, number_, shared_.start_time)) {
    return true;
  }
  shared_.listener.OnNote("tarvex-flash: cannot append to the log " + shared_.log->Path() + ".");
  return false;
}

}  // namespace

int StationTally::NextNumber() {
  std::lock_guard lock(mutex_);
  return ++numbers_;
}

void StationTally::Record(ExitCode code) {
  std::lock_guard lock(mutex_);
  if (code != ExitCode::kFinished && !first_failure_) first_failure_ = code;
  // A pager flashed whose line could not be logged is flashed all the same.
  if (code != ExitCode::kFinished && code != ExitCode::kNotLogged) return;
  ++finished_;
  if (count_ > 0 && finished_ >= count_) enough_.store(true);
}

ExitCode StationTally::Code(bool interrupted) const {
  if (interrupted) return ExitCode::kInterrupted;
  std::lock_guard lock(mutex_);
  return first_failure_.value_or(ExitCode::kFinished);
}

StationRow RunStationPort(const StationPortSetup& setup, const StationShared& shared) {
  PortLoop loop(setup, shared);
  return loop.Run();
}

std::vector<StationRow> RunStation(const std::vector<StationPortSetup>& ports,
                                   const StationShared& shared) {
  std::vector<StationRow> rows(ports.size());
  std::vector<std::thread> threads;
  threads.reserve(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    threads.emplace_back([&, i] { rows[i] = RunStationPort(ports[i], shared); });
  }
  for (std::thread& thread : threads) thread.join();
  return rows;
}
