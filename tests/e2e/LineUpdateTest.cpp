// Complete updates over a real serial line: the POSIX channel on one side of
// a pseudo-terminal, the pager emulator as a child process on the other.
// These run in real time.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/e2e/PagerProcess.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"
#include "tests/support/UpdateSettings.h"

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
    const std::string path = dir.Write("fw.hex", hex_text);
    comm.DevicePath = pager.Start(options);
    ASSERT_FALSE(comm.DevicePath.empty()) << "the pager emulator did not start";
    const auto start = SteadyClock::now();
    UpdateFlow flow;
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
  TDComm comm;
  ScopedUpdateSettings settings{comm, 4800, 3};
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

TEST_F(LineUpdate, HangUpInTheMiddleEndsCleanly) {
  Update({"--hangup-after", "3"});
  EXPECT_EQ(gui.Texts(), Texts{kNoResponse});
  const Texts commands = pager.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "q"), 0);
  // A gone line fails every read at once: the wait polls out its 1.3 s limit.
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
