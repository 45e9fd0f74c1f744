// What the system lets a user do about a port that cannot be opened and an
// adapter whose replies come late: advice in this system's own terms. One
// implementation file per platform, chosen by the build.
#pragma once

#include <string>

// A hint for a port that cannot be opened, from the OS error the open
// reported: on POSIX, when access is denied, the group to join when the
// device's group may open it (dialout on Debian), else who may open it and a
// udev rule that lets a group open it. For a file given as the port, that
// the port and the file may have been swapped. Empty when there is none.
std::string OpenFailureHint(const std::string& device, int error);

// What was found of the latency timer of the adapter behind a port whose
// replies come late, as the hint says it: "adapter latency timer 16 ms".
// `timer_ms` is -1 when the system shows none.
std::string LatencyTimerFinding(int timer_ms);
// What the user can do about that timer on this system: on Windows, have
// tarvex-flash --tune-adapters set it; on Linux, a udev rule that sets it
// whenever an FTDI adapter is plugged in.
std::string LatencyTimerRemedy(const std::string& port, int timer_ms);
