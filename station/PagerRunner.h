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
// mode told to leave it.
PortResult RunPager(const PagerJob& job, IPagerListener& listener, const std::atomic<bool>& stop,
                    ITickSource& clock = SystemTickSource());

class TraceLog;

// Runs every job at once, one thread each; results in the order of `jobs`.
// Each finished pager is appended to `log` at once, when there is one.
std::vector<PortResult> RunGang(const std::vector<PagerJob>& jobs, IPagerListener& listener,
                                const std::atomic<bool>& stop, TraceLog* log);
