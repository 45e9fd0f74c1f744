// The operating system's own words for an error code (FormatMessage on
// Windows), without the trailing full stop and line end, or "system error N"
// when it has none. Windows only: POSIX callers use strerror.
#pragma once

#include <string>

std::string SystemErrorText(unsigned long code);
