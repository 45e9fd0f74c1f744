#include "benchwin/AdapterTune.h"

#include <fmt/format.h>

#include <algorithm>

namespace {

constexpr char kReplug[] =
    "unplug each adapter and plug it back in: the driver takes the new timer only when the "
    "adapter starts again";

// "COM5, adapter FT5KQ2R7A", or the port alone when its adapter reports no
// serial number.
std::string AdapterName(const PortInfo& port) {
  return port.Serial.empty() ? port.Name : port.Name + ", adapter " + port.Serial;
}

const PortInfo* Named(const std::string& name, const std::vector<PortInfo>& ports) {
  const auto found = std::find_if(ports.begin(), ports.end(),
                                  [&](const PortInfo& port) { return port.Name == name; });
  return found != ports.end() ? &*found : nullptr;
}

// Each adapter as the ports read again show it; false when one still runs
// slow.
bool TimersAfter(const std::vector<PortInfo>& asked, const std::vector<PortInfo>& after,
                 std::string& lines) {
  bool all_set = true;
  for (const PortInfo& port : asked) {
    const PortInfo* now = Named(port.Name, after);
    const int timer = now != nullptr ? now->LatencyTimerMs : -1;
    if (timer >= 0 && timer <= 1) {
      lines += fmt::format("{}: latency timer {} ms, now {} ms.\n", AdapterName(port),
                           port.LatencyTimerMs, timer);
    } else {
      all_set = false;
      lines += fmt::format("{}: latency timer not set (it reads {}).\n", AdapterName(port),
                           timer < 0 ? "nothing" : std::to_string(timer) + " ms");
    }
  }
  return all_set;
}

TuneVerdict RanVerdict(const std::vector<PortInfo>& asked, const std::vector<PortInfo>& after,
                       int exit_code) {
  if (exit_code == 1) {
    return {
        "Windows refused to change the latency timers (tarvex-flash.exe ended with 1). Run "
        "tarvex-flash --tune-adapters from an administrator prompt to see why.",
        "The latency timers were not set.", true};
  }
  if (exit_code == 2) {
    return {
        "An adapter was unplugged or is not an FTDI adapter (tarvex-flash.exe ended with 2): "
        "nothing was changed. Choose Tune adapters… again.",
        "The latency timers were not set.", true};
  }
  std::string lines;
  const bool all_set = TimersAfter(asked, after, lines);
  if (exit_code != 0 || !all_set) {
    return {lines + fmt::format("tarvex-flash.exe ended with {}. Run tarvex-flash --tune-adapters "
                                "from an administrator prompt to see why.",
                                exit_code),
            "Not every latency timer was set.", true};
  }
  return {lines + "\nNow " + kReplug + "; its tile then shows the new turnaround.",
          "Latency timers set to 1 ms: unplug each adapter and plug it back in.", false};
}

}  // namespace

std::vector<PortInfo> AdaptersToTune(const std::vector<PortInfo>& present) {
  std::vector<PortInfo> adapters;
  std::copy_if(present.begin(), present.end(), std::back_inserter(adapters),
               [](const PortInfo& port) { return port.LatencyTimerMs > 1; });
  return adapters;
}

std::string NothingToTuneText(const std::vector<PortInfo>& present) {
  const bool any_ftdi = std::any_of(present.begin(), present.end(),
                                    [](const PortInfo& port) { return port.LatencyTimerMs >= 0; });
  if (!any_ftdi) {
    return "No FTDI adapter is plugged in. Adapters of other makers have no latency timer to "
           "set.";
  }
  return std::string(
             "Every FTDI adapter plugged in is set to a latency timer of 1 ms. One set a moment "
             "ago runs with it once replugged: ") +
         kReplug + ".";
}

std::string TuneQuestion(const std::vector<PortInfo>& adapters) {
  std::string text = "Set the latency timer of these adapters to 1 ms?\n\n";
  for (const PortInfo& port : adapters) {
    text += fmt::format("{}: now {} ms\n", AdapterName(port), port.LatencyTimerMs);
  }
  return text + "\nWindows asks for an administrator's consent next. Afterwards " + kReplug + ".";
}

std::string TuneParameters(const std::vector<PortInfo>& adapters) {
  std::string parameters = "--tune-adapters";
  for (const PortInfo& port : adapters) parameters += " -p " + QuotedArgument(port.Name);
  return parameters;
}

TuneVerdict VerdictOf(const std::vector<PortInfo>& asked, const std::vector<PortInfo>& after,
                      const ElevatedRun& run) {
  switch (run.result) {
    case ElevatedRun::Result::kDeclined:
      return {"Nothing was changed: Windows' consent was not given.", "", false};
    case ElevatedRun::Result::kNotStarted:
      return {"tarvex-flash.exe, which sets the timers, could not be started (" + run.reason +
                  "). It must be in the folder of TarvexBench.exe.",
              "The latency timers were not set.", true};
    case ElevatedRun::Result::kStillRunning:
      return {
          "tarvex-flash.exe --tune-adapters has not ended yet. Check the timers with "
          "tarvex-flash --list-ports before you replug the adapters.",
          "", true};
    case ElevatedRun::Result::kRan:
      break;
  }
  return RanVerdict(asked, after, run.exit_code);
}

std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  // Those before the closing quote are doubled too.
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}
