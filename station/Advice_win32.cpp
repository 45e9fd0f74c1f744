#include "station/Advice.h"

// Windows has no group to join; why the open failed is the channel's to say.
std::string OpenFailureHint(const std::string&, int) { return ""; }

std::string LatencyTimerFinding(int timer_ms) {
  if (timer_ms < 0) return "adapter latency timer not known";
  return "adapter latency timer " + std::to_string(timer_ms) + " ms";
}

std::string LatencyTimerRemedy(const std::string&, int timer_ms) {
  if (timer_ms < 0) {
    return "if it is an FTDI adapter, set its latency timer to 1 ms in Device Manager, Port "
           "Settings, Advanced";
  }
  return "set it to 1 ms in Device Manager, Port Settings, Advanced";
}
