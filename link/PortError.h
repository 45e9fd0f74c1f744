// Why a serial port could not be opened or was lost, in words for the boxes,
// and how its error codes are judged. One implementation per platform, as the
// codes are the platform's (GetLastError() on Windows, errno on POSIX).
#pragma once

#include <string>

// A sentence for `code`, the error read at the failing call of an open of
// `port`; empty for 0, which means no call failed (the port was held
// already).
std::string PortOpenReason(int code, const std::string& port);

// The system's own words for `code` with the code itself:
// "Input/output error (error 5)."
std::string SystemErrorReason(int code);

// True for a refusal to open that may clear by itself in a moment: right
// after the channel closed the same port, a driver may still be finishing
// that close (ERROR_ACCESS_DENIED or ERROR_FILE_NOT_FOUND on Windows, EBUSY
// on Linux).
bool OpenRefusalMayClear(int code);

// True for the code of a read or write that ran out of time, which says
// nothing about the device, as opposed to one that failed.
bool IsTimeoutError(int code);
