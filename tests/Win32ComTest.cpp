// The Win32 backend on a COM port: under Wine, COM1 is a pseudo-terminal with
// the pager emulator on its far side (see tools/wine/pager-on-com.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "engine/Hexproc.h"
#include "link/AdapterTuning.h"
#include "link/Dcommthread.h"
#include "link/PortList.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

std::uint8_t Exchange(TDComm& comm, const std::string& command) {
  EXPECT_TRUE(comm.WriteBuffer(reinterpret_cast<const std::uint8_t*>(command.data()),
                               static_cast<int>(command.size())));
  std::uint8_t reply = 0;
  for (int read = 0; read < 3; ++read) {
    if (comm.ReadByte(&reply)) return reply;
  }
  return 0;
}

TEST(Win32Com, TalksToThePagerAndReopensAtTheNewRate) {
  RecordingGui gui;
  TDComm comm{gui};
  ASSERT_TRUE(comm.OpenPort()) << "COM1 is not mapped to the pager emulator";
  EXPECT_TRUE(comm.Purge());
  EXPECT_EQ(Exchange(comm, "f"), 0x06);
  EXPECT_EQ(Exchange(comm, "b96006A"), 0x06);
  ASSERT_TRUE(comm.ClosePort());
  comm.BaudRate = 9600;
  ASSERT_TRUE(comm.OpenPort());
  EXPECT_EQ(Exchange(comm, "e0"), 0x06);
  EXPECT_EQ(Exchange(comm, "p"), 0x15);  // nothing received to program
  EXPECT_EQ(Exchange(comm, "q"), 0x06);
  // Nothing more comes: the read gives up after its time limit.
  std::uint8_t byte = 0;
  const auto start = SteadyClock::now();
  EXPECT_FALSE(comm.ReadByte(&byte));
  EXPECT_GE(
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count(),
      400);
  EXPECT_TRUE(gui.boxes.empty());
}

TEST(Win32Com, MissingPortShowsTheBox) {
  RecordingGui gui;
  TDComm comm{gui};
  comm.Port = -1;
  EXPECT_FALSE(comm.OpenPort());
  EXPECT_EQ(gui.Texts(),
            std::vector<std::string>{"Can NOT Open \"COM0\"\nThe port does not exist."});
}

TEST(Win32Com, CompleteUpdate) {
  RecordingGui gui;
  TDComm comm{gui};
  const FixedUpdateSettings settings(4800, 3);
  TempDir dir;
  std::vector<std::string> records = {HexRecordText(0, 4, {0x00, 0x01})};
  for (std::uint16_t address = 0; address < 0x80; address += 16) {
    records.push_back(HexRecordText(address, 0, Bytes(16, static_cast<std::uint8_t>(address))));
  }
  records.push_back(kEndRecordLine);
  UpdateFlow flow({comm, settings, gui, SystemTickSource()});
  flow.Run(dir.Write("fw.hex", HexFileText(records)));
  EXPECT_EQ(gui.Texts(), std::vector<std::string>{"Firmware updated finished."});
  EXPECT_FALSE(comm.IsOpened());
}

// Under Wine SERIALCOMM holds the ports the test prefix maps
// (tools/wine/setup-prefix.sh), COM1 and COM2 among them, and SetupAPI the
// adapters it describes, COM5 an FTDI one.
TEST(Win32Ports, ListsTheMappedPortsInNumberOrderWithTheirAdapters) {
  const std::vector<PortInfo> ports = ListSerialPorts();
  std::vector<int> numbers;
  for (const PortInfo& port : ports) {
    EXPECT_EQ(port.Number, ComNumberOf(port.Name)) << port.Name;
    numbers.push_back(port.Number);
  }
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
  for (const int mapped : {1, 2}) {
    EXPECT_NE(std::find(numbers.begin(), numbers.end(), mapped), numbers.end()) << "COM" << mapped;
  }
  const auto adapter = std::find_if(ports.begin(), ports.end(),
                                    [](const PortInfo& port) { return port.Number == 5; });
  ASSERT_NE(adapter, ports.end());
  EXPECT_EQ(adapter->Description, "USB Serial Port");
  EXPECT_EQ(adapter->Manufacturer, "FTDI");
  EXPECT_EQ(adapter->VidPid + " " + adapter->Serial, "0403:6001 FT5KQ2R7A");
}

// FTDI's driver keeps an adapter's latency timer with the COM name it gave
// the port, below its bus key in the registry. Made here for COM1 as the
// driver makes it, set to 1 ms as --tune-adapters sets it, and taken away
// again.
TEST(Win32Ports, ReadsAndSetsAnFtdiAdaptersLatencyTimerByItsComName) {
  HKEY bus = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0, nullptr,
                      0, KEY_ALL_ACCESS, nullptr, &bus, nullptr) != ERROR_SUCCESS) {
    GTEST_SKIP() << "no write access to the FTDI bus key";
  }
  const wchar_t adapter[] = L"VID_0403+PID_6001+A600ARJHA";
  const std::wstring parameters = std::wstring(adapter) + L"\\0000\\Device Parameters";
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(bus, parameters.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  const wchar_t port[] = L"COM1";
  const DWORD timer = 16;
  RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof port);
  RegSetValueExW(key, L"LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timer),
                 sizeof timer);
  RegCloseKey(key);
  EXPECT_EQ(AdapterLatencyTimerMs(R"(\\.\COM1)"), 16);
  EXPECT_EQ(AdapterLatencyTimerMs("COM2"), -1);
  EXPECT_EQ(ListSerialPorts().at(0).LatencyTimerMs, 16);  // COM1 comes first
  const std::unique_ptr<IFtdiRegistry> registry = SystemFtdiRegistry();
  EXPECT_EQ(registry->SetLatencyTimer("VID_0403+PID_6001+A600ARJHA", 1).result,
            RegistryWrite::Result::kWritten);
  EXPECT_EQ(AdapterLatencyTimerMs("COM1"), 1);
  // An adapter the driver has no settings for is no refusal: no
  // administrator would change that.
  const RegistryWrite gone = registry->SetLatencyTimer("VID_0403+PID_6001+GONE0001A", 1);
  EXPECT_EQ(gone.result, RegistryWrite::Result::kFailed);
  EXPECT_FALSE(gone.reason.empty());
  EXPECT_EQ(RegDeleteTreeW(bus, adapter), ERROR_SUCCESS);
  RegCloseKey(bus);
  // The bus key too, when nothing else is below it.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS");
}

}  // namespace
