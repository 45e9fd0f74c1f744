// What one pager's update comes to, as it goes and when it has ended: the
// figures every face of the program shows, built once by the runner
// (station/PagerRunner.h).
#pragma once

#include <cstdint>
#include <string>

#include "engine/Hexproc.h"
#include "station/ExitCode.h"

struct PortProgress {
  std::string port;
  std::string stage;
  int percent = 0;
  // Records sent so far, each once: resends do not count again.
  int records = 0;
  int records_total = 0;
  // Since this pager's update started, and since its first record went out.
  double seconds = 0.0;
  double transfer_seconds = 0.0;
  // Bytes written to the line.
  std::uint64_t line_bytes = 0;
};

struct PortResult {
  std::string port;
  std::string adapter_serial;
  ExitCode code = ExitCode::kInternal;
  // The message that ended the update (with its reason line, if any).
  std::string message;
  double seconds = 0.0;
  std::uint64_t line_bytes = 0;
  int records = 0;
  // How late the replies typically came beyond their line time, and the
  // line time over the time the replies took (station/ReplyLatency.h);
  // negative when no reply came.
  double reply_ms = -1.0;
  double line_efficiency = -1.0;
  // The line that says what late replies cost and what to do; empty when
  // they were not late.
  std::string latency_hint;
  // The port's turnaround: from the end of a command on the line to the
  // first byte of its reply, less that byte's own line time, typically, in
  // ms (an adapter's latency timer shows here); negative when unknown.
  double turnaround_ms = -1.0;
  // False when a log line was due and could not be written.
  bool logged = true;
  // The pager entered flash mode and never acknowledged the exit command,
  // even when asked again: it may still be in its loader.
  bool may_be_in_loader = false;
  // The rate the pager was last told to listen at: the transfer rate once
  // it took the rate command, the start rate again once it took the exit
  // command. A bench reaches a pager still on the cable there.
  std::int32_t pager_rate = kStartBaudRate;
};

// The stage of an update as scripts and the progress line name it: "open",
// "enter-flash", "change-baud", "erase", "transfer", "exit-flash", "finish".
std::string StageName(UpdateStage stage);

double BytesPerSecond(std::uint64_t bytes, double seconds);
