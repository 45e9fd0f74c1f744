// The shortest time an update of the benchmark image can take on the line:
// every byte that must cross it, at 10 bits a byte (8N1), plus the pause the
// host makes before the exit command. Nothing else is counted: no reply
// latency, no time to open the port or check the file.
#pragma once

#include <cstdint>

struct LineBound {
  std::uint64_t start_rate_bytes = 0;  // "f", ACK, the rate command, ACK at 1200 bit/s
  std::uint64_t flash_rate_bytes = 0;  // everything after the rate change
  std::uint64_t commands = 0;          // commands sent, each answered by one byte
  double line_seconds = 0;             // bytes at their rates
  double pause_seconds = 0;            // the pause before "q"
  double seconds = 0;                  // the bound: line_seconds + pause_seconds
};

LineBound ComputeLineBound(std::uint32_t data_records, int flash_rate);
