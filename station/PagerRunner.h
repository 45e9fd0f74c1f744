// One pager's update from start to result, as every face of the program runs
// it: the one-shot and the gang, the console bench and the bench window. The
// runner observes the engine and builds the result (outcome, exit code,
// seconds, bytes per second, reply lateness, line efficiency and the
// latency hint); a face only listens and draws.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "engine/Firmware.h"
#include "engine/Turnaround.h"
#include "link/SerialDevice.h"
#include "station/PagerResult.h"

struct PagerJob {
  std::size_t index = 0;
  // The port to open, as the user named it or as it was found by its
  // adapter's serial number; the channel opens that name (on Windows its
  // backend reaches COM10 and above through the device namespace).
  std::string port;
  std::string adapter_serial;
  // The firmware as the user named it, and its image, read and checked
  // once: every port's update reads the same one.
  std::string file_name;
  std::shared_ptr<const CheckedFirmware> firmware;
  int baud = 0;
  int resend = 0;
  // Where the channel's devices come from; the platform's driver when empty.
  SerialDeviceFactory device_factory;
  // The port was closed just before the update (a bench's probe): its open
  // is retried as every reopen is.
  bool opens_after_close = false;
  // A stop waits for a pending reply only as long as the port's turnaround
  // allows (UpdateFlow::SetQuickStop): a bench's, which must end within two
  // seconds and asks the pager to leave flash mode itself.
  bool quick_stop = false;
  // A pager that may still be in flash mode when its update ends (it never
  // acknowledged "q") is asked again, at the rate it was last told and at
  // the start rate; when it still does not confirm leaving, the result says
  // it may be in its loader (PortResult::may_be_in_loader), on a line below
  // the message, and keeps its exit code. The one-shot and the gang ask; a
  // bench asks as it watches for the pager's removal.
  bool asks_again_to_leave = false;
};

// What a face hears of the pagers it runs; called on each runner's thread.
class IPagerListener {
 public:
  virtual ~IPagerListener() = default;
  virtual void OnStart(const PagerJob& job) = 0;
  virtual void OnProgress(std::size_t index, const PortProgress& progress) = 0;
  // A message of the update; nothing waits for a click.
  virtual void OnMessage(std::size_t index, const std::string& text, UpdateOutcome outcome) = 0;
  virtual void OnEnd(std::size_t index, const PortResult& result) = 0;
  // A line of the program's own ("cannot append to the log ...").
  virtual void OnNote(const std::string& text) = 0;
};

// Runs the update of one pager on the calling thread, timed on `clock`.
// Once `stop` is set the update stops at its next step, a pager in flash
// mode told to leave it. Each reply adds to `turnaround`, the port's, when
// one is given; the result's turnaround_ms is the port's figure then.
PortResult RunPager(const PagerJob& job, IPagerListener& listener, const std::atomic<bool>& stop,
                    ITickSource& clock = SystemTickSource(), PortTurnaround* turnaround = nullptr);

class TraceLog;

// Runs every job at once, one thread each, each pager asked again to leave
// flash mode when it may not have left it; results in the order of `jobs`. Each
// pager is appended to `log` once it has ended, when there is one.
std::vector<PortResult> RunGang(const std::vector<PagerJob>& jobs, IPagerListener& listener,
                                const std::atomic<bool>& stop, TraceLog* log);
