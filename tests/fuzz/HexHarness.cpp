// Invariants of the firmware-file path under arbitrary input:
// - the whole-file check gives one verdict however the bytes are chunked,
//   and opening the file gives that same verdict;
// - a refused file is closed again and nothing reaches the line;
// - every record that reaches the line is a whole record: ':' and hex digit
//   pairs, as many as its length byte says plus five, summing to zero;
// - an accepted file is read through to its end record without a read
//   failure, record by record, with progress that never goes back, and the
//   records sent are exactly the file's records before the end record, and
//   nothing but line ends follows that;
// - a complete update of an accepted file against a pager that rejects some
//   packages and program commands sends each rejected record again whole,
//   programs exactly the file's records after its last erase, and finishes.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HexRecord.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/fuzz/FuzzHarness.h"
#include "tests/fuzz/InstantLine.h"
#include "tests/support/RecordingGui.h"
#include "tests/support/VirtualClock.h"

namespace {

constexpr std::uint8_t kAckByte = 0x06;
constexpr std::uint8_t kNakByte = 0x15;
constexpr int kMaxProgramRejects = 2;  // below the three restarts an update allows
constexpr int kMaxRejectsInARow = 2;   // below the three resends allowed here
constexpr std::int32_t kResendsAllowed = 3;
const char kOpenFailText[] = "Unable to open the HEX file.";
const char kFinishedText[] = "Firmware updated finished.";

// FNV-1a over the input: the seed of every choice the harness makes, so an
// input replays exactly.
std::uint64_t Fingerprint(std::string_view bytes) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

class Choices {
 public:
  explicit Choices(std::uint64_t seed) : state_(seed | 1) {}
  std::uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  bool OneIn(unsigned n) { return Next() % n == 0; }

 private:
  std::uint64_t state_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Why `payload`, as it crossed the line behind "s", is not a whole record;
// "" when it is one.
std::string FramingFault(const std::string& payload) {
  if (payload.size() < 11) return "short record on the line: '" + payload + "'";
  if (payload[0] != ':') return "record on the line without its colon: '" + payload + "'";
  if (payload.size() % 2 == 0) return "odd number of digits on the line: '" + payload + "'";
  unsigned sum = 0;
  for (std::size_t at = 1; at < payload.size(); at += 2) {
    const int high = HexDigit(payload[at]);
    const int low = HexDigit(payload[at + 1]);
    if (high < 0 || low < 0) return "non-hex character on the line: '" + payload + "'";
    sum += static_cast<unsigned>(high * 16 + low);
  }
  const std::size_t length =
      static_cast<std::size_t>(HexDigit(payload[1]) * 16 + HexDigit(payload[2]));
  if (payload.size() != 11 + 2 * length) {
    return "record on the line does not match its length byte: '" + payload + "'";
  }
  if (sum % 256 != 0) return "record on the line with a bad checksum: '" + payload + "'";
  return "";
}

struct Verdict {
  bool accepted = false;
  std::string error;
};

Verdict CheckInChunks(std::string_view bytes, Choices& choices, int mode) {
  HexFileChecker checker;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t chunk = bytes.size();
    if (mode == 1) chunk = 1;
    if (mode == 2) chunk = 1 + choices.Next() % 64;
    if (!checker.Feed(bytes.substr(at, chunk))) break;
    at += std::min(chunk, bytes.size() - at);
  }
  const bool accepted = checker.Finish();
  return {accepted, checker.ErrorText()};
}

// The records of an accepted file, colon to checksum, before its end record,
// whatever ends its lines (CR LF or LF); `rest_unsent` is set when anything
// but line ends follows the end record, which the transfer would never send.
std::vector<std::string> RecordsBeforeEnd(std::string_view bytes, bool& rest_unsent) {
  std::vector<std::string> records;
  rest_unsent = false;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) end = bytes.size();
    std::string line(bytes.substr(at, end - at));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    if (line.size() >= 9 && line.compare(7, 2, "01") == 0) {
      for (; at < bytes.size(); ++at) {
        if (bytes[at] != '\r' && bytes[at] != '\n') rest_unsent = true;
      }
      break;
    }
    records.push_back(line);
  }
  return records;
}

std::string WriteScratchFile(std::string_view bytes) {
  const std::string path = FuzzScratchDirectory() + "/input.hex";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// The channel, the settings the update reads, the clock and the GUI of one
// input's update.
class Bench {
 public:
  Bench() { comm.DeviceFactory = line.Factory(); }
  ~Bench() { comm.ClosePort(); }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  VirtualClock clock;
  RecordingGui gui;
  InstantLine line;
  TDComm comm{gui, clock};
  FixedUpdateSettings settings{9600, kResendsAllowed};

  UpdateContext Context() { return {comm, settings, gui, clock}; }
};

std::string ReadRecordByRecord(const std::string& path, bool expect_accepted,
                               std::string_view bytes) {
  Bench bench;
  std::vector<std::string> sent;
  bool record_next = false;
  std::string framing;
  bench.line.on_write = [&](const std::string& written) {
    if (record_next) {
      sent.push_back(written);
      if (framing.empty()) framing = FramingFault(written);
    }
    record_next = written == "s";
  };
  UpdateFlow flow(bench.Context());
  const bool opened = flow.OpenHexFile(path);
  if (opened != expect_accepted) {
    return std::string("opening the file ") + (opened ? "accepted" : "refused") +
           " what the whole-file check " + (expect_accepted ? "accepted" : "refused");
  }
  if (!opened) {
    return flow.HexFile.IsOpen() ? "a refused file was left open" : "";
  }
  if (!bench.comm.OpenPort()) return "the instant line did not open";
  const std::size_t bound = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  int progress = flow.GetProgress();
  for (std::size_t step = 0; step <= bound + 1 && !flow.EndReached; ++step) {
    const ReplyClass reply = flow.SendPackage();
    const int now = flow.GetProgress();
    if (now < progress || now > 100) {
      return "progress went from " + std::to_string(progress) + " to " + std::to_string(now);
    }
    progress = now;
    if (!flow.EndReached && reply != rpAck) {
      return "an accepted file failed to read at record " + std::to_string(step + 1);
    }
  }
  if (!framing.empty()) return framing;
  if (!flow.EndReached) return "the end record was never met";
  bool rest_unsent = false;
  if (sent != RecordsBeforeEnd(bytes, rest_unsent)) {
    return "the records sent are not the file's records";
  }
  if (rest_unsent) return "an accepted file holds data after its end record";
  return "";
}

struct UpdateTrace {
  std::string fault;
  std::vector<std::string> programmed;  // since the last erase
  std::string pending;                  // accepted, not yet programmed
  std::string rejected;                 // the record last rejected, to be sent again
  int rejects_in_a_row = 0;
  int program_rejects = 0;
  int send_rejects = 0;
};

std::string RunWholeUpdate(const std::string& path, bool accepted, std::string_view bytes,
                           Choices& choices) {
  Bench bench;
  UpdateTrace trace;
  bench.line.reply = [&](const std::string& command) -> std::optional<std::uint8_t> {
    if (command == "e0") {
      trace.programmed.clear();
      trace.pending.clear();
    } else if (command.size() > 1 && command[0] == 's') {
      const std::string payload = command.substr(1);
      const std::string fault = FramingFault(payload);
      if (!fault.empty() && trace.fault.empty()) trace.fault = fault;
      if (!trace.rejected.empty() && payload != trace.rejected && trace.fault.empty()) {
        trace.fault = "a rejected record was not sent again whole: '" + trace.rejected +
                      "' then '" + payload + "'";
      }
      trace.rejected.clear();
      if (trace.rejects_in_a_row < kMaxRejectsInARow && choices.OneIn(4)) {
        ++trace.rejects_in_a_row;
        ++trace.send_rejects;
        trace.rejected = payload;
        return kNakByte;
      }
      trace.rejects_in_a_row = 0;
      trace.pending = payload;
    } else if (command == "p") {
      if (trace.program_rejects < kMaxProgramRejects && choices.OneIn(8)) {
        ++trace.program_rejects;
        return kNakByte;
      }
      trace.programmed.push_back(trace.pending);
      trace.pending.clear();
    }
    return kAckByte;
  };
  UpdateFlow flow(bench.Context());
  flow.Run(path);
  if (!trace.fault.empty()) return trace.fault;
  if (bench.comm.IsOpened() || bench.line.open_devices != 0) return "the port was left open";
  if (flow.HexFile.IsOpen()) return "the HEX file was left open";
  const std::vector<std::string> texts = bench.gui.Texts();
  if (!accepted) {
    if (bench.line.commands != 0) return "a refused file put commands on the line";
    if (texts.size() != 1 || texts[0].rfind(kOpenFailText, 0) != 0) {
      return "a refused file did not end with one open-failure box";
    }
    return "";
  }
  const auto count = [&](const char* text) { return std::count(texts.begin(), texts.end(), text); };
  if (texts.empty() || texts.back() != kFinishedText) return "an accepted file did not finish";
  if (count("Fail to send code-package.") != trace.send_rejects ||
      count("Error on programming code, now try resend and reprogram.") != trace.program_rejects ||
      texts.size() != static_cast<std::size_t>(trace.send_rejects + trace.program_rejects + 1)) {
    return "the boxes do not match the rejections";
  }
  bool rest_unsent = false;
  if (trace.programmed != RecordsBeforeEnd(bytes, rest_unsent)) {
    return "the records programmed are not the file's records";
  }
  return "";
}

}  // namespace

std::string CheckHexInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Choices choices(Fingerprint(bytes));

  const Verdict whole = CheckInChunks(bytes, choices, 0);
  for (int mode = 1; mode <= 2; ++mode) {
    const Verdict chunked = CheckInChunks(bytes, choices, mode);
    if (chunked.accepted != whole.accepted || chunked.error != whole.error) {
      return "the file check depends on the chunking: '" + whole.error + "' against '" +
             chunked.error + "'";
    }
  }

  const std::string path = WriteScratchFile(bytes);
  std::string fault = ReadRecordByRecord(path, whole.accepted, bytes);
  if (fault.empty()) fault = RunWholeUpdate(path, whole.accepted, bytes, choices);
  return fault;
}
