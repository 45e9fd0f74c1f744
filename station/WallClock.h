// The time of day as people and logs read it.
#pragma once

#include <string>

// Now in UTC as ISO 8601, "2026-12-07T12:34:56Z".
std::string UtcNow();
// Now in local time, "14:02:11".
std::string LocalClockText();
