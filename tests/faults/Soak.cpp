// Many updates in one process, as a user flashing pager after pager without
// closing the program: one channel for the whole run and one update object
// per Update command, against the pager emulator on a pseudo-terminal. Most
// updates go through; every tenth meets rejected packages, and some meet a
// missing or broken file or a line that cannot be opened. Afterwards every
// descriptor this program opened is closed again; run it under valgrind
// (tools/fuzz/run-valgrind.sh) to see that no memory is lost either.
//
//   tarvex_soak [UPDATES]      default 100
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/faults/FaultRun.h"

namespace {

const std::vector<std::string> kFirmware = {
    HexRecordText(0, 4, {0x00, 0x01}), HexRecordText(0x0000, 0, Bytes(16, 0x00)),
    HexRecordText(0x0010, 0, Bytes(16, 0x10)), HexRecordText(0x0020, 0, Bytes(7, 0x20)),
    kEndRecordLine};

enum class Kind { kClean, kRejections, kMissingFile, kBrokenFile, kNoLine };

Kind KindOf(int update) {
  switch (update % 10) {
    case 3:
      return Kind::kRejections;
    case 5:
      return update % 20 == 5 ? Kind::kMissingFile : Kind::kBrokenFile;
    case 8:
      return Kind::kNoLine;
    default:
      return Kind::kClean;
  }
}

struct Tally {
  int updates = 0;
  int finished = 0;
  int ended_by_a_fault = 0;
  std::set<int> failed_updates;
  bool final_check_failed = false;

  void Fail(int update, const std::string& what) {
    failed_updates.insert(update);
    std::fprintf(stderr, "update %d: %s\n", update, what.c_str());
  }
  void FailAtEnd(const std::string& what) {
    final_check_failed = true;
    std::fprintf(stderr, "after the updates: %s\n", what.c_str());
  }
  bool Failed() const { return final_check_failed || !failed_updates.empty(); }
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

void CheckBoxes(Tally& tally, int update, Kind kind, const std::vector<ShownBox>& boxes) {
  if (boxes.empty()) return tally.Fail(update, "no box was shown");
  const std::string& last = boxes.back().text;
  const std::set<std::string> rejection_endings = {kFinished.text, kResendExceeded.text,
                                                   kRewindExceeded.text};
  bool expected = false;
  switch (kind) {
    case Kind::kClean:
      expected = boxes.size() == 1 && last == kFinished.text;
      break;
    case Kind::kRejections:
      expected = rejection_endings.count(last) == 1;
      break;
    case Kind::kMissingFile:
    case Kind::kBrokenFile:
      expected = boxes.size() == 1 && StartsWith(last, "Unable to open the HEX file.");
      break;
    case Kind::kNoLine:
      expected = boxes.size() == 1 && StartsWith(last, "Can NOT Open");
      break;
  }
  if (!expected) tally.Fail(update, "unexpected last box: " + last);
  if (last == kFinished.text) {
    ++tally.finished;
  } else {
    ++tally.ended_by_a_fault;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int updates = argc > 1 ? std::atoi(argv[1]) : 100;
  if (updates <= 0) {
    std::fprintf(stderr, "usage: %s [UPDATES]\n", argv[0]);
    return 2;
  }
  Tally tally;
  const int descriptors_at_start = OpenDescriptorCount();
  {
    TempDir dir;
    const std::string firmware = dir.Write("fw.hex", HexFileText(kFirmware));
    const std::string broken = dir.Write("broken.hex", HexFileText({kFirmware[1]}));
    std::filesystem::create_directory(dir.path() / "clean");
    std::filesystem::create_directory(dir.path() / "rejecting");
    PagerProcess clean_pager((dir.path() / "clean").string());
    PagerProcess rejecting_pager((dir.path() / "rejecting").string());
    const std::string clean_line = clean_pager.Start({});
    const std::string rejecting_line =
        rejecting_pager.Start({"--random-nak", "0.2", "--seed", "5"});
    if (clean_line.empty() || rejecting_line.empty()) {
      std::fprintf(stderr, "the pager emulator did not start\n");
      return 1;
    }
    const int descriptors_with_pagers = OpenDescriptorCount();

    RecordingGui gui;
    TDComm comm(gui);
    const FixedUpdateSettings settings(9600, 3);
    int clean_updates = 0;
    for (int update = 0; update < updates; ++update) {
      const Kind kind = KindOf(update);
      comm.DevicePath = kind == Kind::kRejections ? rejecting_line
                        : kind == Kind::kNoLine   ? (dir.path() / "no-such-line").string()
                                                  : clean_line;
      const std::string file = kind == Kind::kMissingFile  ? dir.PathOf("missing.hex")
                               : kind == Kind::kBrokenFile ? broken
                                                           : firmware;
      clean_updates += kind == Kind::kClean ? 1 : 0;
      gui.boxes.clear();
      {
        UpdateFlow flow({comm, settings, gui, SystemTickSource()});
        flow.Run(file);
        if (flow.HexFile.IsOpen()) tally.Fail(update, "the HEX file was left open");
      }
      ++tally.updates;
      CheckBoxes(tally, update, kind, gui.boxes);
      if (comm.IsOpened()) tally.Fail(update, "the port was left open");
      if (!NobodyHolds(firmware)) tally.Fail(update, "the HEX file is still held");
      if (OpenDescriptorCount() != descriptors_with_pagers) {
        tally.Fail(update, "descriptors: " + std::to_string(descriptors_with_pagers) + " before, " +
                               std::to_string(OpenDescriptorCount()) + " after");
      }
    }

    if (!clean_pager.Stop() || !rejecting_pager.Stop()) tally.FailAtEnd("a pager failed");
    if (clean_updates > 0 && clean_pager.ProgrammedImage() != ImageOfHex(HexFileText(kFirmware))) {
      tally.FailAtEnd("the pager's image is not the firmware");
    }
    if (!clean_pager.Events("ERR").empty()) {
      tally.FailAtEnd("the pager saw a fault: " + clean_pager.Events("ERR").front());
    }
  }
  const int descriptors_at_end = OpenDescriptorCount();
  if (descriptors_at_end != descriptors_at_start) {
    tally.FailAtEnd("descriptors: " + std::to_string(descriptors_at_start) + " at start, " +
                    std::to_string(descriptors_at_end) + " at the end");
  }
  // Every failure box is one the soak asked for (rejected packages, a missing
  // or broken file, a line that cannot be opened); any other fails the run.
  std::printf(
      "soak: %d updates, %d finished, %d ended with the failure box of the fault put in on "
      "purpose; descriptors %d at start, %d at the end\n",
      tally.updates, tally.finished, tally.ended_by_a_fault, descriptors_at_start,
      descriptors_at_end);
  const int failed = static_cast<int>(tally.failed_updates.size());
  std::printf("%d passed, %d failed\n", tally.updates - failed, failed);
  return tally.Failed() ? 1 : 0;
}
