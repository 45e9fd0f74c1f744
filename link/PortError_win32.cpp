#include <windows.h>

#include "link/PortError.h"

namespace {

// The system's own words for the codes a technician cannot act on directly.
std::string SystemText(DWORD code) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' ||
                             result.back() == '.' || result.back() == ' ')) {
    result.pop_back();
  }
  if (result.empty()) result = "System error";
  return result + " (error " + std::to_string(code) + ").";
}

}  // namespace

std::string PortOpenReason(int code) {
  switch (static_cast<DWORD>(code)) {
    case 0:
      return {};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "The port does not exist.";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return "The port is in use by another program.";
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
      // What a USB adapter pulled out while its port name stayed reports.
      return "The port's device is not connected.";
    default:
      return SystemText(static_cast<DWORD>(code));
  }
}
