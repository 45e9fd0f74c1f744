// The window's shared state, under the names the design gives it: the three
// user settings, the one serial channel and the running update. The window
// writes the settings, the settings file keeps them between runs, and the
// window hands them to each update it starts (shell/MainModel.h), which reads
// the rate and the resend count at the moment it needs them. Nothing below
// the window reads these: the engine, the channel and the command line get
// what they need from whoever makes them.
#pragma once

#include <cstdint>

class TDComm;
class UpdateFlow;

// Zero-based COM port index: 0..3 stand for COM1..COM4.
extern std::int8_t ComPortIndex;
// Transfer rate in bit/s: 2400, 4800 or 9600 once chosen, 0 before.
extern std::int32_t FlashBaudRate;
// How often a rejected package is sent again: 0, 3 or 5.
extern std::int32_t ResendTimes;

// The serial channel, owned by the main window from its construction to its
// close; null outside that span.
extern TDComm* Comm;
// The running update; null outside the Update command.
extern UpdateFlow* Flow;
