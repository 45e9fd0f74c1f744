// A COM port as the port list gives it, for tests that pick ports by name
// and adapter serial number.
#pragma once

#include <string>

#include "link/PortList.h"

inline PortInfo ComPort(int number, const std::string& serial) {
  PortInfo port;
  port.Name = "COM" + std::to_string(number);
  port.Number = number;
  port.Serial = serial;
  return port;
}
