// What --list-ports prints, and which adapter serial number a port given on
// the command line has. Pure, over the port list the system gave.
#pragma once

#include <string>
#include <vector>

#include "link/PortList.h"

// A table (name, description, VID:PID, serial, with the manufacturer, the
// driver, the adapter's latency timer where known and the by-id name below
// each), or one JSON object per port and line.
std::string FormatPortList(const std::vector<PortInfo>& ports, bool json);

// The serial number of the adapter behind `port`, matched by name, by its
// /dev/serial/by-id name, or by COM number; empty when not known.
std::string AdapterSerialOf(const std::string& port, const std::vector<PortInfo>& ports);

// A port given as "serial=FT12AB34": the one whose USB adapter reports that
// serial number, whatever name the system gave it this time.
bool NamesAdapterSerial(const std::string& given);

struct PortMatch {
  std::string name;   // the port to open; empty on an error
  std::string error;  // why none could be chosen, with the ports present
};

// The port `given` names among `ports`: a plain name as it is, a serial= form
// the one port whose adapter has that serial number (in any case, as
// Windows upper-cases what Linux shows as the adapter reports it).
PortMatch ResolvePort(const std::string& given, const std::vector<PortInfo>& ports);
