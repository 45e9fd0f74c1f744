// The application's shared state: the three user settings, the one serial
// channel and the running update. The window writes the settings, the
// settings file keeps them between runs, and the engine reads them at the
// moment it needs them.
//
// Each is per thread: the window has one thread and sees one set; the
// command-line flasher runs one complete update per port, each on a thread
// of its own with its own channel and settings (engine/UpdateSession.h).
#pragma once

#include <cstdint>

class TDComm;
class UpdateFlow;

// Zero-based COM port index: 0..3 stand for COM1..COM4.
extern thread_local std::int8_t ComPortIndex;
// Transfer rate in bit/s: 2400, 4800 or 9600 once chosen, 0 before.
extern thread_local std::int32_t FlashBaudRate;
// How often a rejected package is sent again: 0, 3 or 5.
extern thread_local std::int32_t ResendTimes;

// The serial channel, owned by the main window from its construction to its
// close; null outside that span.
extern thread_local TDComm* Comm;
// The running update; null outside the Update command.
extern thread_local UpdateFlow* Flow;
