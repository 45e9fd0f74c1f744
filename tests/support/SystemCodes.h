// System error codes as this platform's drivers report them, for fake devices
// that fail as a real one would. One definition file per platform.
#pragma once

// A port that is not there; no retry makes it appear.
extern const int kMissingPortError;
// A port whose driver is still finishing its close (an open tried again).
extern const int kBusyAfterCloseError;
// A line state the driver refuses.
extern const int kRefusedStateError;
// An adapter pulled out under an open port.
extern const int kPulledOutError;
// A read or write that ran out of time.
extern const int kTimedOutError;
