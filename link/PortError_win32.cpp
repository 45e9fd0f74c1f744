#include <windows.h>

#include "common/SystemError.h"
#include "link/PortError.h"

std::string PortOpenReason(int code, const std::string&) {
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
    case ERROR_DIRECTORY:
      return "It is a folder, not a serial port.";
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
      // What a USB adapter pulled out while its port name stayed reports.
      return "The port's device is not connected.";
    default:
      return SystemErrorReason(code);
  }
}

std::string SystemErrorReason(int code) {
  return SystemErrorText(static_cast<DWORD>(code)) + " (error " + std::to_string(code) + ").";
}

bool OpenRefusalMayClear(int code) {
  const auto error = static_cast<DWORD>(code);
  return error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND;
}

// Serial drivers end a read or write that ran out of time with success and a
// short count; some report it as one of these instead.
bool IsTimeoutError(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_SEM_TIMEOUT:
    case ERROR_COUNTER_TIMEOUT:
    case WAIT_TIMEOUT:
    case ERROR_TIMEOUT:
      return true;
    default:
      return false;
  }
}
