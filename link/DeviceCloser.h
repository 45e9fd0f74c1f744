// Closing a serial device without hanging on it. Some drivers never return
// from CloseHandle (or close) once the adapter has been pulled out, and a
// Linux tty can wait half a minute in close for output that will never
// drain; the program must go on all the same.
#pragma once

#include <cstdint>
#include <memory>

#include "common/Clock.h"
#include "link/SerialDevice.h"

// Closes `device` on a thread of its own and waits for that close up to
// `limit_ms` on `clock`, and never less than a
// second on the system's clock. True when the close returned in time; false
// when the channel gave up waiting, in which case the close goes on without
// it and the device is destroyed whenever it returns.
bool CloseWithin(std::unique_ptr<ISerialDevice> device, std::uint32_t limit_ms, ITickSource& clock);
