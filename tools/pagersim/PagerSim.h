// Emulated pager loader serving the protocol on a pseudo-terminal (or a serial device, a
// COM port on Windows; see PagerLine.h) from a background thread. Snapshots of its log, image and
// rate may be taken from any thread while it runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CommandFramer.h"
#include "FlashImage.h"
#include "LinePacer.h"
#include "LoaderCore.h"
#include "PagerLine.h"
#include "PagerLog.h"
#include "PagerOptions.h"
#include "SessionSchedule.h"

namespace pagersim {

// Unread replies are given this long to reach the host before the line is closed.
inline constexpr int kReplyDrainTimeoutMs = 1000;

class PagerSim {
 public:
  explicit PagerSim(PagerOptions options);
  ~PagerSim();  // stops the serving thread
  PagerSim(const PagerSim&) = delete;
  PagerSim& operator=(const PagerSim&) = delete;

  // Receives every event as it is logged, on the logging thread, with the emulator's lock
  // held (so it must not call back into the emulator). Set before Start().
  void SetEventObserver(std::function<void(const LogEvent&)> observer);

  // Opens a pty (or options.device_path) and starts serving. The line starts raw at
  // 1200 bit/s. False with a message in *err if the line cannot be opened.
  bool Start(std::string* err);
  // Stops serving and closes the line. Safe to call more than once.
  void Stop();

  // Path the host opens: the pty slave, or the device given in the options.
  std::string SlavePath() const;
  std::vector<LogEvent> Log() const;
  // The image of the pager on the line, or of the last one there.
  FlashImage image() const;
  // The pager on the line (1-based), or 0 while the line is empty.
  int AttachedPager() const;
  int CurrentRate() const;  // bit rate the loader listens at
  int CommandCount() const;
  // True once serving ended on its own: after --exit-after-q or --hangup-after, or
  // once the last pager of a bench has left and the host has let go of the line.
  bool Finished() const { return finished_.load(); }

  // Writes the files named in the options (image-bin, image-hex, log). The base address
  // and size of the binary image are recorded as an INFO event before the log is written.
  bool WriteOutputs(std::string* err);

 private:
  using Clock = std::chrono::steady_clock;
  // An image file to write: its path and what goes in it.
  using ImageFile = std::pair<std::string, FlashImage>;

  LoaderCore NewCore();
  // Connects and removes pagers as the schedule says, up to now.
  void FollowSchedule();
  void AttachPager(int pager);
  void RemovePager(int pager);
  std::vector<ImageFile> ImageFiles(const std::string& pattern) const;

  void ServeLoop();
  int PollTimeoutMs() const;
  void ReadAvailable();
  void HandleByte(uint8_t byte);
  void ExpireFramer();
  void Dispatch(const FramerEvent& event);
  void SendReply(const CommandOutcome& outcome);
  void WriteReplyCopies(uint8_t reply, int copies, int rate_bps, bool line_was_idle);
  void WriteBytes(const uint8_t* bytes, size_t count);
  // When a byte that has crossed the line at `ready` reaches the host: at once, or with
  // --latency-ms at the next tick of the adapter's timer.
  Clock::time_point DeliveredAt(Clock::time_point ready) const;
  void SendNulAfterRate();
  void SendUnprompted();
  // Milliseconds since the start at which the next unprompted byte is due, if any.
  std::optional<int64_t> UnpromptedDueMs() const;
  void DrainReply();
  void LetGoOfTheLine();
  void HangUp();
  int ObserveLineRate() const;
  bool PaceReceivedByte();
  void NoteLineActivity() { last_line_activity_ = Clock::now(); }

  bool Stopping() const;
  // Interruptible sleeps: false when Stop() cut them short.
  bool WaitUntil(Clock::time_point when);
  bool WaitForMs(int ms) { return WaitUntil(Clock::now() + std::chrono::milliseconds(ms)); }

  int64_t NowMs() const;
  void Append(EventKind kind, std::string text);        // takes the lock
  void AppendLocked(EventKind kind, std::string text);  // lock already held

  const PagerOptions options_;
  mutable std::mutex mu_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  bool started_ = false;
  std::atomic<bool> finished_{false};

  // Guarded by mu_ for other threads; the serving thread is the only writer.
  LoaderCore core_;
  std::vector<LogEvent> events_;
  std::function<void(const LogEvent&)> observer_;
  std::string slave_path_;
  int attached_pager_ = 0;
  std::vector<FlashImage> left_images_;  // of the pagers that have left, in order

  // Serving thread only (and Start/Stop while it is not running).
  CommandFramer framer_;
  SessionSchedule schedule_;
  std::unique_ptr<PagerLine> line_;
  int command_line_rate_bps_ = 0;
  bool line_error_logged_ = false;
  bool letting_go_ = false;  // the bench is over: the end comes with the host's close
  Clock::time_point start_time_;
  LinePacer<Clock> pacer_;
  Clock::time_point last_line_activity_;  // last byte received or sent
  Clock::time_point read_at_;             // when the bytes being handled were read
  std::thread thread_;
};

}  // namespace pagersim
