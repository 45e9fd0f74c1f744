#include "cli/TuneReport.h"

#include <fmt/format.h>

#include "common/VisibleText.h"
#include "station/Advice.h"

namespace {

constexpr char kProgram[] = "tarvex-flash: ";
constexpr char kNothingChanged[] = "Nothing was changed";

// "COM5, adapter FT5KQ2R7A", or the port alone when its adapter reports no
// serial number.
std::string AdapterName(const AdapterTimer& timer) {
  std::string name = VisibleText(timer.port);
  if (!timer.serial.empty()) name += ", adapter " + VisibleText(timer.serial);
  return name;
}

std::string TimerBefore(int before_ms) {
  if (before_ms < 0) return fmt::format("the driver's default ({} ms)", kFtdiDefaultLatencyTimerMs);
  return fmt::format("{} ms", before_ms);
}

// The adapter a refused or failed write ended on is told as the error.
bool EndedOn(const TuningReport& report, std::size_t index) {
  const bool failed =
      report.outcome == TuningOutcome::kRefused || report.outcome == TuningOutcome::kFailed;
  return failed && index + 1 == report.adapters.size();
}

std::string WrittenLines(const TuningReport& report, bool& any_written) {
  std::string text;
  for (std::size_t i = 0; i < report.adapters.size(); ++i) {
    const AdapterTimer& timer = report.adapters[i];
    if (EndedOn(report, i)) continue;
    if (timer.written) {
      any_written = true;
      text += fmt::format("{}: latency timer set from {} to {} ms.\n", AdapterName(timer),
                          TimerBefore(timer.before_ms), timer.after_ms);
    } else {
      text += fmt::format("{}: latency timer already {} ms.\n", AdapterName(timer), timer.after_ms);
    }
  }
  return text;
}

// A port given that cannot be tuned or checked: nothing was done to any.
std::string PortFault(const TuningReport& report) {
  const std::string port = VisibleText(report.port);
  if (report.outcome == TuningOutcome::kMissing) {
    if (!report.reason.empty()) return kProgram + VisibleText(report.reason) + ". ";
    return kProgram + port + " is not present. ";
  }
  const std::string what = report.reason.empty() ? "" : " (" + VisibleText(report.reason) + ")";
  return kProgram + port + " is not an FTDI adapter" + what + ": it has no latency timer. ";
}

}  // namespace

TuneOutput RegistryTuningOutput(const TuningReport& report) {
  TuneOutput output;
  switch (report.outcome) {
    case TuningOutcome::kNotFtdi:
    case TuningOutcome::kMissing:
      output.err = PortFault(report) + kNothingChanged +
                   "; tarvex-flash --list-ports shows the ports and their latency timers.\n";
      output.code = ExitCode::kUsage;
      return output;
    case TuningOutcome::kRefused:
      output.err = fmt::format(
          "{}Windows refused to change the latency timer of {} ({}): run it from an "
          "administrator prompt.\n",
          kProgram, VisibleText(report.port), VisibleText(report.reason));
      output.code = ExitCode::kInternal;
      break;
    case TuningOutcome::kFailed:
      output.err = fmt::format("{}the latency timer of {} could not be changed ({}).\n", kProgram,
                               VisibleText(report.port), VisibleText(report.reason));
      output.code = ExitCode::kInternal;
      break;
    default:
      break;
  }
  if (report.adapters.empty() && report.outcome == TuningOutcome::kDone) {
    output.out =
        "No FTDI adapter is plugged in: nothing to set. Adapters of other makers have no latency "
        "timer to set.\n";
    return output;
  }
  bool any_written = false;
  output.out = WrittenLines(report, any_written);
  if (any_written) {
    output.out +=
        "Unplug each adapter set above and plug it back in: its driver takes the new timer when "
        "the adapter starts again.\n";
  }
  return output;
}

namespace {

std::string ReadBackLine(const AdapterTimer& timer) {
  const std::string name = AdapterName(timer);
  if (!timer.error.empty()) {
    return fmt::format("{}: cannot be opened: {}\n", name, VisibleLines(timer.error));
  }
  if (timer.after_ms < 0) return name + ": no latency timer shown while the port is open.\n";
  if (timer.after_ms <= kTunedLatencyTimerMs) {
    return fmt::format("{}: latency timer {} ms while the port is open, as asked.\n", name,
                       timer.after_ms);
  }
  return fmt::format(
      "{}: latency timer {} ms while the port is open, though low latency was "
      "asked for; {}.\n",
      name, timer.after_ms, LatencyTimerRemedy(timer.port, timer.after_ms));
}

ExitCode CheckCode(TuningOutcome outcome) {
  switch (outcome) {
    case TuningOutcome::kDone:
      return ExitCode::kFinished;
    case TuningOutcome::kNotFtdi:
    case TuningOutcome::kMissing:
      return ExitCode::kUsage;
    case TuningOutcome::kFailed:
      return ExitCode::kPortNotOpened;
    default:
      return ExitCode::kInternal;
  }
}

}  // namespace

TuneOutput LowLatencyCheckOutput(const TuningReport& report) {
  TuneOutput output;
  output.code = CheckCode(report.outcome);
  if (report.outcome == TuningOutcome::kNotFtdi || report.outcome == TuningOutcome::kMissing) {
    output.err = PortFault(report) +
                 "Nothing was checked; tarvex-flash --list-ports shows the "
                 "ports and their latency timers.\n";
    return output;
  }
  output.out =
      "On Linux there is nothing to set: tarvex-flash asks each adapter for low latency whenever "
      "it opens its port, which puts an FTDI adapter's latency timer at 1 ms. ";
  if (report.adapters.empty()) {
    output.out += "No FTDI adapter is plugged in, so there is nothing to check.\n";
    return output;
  }
  output.out += "Read back with each port open:\n";
  for (const AdapterTimer& timer : report.adapters) output.out += ReadBackLine(timer);
  return output;
}
