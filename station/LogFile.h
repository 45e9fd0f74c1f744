// The traceability log's file, as the system writes it. One implementation
// file per platform, chosen by the build.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

// How an append went: whole, or why not, in words that follow "cannot
// append to the log PATH: " ("No such file or directory", "it is a serial
// port or a terminal, not a file").
struct LogAppend {
  bool whole = false;
  std::string reason;
};

// Appends `line` to the file `path` names (UTF-8 on Windows, bytes on
// POSIX), creating it when it is missing, while no other appender of ours
// writes to it. A write that goes short is cut back off the file, so no
// fragment is left for the next line to be glued to. Whole only when the
// whole line is in the file; an empty line only tries the file.
//
// A log is a regular file, or a new one: a folder, a device (a serial port
// among them), a FIFO or a socket is refused, each said as what it is, and
// one that is there already is not even opened (opening a serial port
// would disturb its line). Nothing waits on what the name leads to: the
// open does not block, and the wait for another appender's lock ends once
// `give_up` is set.
LogAppend AppendWhole(const std::string& path, std::string_view line,
                      const std::atomic<bool>& give_up);
