// A pager that answers at once, behind the channel's device interface: it
// frames what the host writes into commands as the loader does and has an
// ACK ready for the next read as soon as a command is complete. It keeps
// counts only, never the traffic, so it costs the host next to nothing and
// its memory does not grow with the file.
#pragma once

#include <cstdint>

#include "link/Dcommthread.h"
#include "link/SerialDevice.h"

class InstantPager {
 public:
  // Devices for TDComm::DeviceFactory; every device shares this pager.
  SerialDeviceFactory Factory();

  // Counters since construction, for checking that an update went through.
  std::uint64_t commands = 0;
  std::uint64_t sends = 0;     // "s" + record
  std::uint64_t programs = 0;  // "p"
  std::uint64_t exits = 0;     // "q"
  std::uint64_t bytes_written = 0;
  std::uint64_t opens = 0;

  void Feed(std::uint8_t byte);
  void Clear();
  // Takes one pending reply byte; false when none is due.
  bool TakeReply(std::uint8_t& byte);

 private:
  void Complete(std::uint8_t first);

  std::uint32_t pending_replies_ = 0;
  // Bytes still missing from the command being framed; 0 between commands.
  std::uint32_t missing_ = 0;
  std::uint8_t first_ = 0;
  // Within an "s": the colon and length digits are still coming.
  bool in_record_head_ = false;
  char head_[3] = {};
  int head_count_ = 0;
};
