// What a technician is to do once a pager's update has ended badly: one
// plain sentence beside the pager's own words, saying what most likely
// happened and what to do next. One table for every face (the console's
// lines and summary, the bench window's tiles), so a failure reads the same
// wherever it is shown. The update window keeps its boxes as they are.
#pragma once

#include <string>
#include <string_view>

#include "engine/Firmware.h"
#include "station/ExitCode.h"

// The next step after an update that ended with `code`; empty for a pager
// that finished.
std::string_view NextStep(ExitCode code);

// A firmware file refused before anything was sent, as people are told it:
// a file that could not be read is "Unable to open the HEX file.", one read
// whole that failed its check is a file with an error, never a file that
// could not be opened; then why, and what to do.
struct FileRefusal {
  std::string headline;
  // "Line 12: checksum mismatch.", "The file cannot be opened: ...".
  std::string reason;
  std::string next_step;
};
FileRefusal RefusalOf(const FirmwareLoad& load);
