#include "cli/PortRun.h"

#include <chrono>
#include <memory>
#include <thread>

#include "cli/Platform.h"
#include "cli/TraceLog.h"
#include "common/Clock.h"
#include "common/Globals.h"
#include "common/GuiServices.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::string_view kCannotOpenPrefix = "Can NOT Open ";

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// The state of one update as its thread sees it: what went on the line, the
// message that ended it, and whether Ctrl+C stopped it.
class PortWatch final : public IGuiServices {
 public:
  PortWatch(const PortJob& job, Console& console, const std::atomic<bool>& interrupt)
      : job_(job), console_(console), interrupt_(interrupt), start_(SteadyClock::now()) {
    progress_.port = job.port;
    progress_.records_total = job.records_total;
    progress_.stage = StageName(stOpenFile);
  }

  // Nothing waits for a click: the message is a line at once, and the
  // engine goes on as after a dismissed box.
  void MessageBox(const std::string& text, const std::string&, std::uint32_t style) override {
    if (stopped_) return;  // the consequences of the stop are not news
    std::string shown = text;
    if (text.starts_with(kCannotOpenPrefix) && Comm != nullptr) {
      const std::string hint = OpenFailureHint(Comm->DeviceName(), Comm->LastOpenError);
      if (!hint.empty()) shown += "\n" + hint;
    }
    console_.Message(job_.index, shown, style);
    if (final_message_.empty() && !IsPassingMessage(text)) final_message_ = shown;
  }

  void ProcessMessages() override {
    // An update already leaving flash mode is let finish: its "q" is on the
    // way, and its outcome stands.
    const bool leaving = Flow != nullptr && Flow->State >= stExitFlash;
    if (interrupt_.load() && !stopped_ && !leaving) StopForInterrupt();
    Tick();
  }

  // Every write to the line, from the device below the channel.
  // Records count once each: a resend is the same record again, and the
  // erase of a rewind starts the count over.
  void OnWrite(const std::uint8_t* data, std::uint32_t count) {
    line_bytes_ += count;
    if (Flow != nullptr && Flow->State == stErase) records_ = 0;
    if (Flow != nullptr && Flow->State == stSendPackage && count == 1 && data[0] == kCmdSend &&
        Flow->ResendCount == 0) {
      ++records_;
      if (records_ == 1) transfer_start_ = SteadyClock::now();
    }
    Tick();
  }

  PortResult Result() const {
    PortResult result;
    result.port = job_.port;
    result.adapter_serial = job_.adapter_serial;
    result.seconds = SecondsSince(start_);
    result.line_bytes = line_bytes_;
    result.records = records_;
    result.message = stopped_ ? "Interrupted." : final_message_;
    result.code = stopped_ ? ExitCode::kInterrupted : ExitCodeOfMessage(final_message_);
    return result;
  }

  void MarkStopped() { stopped_ = true; }

 private:
  void Tick() {
    if (Flow == nullptr) return;
    progress_.stage = StageName(Flow->State);
    progress_.percent = Flow->GetProgress();
    progress_.records = records_;
    progress_.line_bytes = line_bytes_;
    progress_.seconds = SecondsSince(start_);
    progress_.transfer_seconds =
        records_ > 0 ? std::chrono::duration<double>(SteadyClock::now() - transfer_start_).count()
                     : 0.0;
    console_.Progress(job_.index, progress_);
  }

  // A pager past "f" is taken out of flash mode as the engine itself does
  // (the pause, then "q"); then the port closes, and the engine ends as for
  // a pager that went silent.
  void StopForInterrupt() {
    stopped_ = true;
    if (Comm == nullptr || !Comm->IsOpened()) return;
    const bool in_flash_mode =
        Flow != nullptr && Flow->State >= stChangeBaud && Flow->State <= stProgram;
    if (in_flash_mode) {
      SleepMs(kExitPauseMs);
      Comm->WriteByte(&kCmdExitFlash);
      std::uint8_t reply = 0;
      // The reply, so the "q" has surely left before the port closes.
      (void)Comm->ReadByte(&reply);
    }
    Comm->ClosePort();
  }

  const PortJob& job_;
  Console& console_;
  const std::atomic<bool>& interrupt_;
  const SteadyClock::time_point start_;
  SteadyClock::time_point transfer_start_{};
  PortProgress progress_;
  std::string final_message_;
  std::uint64_t line_bytes_ = 0;
  int records_ = 0;
  bool stopped_ = false;
};

// The system's serial device with every write told to the watch.
class WatchedDevice final : public ISerialDevice {
 public:
  WatchedDevice(std::unique_ptr<ISerialDevice> inner, PortWatch& watch)
      : inner_(std::move(inner)), watch_(watch) {}

  bool Open(const std::string& name) override { return inner_->Open(name); }
  bool GetState(TDcb& dcb) override { return inner_->GetState(dcb); }
  bool SetState(const TDcb& dcb) override { return inner_->SetState(dcb); }
  bool SetQueues(std::uint32_t in_queue, std::uint32_t out_queue) override {
    return inner_->SetQueues(in_queue, out_queue);
  }
  bool SetTimeouts(const TCommTimeouts& timeouts) override { return inner_->SetTimeouts(timeouts); }
  bool Purge(std::uint32_t flags) override { return inner_->Purge(flags); }
  bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    return inner_->Read(data, count, done);
  }
  bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    const bool ok = inner_->Write(data, count, done);
    watch_.OnWrite(data, done);
    return ok;
  }
  void Close() override { inner_->Close(); }
  int LastError() const override { return inner_->LastError(); }

 private:
  std::unique_ptr<ISerialDevice> inner_;
  PortWatch& watch_;
};

// Sets this thread's engine globals for one update and puts them back.
class ThreadEngine {
 public:
  ThreadEngine(const PortJob& job, PortWatch& watch) {
    FlashBaudRate = job.baud;
    ResendTimes = job.resend;
    comm_.DevicePath = job.port;
    comm_.DeviceFactory = [&watch]() -> std::unique_ptr<ISerialDevice> {
      return std::make_unique<WatchedDevice>(CreateSystemSerialDevice(), watch);
    };
    Comm = &comm_;
    Flow = &flow_;
    previous_gui_ = SetGuiServices(&watch);
  }
  ~ThreadEngine() {
    SetGuiServices(previous_gui_);
    Flow = nullptr;
    Comm = nullptr;
  }
  ThreadEngine(const ThreadEngine&) = delete;
  ThreadEngine& operator=(const ThreadEngine&) = delete;

  void Run(const std::string& hex_file) { flow_.Run(hex_file); }

 private:
  TDComm comm_;
  UpdateFlow flow_;
  IGuiServices* previous_gui_ = nullptr;
};

}  // namespace

PortResult RunPort(const PortJob& job, Console& console, const std::atomic<bool>& interrupt) {
  PortWatch watch(job, console, interrupt);
  console.Start(job.index, job.file_name, job.baud, job.resend);
  if (interrupt.load()) {
    watch.MarkStopped();
  } else {
    ThreadEngine engine(job, watch);
    engine.Run(job.hex_file);
  }
  PortResult result = watch.Result();
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
        console.Note("tarvex-flash: cannot append to the log " + log->Path() + ".");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return results;
}
