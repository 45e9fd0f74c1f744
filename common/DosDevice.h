// The devices Windows opens in place of files, and the spellings of a DOS
// device's name. Pure, so the rules are tested on every platform; the
// Windows files use them before a name reaches CreateFileW, which would
// otherwise open (and on a serial port, take) the device.
#pragma once

#include <string>
#include <string_view>

// A DOS device's name as it may be written: in the device namespace
// ("\\.\COM5", "\\?\COM5", the same with forward slashes, "//./COM5", or
// the object manager's own "\??\COM5", which CreateFileW passes through
// unchanged), and with a colon after it ("COM5:"). Every one of these opens
// the device the bare name does.
struct DosSpelling {
  // The name without the namespace and the colon: "COM5".
  std::string_view name;
  // Written in the device namespace: what follows is a device's name or a
  // path below one, never a file of the current folder.
  bool in_namespace = false;
};
DosSpelling DosSpellingOf(std::string_view name);

// The DOS device `name` opens, upper-cased: "CON", "NUL" or "COM5" for a
// legacy device name in any folder, with any extension or a colon after it
// ("C:\fw\com5.hex", "nul.hex", "COM5:"); "COM12" for a name in the device
// namespace ("\\.\COM12", "\??\COM12"). Empty for a name that opens a file.
std::string DosDeviceOf(std::string_view name);
