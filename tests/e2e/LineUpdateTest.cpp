// Complete updates over a real serial line: the POSIX channel on one side of
// a pseudo-terminal, the pager emulator as a child process on the other.
// These run in real time.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/e2e/PagerProcess.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"

namespace {

using Texts = std::vector<std::string>;
using SteadyClock = std::chrono::steady_clock;

const char kFinished[] = "Firmware updated finished.";
const char kNoResponse[] = "No response from the pager, flash now terminated.";

// Firmware spread over two 64 KiB pages through a linear address record and
// a segment address record, with a short record at the end.
std::vector<std::string> FirmwareRecords() {
  std::vector<std::string> records = {HexRecordText(0, 4, {0x00, 0x01})};
  for (std::uint16_t offset = 0; offset < 0x60; offset += 16) {
    records.push_back(HexRecordText(offset, 0, Bytes(16, static_cast<std::uint8_t>(offset))));
  }
  records.push_back(HexRecordText(0, 2, {0x30, 0x00}));  // base 0x30000
  records.push_back(HexRecordText(0x0100, 0, Bytes(16, 0xC0)));
  records.push_back(HexRecordText(0x0110, 0, Bytes(5, 0xE0)));
  records.push_back(kEndRecordLine);
  return records;
}

class LineUpdate : public ::testing::Test {
 protected:
  LineUpdate() : pager(dir.path().string()) {}

  // Runs one update against an emulator started with `options`, then stops
  // the emulator so its log and image can be read.
  void Update(const std::vector<std::string>& options,
              const std::vector<std::string>& records = FirmwareRecords()) {
    hex_text = HexFileText(records);
    UpdateFile(options, dir.Write("fw.hex", hex_text));
  }

  void UpdateFile(const std::vector<std::string>& options, const std::string& path) {
    comm.DevicePath = pager.Start(options);
    ASSERT_FALSE(comm.DevicePath.empty()) << "the pager emulator did not start";
    const auto start = SteadyClock::now();
    UpdateFlow flow({comm, settings, gui, SystemTickSource()});
    flow.Run(path);
    seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    EXPECT_FALSE(comm.IsOpened());
    EXPECT_FALSE(flow.HexFile.IsOpen());
    EXPECT_TRUE(pager.Stop());
  }

  // The commands a clean transfer of `records` puts on the line.
  static Texts TransferCommands(const std::vector<std::string>& records) {
    Texts commands;
    for (const std::string& record : records) {
      if (record == kEndRecordLine) break;
      commands.push_back("s " + record);
      commands.push_back("p");
    }
    return commands;
  }

  TempDir dir;
  RecordingGui gui;
  TDComm comm{gui};
  FixedUpdateSettings settings{4800, 3};
  PagerProcess pager;
  std::string hex_text;
  double seconds = 0;
};

TEST_F(LineUpdate, NormalUpdateLandsTheImageAtTheNewRate) {
  Update({});
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  Texts expected = {"f", "b4800B8", "e0"};
  const Texts transfer = TransferCommands(FirmwareRecords());
  expected.insert(expected.end(), transfer.begin(), transfer.end());
  expected.push_back("q");
  EXPECT_EQ(pager.Commands(), expected);
  EXPECT_EQ(pager.Events("RATE"), (Texts{"4800", "1200"}));  // back to 1200 after "q"
  EXPECT_EQ(pager.Events("ERR"), Texts{});                   // no rate mismatch, nothing unexpected
  EXPECT_EQ(pager.ProgrammedImage(), ImageOfHex(hex_text));
  EXPECT_EQ(pager.ProgrammedImage().count(0x30114), 1u);
}

TEST_F(LineUpdate, ReplyAfter700MsIsAccepted) {
  const std::vector<std::string> records = {HexRecordText(0, 0, Bytes(16)), kEndRecordLine};
  Update({"--delay", "700"}, records);
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  EXPECT_EQ(pager.ProgrammedImage(), ImageOfHex(hex_text));
}

TEST_F(LineUpdate, ReplyAfter1600MsIsTooLate) {
  Update({"--delay", "1600"});
  EXPECT_EQ(gui.Texts(), Texts{kNoResponse});
  const Texts commands = pager.Commands();
  EXPECT_EQ(commands, Texts{"f"});
}

TEST_F(LineUpdate, RecordRejectedThreeTimesIsAcceptedAtTheFourth) {
  Update({"--nak-send", "2:3"});
  const char* resend = "Fail to send code-package.";
  EXPECT_EQ(gui.Texts(), (Texts{resend, resend, resend, kFinished}));
  EXPECT_EQ(pager.ProgrammedImage(), ImageOfHex(hex_text));
}

TEST_F(LineUpdate, RecordRejectedFourTimesEndsTheUpdateWithExit) {
  Update({"--nak-send", "2:4"});
  const char* resend = "Fail to send code-package.";
  EXPECT_EQ(gui.Texts(),
            (Texts{resend, resend, resend,
                   "Pager can not receive package correctly after retry, flash now terminated."}));
  EXPECT_EQ(pager.Commands().back(), "q");
}

TEST_F(LineUpdate, RejectedProgramRestartsFromTheEraseAndStillLands) {
  Update({"--nak-program", "2"});
  const char* retry = "Error on programming code, now try resend and reprogram.";
  EXPECT_EQ(gui.Texts(), (Texts{retry, retry, kFinished}));
  const Texts commands = pager.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "e0"), 3);
  EXPECT_EQ(pager.ProgrammedImage(), ImageOfHex(hex_text));
}

// The user holds a menu open for two seconds while the pager's ACK comes in:
// the reply waits in the driver and is still taken.
TEST_F(LineUpdate, ReplyThatCameDuringALongPumpIsTaken) {
  bool blocked = false;
  gui.on_pump = [&] {
    if (!std::exchange(blocked, true)) std::this_thread::sleep_for(std::chrono::seconds(2));
  };
  Update({"--hold-reply", "1:700"});
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  EXPECT_EQ(pager.ProgrammedImage(), ImageOfHex(hex_text));
}

// A build writes the next firmware into the file while it is being flashed,
// with an end record early on: the pager still gets exactly the file that
// was checked, whole.
TEST_F(LineUpdate, FileRewrittenDuringTheUpdateIsFlashedAsChecked) {
  std::vector<std::string> next = {HexRecordText(0, 0, Bytes(16, 0x55)), kEndRecordLine};
  next.resize(FirmwareRecords().size(), HexRecordText(0x7000, 0, Bytes(16, 0xAA)));
  int pumps = 0;
  gui.on_pump = [&] {
    if (++pumps != 3) return;
    std::ofstream out(dir.PathOf("fw.hex"), std::ios::binary | std::ios::in);
    out << HexFileText(next);
  };
  Update({});
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  Texts sent = pager.Commands();
  sent.erase(sent.begin(), sent.begin() + 3);  // f, rate, e0
  sent.pop_back();                             // q
  EXPECT_EQ(sent, TransferCommands(FirmwareRecords()));
  EXPECT_EQ(pager.ProgrammedImage(), ImageOfHex(hex_text));
}

// Two records write the same bytes: the pager would AND them together. The
// file is refused before a single command.
TEST_F(LineUpdate, OverlappingRecordsAreRefusedBeforeAnyCommand) {
  std::vector<std::string> records = FirmwareRecords();
  records.insert(records.end() - 1, HexRecordText(0x0112, 0, Bytes(4)));
  Update({}, records);
  EXPECT_EQ(gui.Texts(), Texts{"Unable to open the HEX file.\nLine 11: overlaps line 10."});
  EXPECT_EQ(pager.Commands(), Texts{});
}

// A pipe or a device chosen as the firmware file is refused at once, with
// the reason of its own: nothing waits for a writer while the port is held.
TEST_F(LineUpdate, PipeOrDeviceAsTheFileIsRefusedAtOnce) {
  const std::string fifo = dir.PathOf("fw.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A device is said to be one, as Windows says it of NUL and CON.
  const std::pair<std::string, std::string> refusals[] = {
      {fifo, "The file cannot be opened: not a regular file."},
      {"/dev/null", "/dev/null is a device, not a firmware file."}};
  for (const auto& [path, reason] : refusals) {
    SCOPED_TRACE(path);
    gui.boxes.clear();
    UpdateFile({}, path);
    EXPECT_EQ(gui.Texts(), Texts{"Unable to open the HEX file.\n" + reason});
    EXPECT_EQ(pager.Commands(), Texts{});
  }
}

// The line hangs up as when the adapter is pulled out: the port counts as
// lost, and the box says so with the system's words.
TEST_F(LineUpdate, HangUpInTheMiddleEndsCleanly) {
  Update({"--hangup-after", "3"});
  EXPECT_EQ(gui.Texts(),
            Texts{std::string(kNoResponse) + "\nThe port was lost: Input/output error (error 5)."});
  const Texts commands = pager.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "q"), 0);
  EXPECT_FALSE(comm.IsOpened());
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
