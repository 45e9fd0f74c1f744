#include "common/VisibleText.h"
#include "station/Advice.h"

// Windows has no group to join; why the open failed is the channel's to say.
std::string OpenFailureHint(const std::string&, int) { return ""; }

std::string LatencyTimerFinding(int timer_ms) {
  if (timer_ms < 0) return "adapter latency timer not known";
  return "adapter latency timer " + std::to_string(timer_ms) + " ms";
}

// An FTDI adapter's timer is found in the driver's settings, where
// tarvex-flash can set it; any other adapter's is its own driver's matter.
std::string LatencyTimerRemedy(const std::string& port, int timer_ms) {
  if (timer_ms < 0) {
    return "if it is an FTDI adapter, set its latency timer to 1 ms in Device Manager, Port "
           "Settings, Advanced";
  }
  return "set it to 1 ms with tarvex-flash --tune-adapters -p " + VisibleText(port) +
         " from an administrator prompt (or Setup, Tune adapters… in the bench window), then "
         "unplug the adapter and plug it back in";
}
