// What --list-ports prints. Pure, over the port list the system gave.
#pragma once

#include <string>
#include <vector>

#include "link/PortList.h"

// A table (name, description, VID:PID, serial, with the manufacturer, the
// driver, the adapter's latency timer where known and the by-id name below
// each), or one JSON object per port and line.
std::string FormatPortList(const std::vector<PortInfo>& ports, bool json);
