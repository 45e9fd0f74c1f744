// What tarvex-flash needs of the operating system beyond the serial channel.
// One implementation file per platform (Platform_posix.cpp,
// Platform_win32.cpp), chosen by the build.
#pragma once

#include <atomic>
#include <string>

// True when stdout and stderr are both terminals that take cursor sequences
// (on Windows, a console where virtual-terminal processing could be turned on).
bool StreamsAreTerminals();

// Ctrl+C (and, on POSIX, SIGTERM and SIGHUP) only sets `flag`; the update
// threads look at it between their steps. On POSIX a reader of our output
// that goes away (`| head`) does not end the program mid-update, with a
// pager left in flash mode: the write fails and the update goes on.
void InstallInterruptHandler(std::atomic<bool>& flag);

// A hint for a port that cannot be opened, from the OS error the open
// reported: on POSIX, when access is denied, the group that owns the device
// and how to join it (dialout on Debian). Empty when there is none.
std::string OpenFailureHint(const std::string& device, int error);

// What was found of the latency timer of the adapter behind a port whose
// replies come late, as the hint says it: "adapter latency timer 16 ms".
// `timer_ms` is -1 when the system shows none.
std::string LatencyTimerFinding(int timer_ms);
// What the user can do about that timer on this system: "set it to 1 ms in
// Device Manager, Port Settings, Advanced".
std::string LatencyTimerRemedy(const std::string& port, int timer_ms);
