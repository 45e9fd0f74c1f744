// The Windows side of tarvex-flash: what closing its console window does
// (Wine delivers no CTRL_CLOSE_EVENT: its console window just ends the
// program, and no program may raise the event itself, so the handler is
// called here as Windows would call it, on a thread of its own), one port
// under its every name, and device names given as a log or a firmware file.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "cli/Platform.h"
#include "common/WideText_win32.h"
#include "engine/Firmware.h"
#include "link/PortList.h"
#include "station/TraceLog.h"
#include "tests/support/HexText.h"

namespace {

// The Windows name of a file the build names by its Linux path under Wine.
std::wstring WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    for (char& c : path) c = c == '/' ? '\\' : c;
    path = "Z:" + path;
  }
  return Wide(path);
}

// Runs tarvex-flash.exe with no console and no standard handles at all, as
// a service or a scheduled task may start it; its exit code.
DWORD RunWithoutStandardHandles(const std::string& arguments) {
  std::wstring command = L"\"" + WindowsPath(TARVEX_FLASH_EXE) + L"\" " + Wide(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      nullptr, &startup, &process)) {
    return GetLastError() | 0x80000000u;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// Nothing to write to is no reason to fail: the program does its work and
// ends with the code that work gives.
TEST(NoStandardHandles, TheProgramStillDoesItsWork) {
  TempDir dir;
  const std::string good =
      dir.Write("fw.hex", HexFileText({HexRecordText(0, 0, Bytes(16)), kEndRecordLine}));
  const std::string bad = dir.Write("bad.hex", "garbage\r\n");
  EXPECT_EQ(RunWithoutStandardHandles("--check \"" + good + "\""), 0u);
  EXPECT_EQ(RunWithoutStandardHandles("--check --json \"" + good + "\""), 0u);
  EXPECT_EQ(RunWithoutStandardHandles("--check \"" + bad + "\""), 3u);
  EXPECT_EQ(RunWithoutStandardHandles("--version"), 0u);
  EXPECT_EQ(RunWithoutStandardHandles("--no-such-option"), 2u);
}

// Closing the window, logging off or shutting down ends the process once
// the handler returns: it must wait until every pager has had its "q".
TEST(ConsoleClose, HoldsTheProcessUntilEveryUpdateHasEnded) {
  static std::atomic<bool> interrupt{false};
  InstallInterruptHandler(interrupt);
  EXPECT_TRUE(OnConsoleEvent(CTRL_C_EVENT));
  EXPECT_TRUE(interrupt.load());
  interrupt = false;

  std::atomic<bool> returned{false};
  std::thread windows([&] {
    EXPECT_TRUE(OnConsoleEvent(CTRL_CLOSE_EVENT));
    returned = true;
  });
  while (!interrupt.load()) std::this_thread::yield();
  // The updates now stop at their next step; until they have, the
  // handler holds.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(returned.load());
  UpdatesEnded();
  windows.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(OnConsoleEvent(CTRL_CLOSE_EVENT + 100));
}

// One port, one name: every spelling Windows opens as COM7 is COM7, and is
// refused as given twice before anything opens.
TEST(OnePortOneName, EverySpellingOfAPortIsThatPort) {
  for (const char* spelling : {"com7", "com07", "COM7:", R"(\\.\COM7)", R"(\\?\COM7)"}) {
    EXPECT_EQ(PortIdentity(spelling), PortIdentity("COM7")) << spelling;
  }
  EXPECT_NE(PortIdentity("COM5"), PortIdentity("COM7"));
  TempDir dir;
  const std::string file =
      dir.Write("fw.hex", HexFileText({HexRecordText(0, 0, Bytes(16)), kEndRecordLine}));
  EXPECT_EQ(RunWithoutStandardHandles("-p COM7 -p COM7: \"" + file + "\""), 2u);
  EXPECT_EQ(RunWithoutStandardHandles("-p COM7 -p \\\\?\\COM7 \"" + file + "\""), 2u);
}

// A name that opens a device, given as the log or as the firmware file: the
// log is refused as what it is, the file as a device, and neither opened.
struct DeviceNameCase {
  const char* name;
  const char* log_reason;
  bool firmware_refused;
};

class DeviceName : public ::testing::TestWithParam<DeviceNameCase> {};

TEST_P(DeviceName, IsNeitherALogNorAFirmwareFile) {
  const DeviceNameCase& c = GetParam();
  TraceLog log(c.name, "fw.hex", "00");
  EXPECT_FALSE(log.CanAppend());
  EXPECT_EQ(log.CannotAppendText(),
            "cannot append to the log " + std::string(c.name) + ": " + c.log_reason + ".");
  if (!c.firmware_refused) return;
  ReadOnlyFile file;
  EXPECT_EQ(LoadFirmwareFile(file, c.name, FileSharing::kSharedRead).reason,
            std::string(c.name) + " is a device, not a firmware file.");
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeviceName,
    ::testing::Values(DeviceNameCase{"CON.hex", "it is the device CON, not a file", true},
                      DeviceNameCase{"NUL.hex", "it is the device NUL, not a file", true},
                      DeviceNameCase{"COM7", "it is the serial port COM7, not a file", true},
                      DeviceNameCase{"COM7:", "it is the serial port COM7, not a file", true},
                      DeviceNameCase{R"(\\.\COM7)", "it is the serial port COM7, not a file", true},
                      DeviceNameCase{R"(\\?\COM7)", "it is the serial port COM7, not a file", true},
                      // COM10 and above name files, but only a port was meant.
                      DeviceNameCase{"com12", "it is the serial port COM12, not a file", false}));

}  // namespace
