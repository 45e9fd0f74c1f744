#include <cerrno>
#include <cstring>

#include "common/VisibleText.h"
#include "link/PortError.h"

std::string PortOpenReason(int code, const std::string& port) {
  switch (code) {
    case 0:
      return {};
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return "The port does not exist.";
    case EBUSY:
    case EWOULDBLOCK:  // the lock another opener holds
      return "The port is in use by another program.";
    case EISDIR:
      return "It is a directory, not a serial port.";
    case ENOTTY:
      // A file, /dev/null, any device that takes no line settings.
      return VisibleText(port) + " is not a serial port.";
    case EACCES:
    case EPERM:
      // Usually a user outside the group that owns the serial devices.
      return "This user may not open the port.";
    default:
      return SystemErrorReason(code);
  }
}

std::string SystemErrorReason(int code) {
  return std::string(std::strerror(code)) + " (error " + std::to_string(code) + ").";
}

bool OpenRefusalMayClear(int code) { return code == EBUSY; }

bool IsTimeoutError(int code) { return code == ETIMEDOUT; }
