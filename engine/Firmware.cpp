#include "engine/Firmware.h"

#include "common/VisibleText.h"
#include "engine/HexRecord.h"

namespace {

bool BareLfAt(std::string_view bytes, std::size_t at) {
  return bytes[at] == '\n' && (at == 0 || bytes[at - 1] != '\r');
}

// The bytes with a CR put before every LF that lacks one; empty when none
// does. A file that passed the check holds no CR but before an LF.
std::string WithCrLf(std::string_view bytes) {
  std::size_t bare = 0;
  for (std::size_t at = 0; at < bytes.size(); ++at) bare += BareLfAt(bytes, at) ? 1 : 0;
  if (bare == 0) return {};
  std::string out;
  out.reserve(bytes.size() + bare);
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    if (BareLfAt(bytes, at)) out.push_back('\r');
    out.push_back(bytes[at]);
  }
  return out;
}

}  // namespace

std::shared_ptr<const CheckedFirmware> CheckedFirmware::Check(std::string bytes,
                                                              std::string& reason) {
  HexFileChecker checker;
  checker.Feed(bytes);
  if (!checker.Finish()) {
    reason = checker.ErrorText();
    return nullptr;
  }
  std::shared_ptr<CheckedFirmware> firmware(new CheckedFirmware());
  firmware->sent_ = WithCrLf(bytes);
  firmware->file_ = std::move(bytes);
  firmware->records_ = checker.Records();
  firmware->record_chars_ = checker.RecordChars();
  firmware->data_bytes_ = checker.DataBytes();
  firmware->ranges_ = checker.WrittenRanges();
  return firmware;
}

namespace {

void ReadAndCheck(ReadOnlyFile& file, FirmwareLoad& load) {
  std::int64_t size = 0;
  if (!file.Size(size)) {
    load.reason = "The file size cannot be read.";
    return;
  }
  if (size > kMaxHexFileBytes) {
    load.reason = kHexFileTooLargeText;
    return;
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (file.Read(bytes.data(), bytes.size()) != bytes.size()) {
    load.reason = "The file cannot be read.";
    return;
  }
  load.read = true;
  load.firmware = CheckedFirmware::Check(std::move(bytes), load.reason);
}

}  // namespace

FirmwareLoad LoadFirmwareFile(ReadOnlyFile& file, const std::string& name, FileSharing sharing) {
  FirmwareLoad load;
  std::string error;
  if (!file.Open(name, sharing, error)) {
    // The name goes into a box and onto a terminal: shown as text.
    load.reason = error == kDeviceNotFileText
                      ? VisibleText(name) + " is a device, not a firmware file."
                      : "The file cannot be opened: " + error + ".";
    return load;
  }
  // Checked whole before any command goes out, so a bad file can never
  // leave a pager erased and half-written.
  ReadAndCheck(file, load);
  if (!load.firmware) file.Close();
  return load;
}
