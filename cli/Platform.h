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
// that goes away (`| head`) no longer ends the program mid-update, with a
// pager left in flash mode: the write fails and the update goes on.
void InstallInterruptHandler(std::atomic<bool>& flag);

// A hint for a port that cannot be opened, from the OS error the open
// reported: on POSIX, when access is denied, the group to join when the
// device's group may open it (dialout on Debian), else who may open it and a
// udev rule that lets a group open it. Empty when there is none.
std::string OpenFailureHint(const std::string& device, int error);
