#include "common/DosDevice.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "common/NoCase.h"

namespace {

// The object manager's name for the folder of DOS devices.
constexpr std::string_view kObjectManagerPrefix = R"(\??\)";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "\\.\" and "\\?\", whichever way each slash leans: Windows reads "//./"
// as "\\.\".
bool StartsWithDevicePrefix(std::string_view name) {
  return name.size() >= 4 && IsSeparator(name[0]) && IsSeparator(name[1]) &&
         (name[2] == '.' || name[2] == '?') && IsSeparator(name[3]);
}

// The names Windows keeps for devices in every folder: CON, PRN, AUX, NUL,
// the consoles' two ends, COM1 to COM9 and LPT1 to LPT9.
bool IsLegacyDeviceName(const std::string& name) {
  constexpr std::array<std::string_view, 6> kFixed = {"CON", "PRN",    "AUX",
                                                      "NUL", "CONIN$", "CONOUT$"};
  if (std::find(kFixed.begin(), kFixed.end(), name) != kFixed.end()) return true;
  return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
         name[3] >= '1' && name[3] <= '9';
}

// The last part of a path, after its folders and a drive ("C:nul").
std::string_view LastPart(std::string_view name) {
  const std::size_t cut = name.find_last_of("\\/");
  if (cut != std::string_view::npos) return name.substr(cut + 1);
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
    return name.substr(2);
  }
  return name;
}

}  // namespace

DosSpelling DosSpellingOf(std::string_view name) {
  DosSpelling spelling{name, false};
  if (StartsWithDevicePrefix(name) || name.starts_with(kObjectManagerPrefix)) {
    spelling.name.remove_prefix(4);
    spelling.in_namespace = true;
  }
  if (spelling.name.ends_with(':')) spelling.name.remove_suffix(1);
  return spelling;
}

std::string DosDeviceOf(std::string_view name) {
  if (const DosSpelling spelling = DosSpellingOf(name); spelling.in_namespace) {
    const std::string_view device = spelling.name;
    // A path below a device ("\\?\C:\logs\day.jsonl") is a file's.
    if (device.empty() || std::any_of(device.begin(), device.end(), IsSeparator)) return "";
    return ToUpper(device);
  }
  // "nul.hex", "COM5:" and "con .txt" name the device: what follows a dot or
  // a colon, and blanks before them, do not count.
  std::string_view part = LastPart(name);
  part = part.substr(0, part.find_first_of(".:"));
  while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
  const std::string upper = ToUpper(part);
  return IsLegacyDeviceName(upper) ? upper : "";
}
