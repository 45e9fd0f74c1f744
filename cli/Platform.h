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

// Makes sure the standard streams lead somewhere before anything is opened:
// on POSIX a closed descriptor 0, 1 or 2 is opened on /dev/null, else the
// first port opened would take its number and every line meant for the
// terminal would go down the pager's line. Call it first.
void EnsureStandardStreams();

// How many columns the terminal or console behind `stream` shows now; 0 when
// it leads elsewhere or the system does not say. Asked again at each redraw,
// so a window resized is followed.
std::size_t TerminalColumns(std::FILE* stream);

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
