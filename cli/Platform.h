// What tarvex-flash needs of the operating system beyond the serial channel.
// One implementation file per platform (Platform_posix.cpp,
// Platform_win32.cpp), chosen by the build.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

// The program's arguments, argv[0] first: on Windows in UTF-8 from the wide
// command line, which keeps every name whole; on POSIX the bytes of argv.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Writes `text` to `stream`. On Windows a console is given wide characters,
// which it shows right whatever its code page; a file or a pipe, and every
// stream on POSIX, gets the bytes as they are (UTF-8 inside the program).
void WriteText(std::FILE* stream, const std::string& text);

// Opens the file `path` names (UTF-8 on Windows, bytes on POSIX) for
// appending bytes, creating it when it is missing; null when it cannot be.
std::FILE* OpenForAppend(const std::string& path);

// True when stdout and stderr are both terminals that take cursor sequences
// (on Windows, a console where virtual-terminal processing could be turned on).
bool StreamsAreTerminals();

// Ctrl+C (and, on POSIX, SIGTERM and SIGHUP) only sets `flag`; the update
// threads look at it between their steps. On POSIX a reader of our output
// that goes away (`| head`) no longer ends the program mid-update, with a
// pager left in flash mode: the write fails and the update goes on.
void InstallInterruptHandler(std::atomic<bool>& flag);

// A hint for a port that cannot be opened, from the OS error the open
// reported: on POSIX, when access is denied, the group that owns the device
// and how to join it (dialout on Debian). Empty when there is none.
std::string OpenFailureHint(const std::string& device, int error);
