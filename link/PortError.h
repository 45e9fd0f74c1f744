// Why a serial port could not be opened, as the second line of the
// "Can NOT Open" box says it. One implementation per platform, as the codes
// are the platform's (GetLastError() on Windows, errno on POSIX).
#pragma once

#include <string>

// A sentence for `code`, the error read at the failing call; empty for 0,
// which means no call failed (the port was held already).
std::string PortOpenReason(int code);
