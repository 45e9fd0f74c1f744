// The ports the bench window lists, each ticked for the bench or not: the
// ports present, as the port list gives them, and the chosen ones that are
// not present now. A port with an adapter's serial number can be kept by
// that number, so the bench finds its adapter whatever COM number Windows
// gives it next time. Pure.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "link/PortList.h"

struct PortEntry {
  // "COM5"; empty for an adapter kept by its serial number and not present.
  std::string name;
  // The system's words for the adapter, with its maker: "USB Serial Port (FTDI)".
  std::string adapter;
  std::string serial;
  bool present = true;
  bool ticked = false;
  bool by_serial = false;
  friend bool operator==(const PortEntry&, const PortEntry&) = default;
};

// How the bench and the settings keep the entry: its name, or serial= and
// the adapter's number.
std::string GivenPort(const PortEntry& entry);

// The entries for the ports `present`, in their order, those `chosen` (as
// GivenPort gives them) ticked; chosen ones not present follow, ticked.
std::vector<PortEntry> PortEntries(const std::vector<PortInfo>& present,
                                   const std::vector<std::string>& chosen);

// The ticked entries as GivenPort gives them, in list order.
std::vector<std::string> ChosenPorts(const std::vector<PortEntry>& entries);

// "USB Serial Port (FTDI)": the description, and the maker when the
// description does not name it.
std::string AdapterName(const PortInfo& port);

// What the list says under itself when ticked entries lie outside the rows
// it shows now ([first, first + shown)): "2 ticked ports out of view:
// COM12, COM14"; empty when every ticked one shows.
std::string TickedOutOfView(const std::vector<PortEntry>& entries, std::size_t first,
                            std::size_t shown);

// The list's cells of an entry: port ("-" for an adapter not present by
// its number), adapter (marked when not present), serial, and how it is
// kept.
std::array<std::string, 4> PortCells(const PortEntry& entry);
