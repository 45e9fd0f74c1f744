// A small job for the runner's tests: COM7 at 9600 bit/s on a scripted
// line, a firmware of two records (16 bytes, then `last_record_bytes`).
#pragma once

#include <cstdint>
#include <string>

#include "station/PagerRunner.h"
#include "tests/support/HexText.h"
#include "tests/support/ScriptedPager.h"

inline PagerJob TwoRecordJob(ScriptedPager& line, std::uint8_t last_record_bytes = 16) {
  std::string reason;
  PagerJob job;
  job.port = "COM7";
  job.file_name = "fw.hex";
  job.firmware = CheckedFirmware::Check(
      HexFileText({HexRecordText(0, 0, Bytes(16)), HexRecordText(16, 0, Bytes(last_record_bytes)),
                   kEndRecordLine}),
      reason);
  job.baud = 9600;
  job.resend = 3;
  job.device_factory = line.Factory();
  return job;
}
