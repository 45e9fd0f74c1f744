// One complete update per port, each on a thread of its own: the engine's
// globals are per thread, so every thread runs the unchanged UpdateFlow over
// its own channel, settings and GUI services, and a pager that hangs or
// refuses affects only its own line and result.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/Report.h"

struct PortJob {
  std::size_t index = 0;
  // The port as the user named it; the channel opens that name (on Windows
  // its backend reaches COM10 and above through the device namespace).
  std::string port;
  std::string adapter_serial;
  // The firmware file as the user named it, and the copy this thread's
  // engine opens: the engine holds its file exclusively, so each has its own.
  std::string file_name;
  std::string hex_file;
  int baud = 0;
  int resend = 0;
  int records_total = 0;
};

// Runs the update of one pager on the calling thread. Messages and progress
// go to `console` as they happen; nothing waits. When `interrupt` is set, a
// pager in flash mode is sent "q" and the port is closed.
PortResult RunPort(const PortJob& job, Console& console, const std::atomic<bool>& interrupt);

class TraceLog;

// Runs every job at once, one thread each; results in the order of `jobs`.
// Each finished pager is appended to `log` at once, when there is one.
std::vector<PortResult> RunGang(const std::vector<PortJob>& jobs, Console& console,
                                const std::atomic<bool>& interrupt, TraceLog* log);
