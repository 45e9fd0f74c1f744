// The devices Windows opens in place of files. Pure, so the rule is tested
// on every platform; the Windows files use it before a name reaches
// CreateFileW, which would otherwise open (and on a serial port, take) the
// device.
#pragma once

#include <string>
#include <string_view>

// The DOS device `name` opens, upper-cased: "CON", "NUL" or "COM5" for a
// legacy device name in any folder, with any extension or a colon after it
// ("C:\fw\com5.hex", "nul.hex", "COM5:"); "COM12" for "\\.\COM12" or
// "\\?\COM12", a name in the device namespace. Empty for a name that opens a
// file.
std::string DosDeviceOf(std::string_view name);
