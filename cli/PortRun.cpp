#include "cli/PortRun.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/Platform.h"
#include "cli/ReplyLatency.h"
#include "cli/TraceLog.h"
#include "engine/UpdateSession.h"
#include "link/PortList.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr char kInterruptedText[] = "Interrupted.";

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// One update as the console shows it: its stage and progress, the bytes it
// put on the line, the records it sent, and the message that ended it.
class PortReporter final : public IUpdateObserver {
 public:
  PortReporter(const PortJob& job, Console& console)
      : job_(job), console_(console), start_(SteadyClock::now()) {
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
    Tick();
  }

  void OnCommand(std::string_view bytes, std::int32_t) override {
    line_bytes_ += bytes.size();
    Tick();
  }

  void OnReply(const CommandReply& reply) override {
    if (reply.Reply != rpNone && !reply.Command.empty()) {
      latency_.Add(reply.Command.size(), reply.Rate, reply.ElapsedMs);
    }
  }

  // Records count once each: a resend is the same record again, and the
  // erase of a rewind starts the count over.
  void OnRecord(int ordinal, bool resend, int percent) override {
    if (ordinal == 1 && !resend) transfer_start_ = SteadyClock::now();
    records_ = ordinal;
    progress_.percent = percent;
    Tick();
  }

  // Nothing waits for a click: the message is a line at once.
  void OnMessage(const UpdateMessage& message) override {
    std::string shown = message.Text;
    if (message.Outcome == UpdateOutcome::kCannotOpenPort) {
      const std::string hint = OpenFailureHint(message.Device, message.SystemError);
      if (!hint.empty()) shown += "\n" + hint;
    }
    console_.Message(job_.index, shown, message.Outcome);
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
    result.message = outcome_ == UpdateOutcome::kInterrupted ? kInterruptedText : final_message_;
    if (latency_.Replies() > 0) {
      result.reply_ms = std::max(0.0, latency_.TypicalLateMs());
      result.line_efficiency = latency_.LineEfficiency();
      result.latency_hint = LatencyHint(job_.port, latency_, latency_timer_ms_);
    }
    return result;
  }

 private:
  void Tick() {
    progress_.records = records_;
    progress_.line_bytes = line_bytes_;
    progress_.seconds = SecondsSince(start_);
    progress_.transfer_seconds = records_ > 0 ? SecondsSince(transfer_start_) : 0.0;
    console_.Progress(job_.index, progress_);
  }

  const PortJob& job_;
  Console& console_;
  const SteadyClock::time_point start_;
  SteadyClock::time_point transfer_start_{};
  PortProgress progress_;
  std::string final_message_;
  std::uint64_t line_bytes_ = 0;
  int records_ = 0;
  UpdateOutcome outcome_ = UpdateOutcome::kNone;
  ReplyLatency latency_;
  bool timer_read_ = false;
  int latency_timer_ms_ = -1;
};

}  // namespace

PortResult RunPort(const PortJob& job, Console& console, const std::atomic<bool>& interrupt) {
  PortReporter reporter(job, console);
  console.Start(job.index, job.file_name, job.baud, job.resend);
  UpdateSession session(job.port, job.baud, job.resend);
  session.Run(job.firmware, job.file_name, reporter, &interrupt);
  PortResult result = reporter.Result();
  console.End(job.index, result);
  return result;
}

std::vector<PortResult> RunGang(const std::vector<PortJob>& jobs, Console& console,
                                const std::atomic<bool>& interrupt, TraceLog* log) {
  std::vector<PortResult> results(jobs.size());
  std::vector<std::thread> threads;
  threads.reserve(jobs.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    threads.emplace_back([&, i] {
      results[i] = RunPort(jobs[i], console, interrupt);
      if (log != nullptr && !log->Append(results[i])) {
        results[i].logged = false;
        console.Note("tarvex-flash: cannot append to the log " + log->Path() + ".");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return results;
}
