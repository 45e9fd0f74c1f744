// What tarvex-flash needs of the operating system beyond the serial channel.
// One implementation file per platform (Platform_posix.cpp,
// Platform_win32.cpp), chosen by the build.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The program's arguments, argv[0] first: on Windows in UTF-8 from the wide
// command line, which keeps every name whole; on POSIX the bytes of argv.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Writes `text` to `stream`. On Windows a console is given wide characters,
// which it shows right whatever its code page; a file or a pipe, and every
// stream on POSIX, gets the bytes as they are (UTF-8 inside the program).
void WriteText(std::FILE* stream, const std::string& text);

// Appends `line` to the file `path` names (UTF-8 on Windows, bytes on
// POSIX), creating it when it is missing, in one write while no other
// appender of ours writes to it. A write that goes short is cut back off the
// file, so no fragment is left for the next line to be glued to. True only
// when the whole line is in the file; an empty line only tries the file.
bool AppendWhole(const std::string& path, std::string_view line);

// Makes sure the standard streams lead somewhere before anything is opened:
// on POSIX a closed descriptor 0, 1 or 2 is opened on /dev/null, else the
// first port opened would take its number and every line meant for the
// terminal would go down the pager's line. Call it first.
void EnsureStandardStreams();

// True when stdout and stderr are both terminals that take cursor sequences
// (on Windows, a console where virtual-terminal processing could be turned on).
bool StreamsAreTerminals();

// Ctrl+C (and, on POSIX, SIGTERM and SIGHUP) only sets `flag`; the update
// threads look at it between their steps. On POSIX a reader of our output
// that goes away (`| head`) does not end the program mid-update, with a
// pager left in flash mode: the write fails and the update goes on.
// On Windows, closing the console window, logging off and shutting down end
// the process once the handler returns: those hold it until UpdatesEnded()
// (at most about 5 s, as Windows allows), so every pager in flash mode has
// had its "q" and every log line is written.
void InstallInterruptHandler(std::atomic<bool>& flag);
void UpdatesEnded();
// What the handler does with a console control event (Windows' numbers:
// CTRL_C_EVENT 0 to CTRL_SHUTDOWN_EVENT 6); true when it handled it.
bool OnConsoleEvent(unsigned long event);

// What names the device behind a port, so one port given under two names
// (a link and its target, COM5 and \\.\COM5) is seen as one: on POSIX the
// device number of a character device, else the path with links resolved;
// on Windows the COM number. A name that leads nowhere is its own identity.
std::string PortIdentity(const std::string& port);

// A hint for a port that cannot be opened, from the OS error the open
// reported: on POSIX, when access is denied, the group to join when the
// device's group may open it (dialout on Debian), else who may open it and a
// udev rule that lets a group open it. Empty when there is none.
std::string OpenFailureHint(const std::string& device, int error);

// What was found of the latency timer of the adapter behind a port whose
// replies come late, as the hint says it: "adapter latency timer 16 ms".
// `timer_ms` is -1 when the system shows none.
std::string LatencyTimerFinding(int timer_ms);
// What the user can do about that timer on this system: "set it to 1 ms in
// Device Manager, Port Settings, Advanced".
std::string LatencyTimerRemedy(const std::string& port, int timer_ms);
