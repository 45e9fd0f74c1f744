// The Comm Port items below COM 1 to COM 4: one per other serial port
// present, and the chosen port when it has gone. Pure, so the window only
// draws what this returns.
#pragma once

#include <string>
#include <vector>

#include "link/PortList.h"

struct PortMenuItem {
  // Component name, "MnCOM12"; MainModel::MnCOMClick takes it back.
  std::string Item;
  int Number = 0;
  // "COM7  USB Serial Port (FTDI)", "COM12", "COM9 (not present)".
  std::string Caption;
  bool Checked = false;
};

// COM 1 to COM 4 are the fixed items; these numbers get items of their own.
constexpr int kFirstListedComNumber = 5;

// The items for the ports `present`, in number order, with the one for
// `chosen_number` checked; a chosen port that is not present is listed too,
// marked "(not present)". Ports without a COM number, numbers outside 5 to
// 255 and repeats are left out.
std::vector<PortMenuItem> ListedPortItems(const std::vector<PortInfo>& present, int chosen_number);

// Name, two spaces, the description and, in brackets, the maker when the
// description does not already say it; for an FTDI adapter whose latency
// timer is above 1 ms, after a tab, the timer and what sets it to 1 ms.
std::string PortCaption(const PortInfo& port);

// "MnCOM12" for 12, and back; 0 for a name of no port item.
std::string PortItemName(int number);
int PortNumberOfItem(const std::string& item);
