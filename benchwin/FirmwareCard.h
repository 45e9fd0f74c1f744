// What the bench window shows of the firmware chosen, before anything is
// flashed, so a supervisor can check it is the approved file: its name,
// records, data bytes, flash ranges and SHA-256 (short in the window, whole
// in the details box); or why it was refused. Pure but for the digest.
#pragma once

#include <string>

#include "engine/Firmware.h"
#include "station/FirmwareSummary.h"

struct FirmwareCard {
  // The path as chosen; empty before anything is.
  std::string path;
  // The file's name without its folders.
  std::string name;
  // Sound and read: the bench may flash it.
  bool loaded = false;
  HexSummary summary;
  std::string sha256;
  // What was wrong and why, on two lines: "The HEX file has an error." and
  // "Line 12: checksum mismatch.", or "Unable to open the HEX file." and
  // why it could not be read.
  std::string refusal;
  // Under a job: "job line3: 2 of 3 left, until 2026-12-31 (UTC)", or
  // "job refused"; empty without one.
  std::string job;
  // What to do about it.
  std::string next_step;
};

// The card of `path` as `load` read it; the digest is taken of the file's
// bytes as read, as the log names them.
FirmwareCard DescribeFirmware(const std::string& path, const FirmwareLoad& load);

// The window's three lines of the card.
struct FirmwareLines {
  // The file's name, or how to choose one.
  std::string name;
  // "164 records, 2600 data bytes, 00010000-00010A27", or why the file was
  // refused, on one line.
  std::string figures;
  // The digest cut short: "SHA-256 3f2a9c1e04b7d2aa…".
  std::string sha;
  bool refused = false;
  // The job's line, as the card has it.
  std::string job = "";
  friend bool operator==(const FirmwareLines&, const FirmwareLines&) = default;
};
FirmwareLines LinesOf(const FirmwareCard& card);
// The details box: the whole path, every range with its size, the whole
// digest.
std::string FirmwareDetails(const FirmwareCard& card);

// The part of a path after its last folder separator (either kind).
std::string FileNameOf(const std::string& path);
