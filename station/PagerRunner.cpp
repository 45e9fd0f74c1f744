#include "station/PagerRunner.h"

#include <algorithm>

#include "common/EachOnAThread.h"
#include "engine/Hexproc.h"
#include "engine/LoaderProbe.h"
#include "engine/Protocol.h"
#include "engine/UpdateSession.h"
#include "link/PortError.h"
#include "link/PortList.h"
#include "station/Advice.h"
#include "station/ReplyLatency.h"
#include "station/TraceLog.h"

namespace {

// A pager stopped during its update holds its old firmware until the erase;
// from then on it holds no whole firmware and must be flashed again.
constexpr char kInterruptedText[] = "Interrupted. The pager's firmware was not touched.";
constexpr char kInterruptedErasedText[] =
    "Interrupted. The pager's flash was erased: flash it again.";
constexpr double kMsPerSecond = 1000.0;

// One update as the faces see it: its stage and progress, the bytes it put
// on the line, the records it sent, how late its replies came, and the
// message that ended it.
class PagerObserver final : public IUpdateObserver {
 public:
  PagerObserver(const PagerJob& job, IPagerListener& listener, ITickSource& clock,
                const PortTurnaround& turnaround)
      : job_(job),
        listener_(listener),
        clock_(clock),
        turnaround_(turnaround),
        start_(clock.TickCount()) {
    progress_.port = job.port;
    progress_.records_total = job.firmware->Records();
    progress_.stage = StageName(UpdateStage::kOpen);
  }

  void OnState(std::int32_t, UpdateStage stage, int percent) override {
    // The end is told by the end event, with its outcome.
    if (stage == UpdateStage::kFinish) return;
    // The adapter's timer as it stands with the port open at the chosen
    // rate (on Linux the channel has asked for low latency by then).
    if (stage == UpdateStage::kErase && !timer_read_) {
      timer_read_ = true;
      latency_timer_ms_ = AdapterLatencyTimerMs(job_.port);
    }
    progress_.stage = StageName(stage);
    progress_.percent = percent;
    Tell();
  }

  void OnCommand(std::string_view bytes, std::int32_t) override {
    line_bytes_ += bytes.size();
    Tell();
  }

  void OnReply(const CommandReply& reply) override {
    if (reply.Reply == rpNone || reply.Command.empty()) return;
    latency_.Add(reply.Command.size(), reply.Rate, reply.ElapsedMs);
    pager_rate_ = RateAfterReply(reply, pager_rate_);
    if (ErasedBy(reply)) erased_ = true;
    NoteFlashMode(reply);
  }

  // Records count once each: a resend is the same record again, and the
  // erase of a rewind starts the count over.
  void OnRecord(int ordinal, bool resend, int percent) override {
    if (ordinal == 1 && !resend) transfer_start_ = clock_.TickCount();
    records_ = ordinal;
    progress_.percent = percent;
    Tell();
  }

  void OnMessage(const UpdateMessage& message) override {
    std::string shown = message.Text;
    if (message.Outcome == UpdateOutcome::kCannotOpenPort) {
      const std::string hint = OpenFailureHint(message.Device, message.SystemError);
      if (!hint.empty()) shown += "\n" + hint;
    }
    listener_.OnMessage(job_.index, shown, message.Outcome);
    if (final_message_.empty() && message.Outcome != UpdateOutcome::kNone) final_message_ = shown;
  }

  void OnEnd(UpdateOutcome outcome) override { outcome_ = outcome; }

  PortResult Result() const {
    PortResult result;
    result.port = job_.port;
    result.adapter_serial = job_.adapter_serial;
    result.seconds = SecondsSince(start_);
    result.line_bytes = line_bytes_;
    result.records = records_;
    result.code = ExitCodeOf(outcome_);
    if (outcome_ == UpdateOutcome::kInterrupted) {
      result.message = erased_ ? kInterruptedErasedText : kInterruptedText;
    } else {
      result.message = final_message_;
    }
    result.pager_rate = pager_rate_;
    result.may_be_in_loader = in_flash_mode_;
    result.turnaround_ms = turnaround_.TypicalMs();
    if (latency_.Replies() > 0) {
      result.reply_ms = std::max(0.0, latency_.TypicalLateMs());
      result.line_efficiency = latency_.LineEfficiency();
      result.latency_hint =
          LatencyHint(job_.port, result.turnaround_ms, latency_, latency_timer_ms_);
    }
    return result;
  }

 private:
  double SecondsSince(std::uint32_t from) const {
    return ElapsedMs(from, clock_.TickCount()) / kMsPerSecond;
  }

  // In flash mode from the ACK of "f" until the ACK of "q".
  void NoteFlashMode(const CommandReply& reply) {
    if (reply.Reply != rpAck || reply.Command.size() != 1) return;
    const auto command = static_cast<std::uint8_t>(reply.Command[0]);
    if (command == kCmdEnterFlash) in_flash_mode_ = true;
    if (command == kCmdExitFlash) in_flash_mode_ = false;
  }

  void Tell() {
    progress_.records = records_;
    progress_.line_bytes = line_bytes_;
    progress_.seconds = SecondsSince(start_);
    progress_.transfer_seconds = records_ > 0 ? SecondsSince(transfer_start_) : 0.0;
    listener_.OnProgress(job_.index, progress_);
  }

  const PagerJob& job_;
  IPagerListener& listener_;
  ITickSource& clock_;
  const PortTurnaround& turnaround_;
  const std::uint32_t start_;
  std::uint32_t transfer_start_ = 0;
  PortProgress progress_;
  std::string final_message_;
  std::uint64_t line_bytes_ = 0;
  int records_ = 0;
  UpdateOutcome outcome_ = UpdateOutcome::kNone;
  ReplyLatency latency_;
  bool timer_read_ = false;
  int latency_timer_ms_ = -1;
  std::int32_t pager_rate_ = kStartBaudRate;
  bool erased_ = false;
  bool in_flash_mode_ = false;
};

constexpr char kMayBeInLoaderText[] =
    "The pager did not confirm leaving its loader and may still be in flash mode: switch it off "
    "and on before use, or flash it again.";

}  // namespace

std::string StageName(UpdateStage stage) {
  switch (stage) {
    case UpdateStage::kOpen:
      return "open";
    case UpdateStage::kEnterFlash:
      return "enter-flash";
    case UpdateStage::kChangeBaud:
      return "change-baud";
    case UpdateStage::kErase:
      return "erase";
    case UpdateStage::kTransfer:
      return "transfer";
    case UpdateStage::kExitFlash:
      return "exit-flash";
    case UpdateStage::kFinish:
      break;
  }
  return "finish";
}

double BytesPerSecond(std::uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
}

namespace {

// Asked again at the rate it was last told and at the start rate, as a
// bench asks a pager on its cable; an ACK is a loader that has left.
void AskToLeaveFlashMode(const PagerJob& job, PortResult& result, PortTurnaround& turnaround,
                         ITickSource& clock) {
  TDComm comm(QuietGuiServices(), clock);
  comm.DevicePath = job.port;
  if (job.device_factory) comm.DeviceFactory = job.device_factory;
  LoaderProbe probe(comm, clock, turnaround);
  // The update has just closed the port.
  probe.OpensAfterClose();
  for (const std::int32_t rate : {result.pager_rate, kStartBaudRate}) {
    if (probe.Probe(rate) == ProbeAnswer::kAnswered && probe.Reply() == kAck) {
      result.may_be_in_loader = false;
      result.pager_rate = kStartBaudRate;
      return;
    }
    if (rate == kStartBaudRate) break;
  }
  result.message += std::string(result.message.empty() ? "" : "\n") + kMayBeInLoaderText;
}

}  // namespace

PortResult RunPager(const PagerJob& job, IPagerListener& listener, const std::atomic<bool>& stop,
                    ITickSource& clock, PortTurnaround* turnaround) {
  PortTurnaround own_turnaround;
  PortTurnaround& port_turnaround = turnaround != nullptr ? *turnaround : own_turnaround;
  PagerObserver observer(job, listener, clock, port_turnaround);
  listener.OnStart(job);
  UpdateSession session(job.port, job.baud, job.resend, clock);
  if (job.device_factory) session.SetDeviceFactory(job.device_factory);
  session.SetTurnaround(&port_turnaround);
  session.SetOpenFollowsClose(job.opens_after_close);
  session.SetQuickStop(job.quick_stop);
  session.Run(job.firmware, job.file_name, observer, &stop);
  PortResult result = observer.Result();
  if (job.asks_again_to_leave && result.may_be_in_loader) {
    AskToLeaveFlashMode(job, result, port_turnaround, clock);
  }
  listener.OnEnd(job.index, result);
  return result;
}

std::vector<PortResult> RunGang(const std::vector<PagerJob>& jobs, IPagerListener& listener,
                                const std::atomic<bool>& stop, TraceLog* log) {
  std::vector<PortResult> results(jobs.size());
  EachOnAThread(jobs.size(), [&](std::size_t i) {
    PagerJob job = jobs[i];
    job.asks_again_to_leave = true;
    results[i] = RunPager(job, listener, stop);
    if (log != nullptr && !log->Append(results[i])) {
      results[i].logged = false;
      listener.OnNote(log->CannotAppendText());
    }
  });
  return results;
}
