// One complete update per port, each on a thread of its own over the same
// engine (an UpdateSession): a pager that hangs or refuses affects only its
// own line and result. What each update does reaches the console through the
// engine's observer as it happens.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/Report.h"
#include "engine/Firmware.h"

struct PortJob {
  std::size_t index = 0;
  // The port as the user named it; the channel opens that name (on Windows
  // its backend reaches COM10 and above through the device namespace).
  std::string port;
  std::string adapter_serial;
  // The firmware as the user named it, and its image, read and checked
  // once: every port's update reads the same one.
  std::string file_name;
  std::shared_ptr<const CheckedFirmware> firmware;
  int baud = 0;
  int resend = 0;
};

// Runs the update of one pager on the calling thread. Messages and progress
// go to `console` as they happen; nothing waits. Once `interrupt` is set the
// update stops at its next step, a pager in flash mode told to leave it.
PortResult RunPort(const PortJob& job, Console& console, const std::atomic<bool>& interrupt);

class TraceLog;

// Runs every job at once, one thread each; results in the order of `jobs`.
// Each finished pager is appended to `log` at once, when there is one.
std::vector<PortResult> RunGang(const std::vector<PortJob>& jobs, Console& console,
                                const std::atomic<bool>& interrupt, TraceLog* log);
