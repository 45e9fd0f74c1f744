// The port list on Windows. SetupAPI knows the devices of the ports class
// and those offering the COM-port interface, with their friendly names,
// makers and instance IDs; HKLM\HARDWARE\DEVICEMAP\SERIALCOMM lists every COM
// name a driver has claimed, including ports of drivers that register with
// no device class (and, under Wine, it is the only source). Both are read and
// merged by name.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <map>

#include "common/WideText_win32.h"
#include "link/AdapterTuning.h"
#include "link/PortList.h"

namespace {

// GUID_DEVCLASS_PORTS and GUID_DEVINTERFACE_COMPORT, written out here: their
// headers belong to the driver kit.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

constexpr std::size_t kFirstBufferChars = 256;
constexpr std::size_t kMaxValueNameChars = 16383;
constexpr int kReadAttempts = 4;

// A string that `query` writes into a buffer of the size in bytes it is
// given, and that reports ERROR_MORE_DATA with the size it needs when the
// buffer is too small: read again into one that large rather than skipped.
// A value may lack its closing NUL, so room for one is always kept.
template <typename Query>
std::string ReadGrowing(Query query) {
  std::wstring buffer(kFirstBufferChars, L'\0');
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    auto bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    const LONG result = query(reinterpret_cast<BYTE*>(buffer.data()), bytes);
    if (result == ERROR_SUCCESS) {
      buffer.resize(bytes / sizeof(wchar_t));
      return Utf8(buffer.c_str());  // up to the first NUL
    }
    if (result != ERROR_MORE_DATA) return {};
    buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
  }
  return {};
}

// A REG_SZ value of an open key; empty when it is missing or not a string.
std::string RegistryString(HKEY key, const wchar_t* value) {
  return ReadGrowing([&](BYTE* data, DWORD& bytes) -> LONG {
    DWORD type = 0;
    const LONG result = RegQueryValueExW(key, value, nullptr, &type, data, &bytes);
    return result == ERROR_SUCCESS && type != REG_SZ ? ERROR_INVALID_DATA : result;
  });
}

std::string DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  return ReadGrowing([&](BYTE* data, DWORD& bytes) -> LONG {
    DWORD type = 0;
    DWORD needed = 0;
    if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type, data, bytes,
                                          &needed)) {
      bytes = needed;
      return type == REG_SZ ? ERROR_SUCCESS : ERROR_INVALID_DATA;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return static_cast<LONG>(error);
    bytes = needed;
    return ERROR_MORE_DATA;
  });
}

// The COM name the port's driver was given, from the device's own key.
std::string PortNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
  const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  std::string name = RegistryString(key, L"PortName");
  RegCloseKey(key);
  return name;
}

std::string InstanceIdOf(DEVINST instance) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
  return Utf8(id);
}

// VID:PID and serial number. An FTDI port sits on FTDI's bus below the USB
// device, whose own ID carries the serial number as printed on the adapter
// (the bus adds a channel letter), so the parent's is taken when it has one.
void AddUsbIdentity(PortInfo& port, const SP_DEVINFO_DATA& device) {
  UsbIdentity usb;
  if (!ParseInstanceId(InstanceIdOf(device.DevInst), usb)) return;
  port.VidPid = usb.Vid + ":" + usb.Pid;
  port.Serial = usb.Serial;
  DEVINST parent = 0;
  UsbIdentity above;
  if (CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS &&
      ParseInstanceId(InstanceIdOf(parent), above) && above.Vid == usb.Vid &&
      above.Pid == usb.Pid && !above.Serial.empty()) {
    port.Serial = above.Serial;
  }
}

PortInfo DescribeDevice(HDEVINFO devices, SP_DEVINFO_DATA& device, const std::string& name) {
  PortInfo port;
  port.Name = name;
  port.Number = ComNumberOf(name);
  std::string friendly = DeviceProperty(devices, device, SPDRP_FRIENDLYNAME);
  if (friendly.empty()) friendly = DeviceProperty(devices, device, SPDRP_DEVICEDESC);
  port.Description = DescriptionFromFriendlyName(friendly, name);
  port.Manufacturer = DeviceProperty(devices, device, SPDRP_MFG);
  port.Driver = DeviceProperty(devices, device, SPDRP_SERVICE);
  AddUsbIdentity(port, device);
  return port;
}

// Every present device of a class (or with an interface), when `flags` has
// DIGCF_DEVICEINTERFACE), that has a COM name.
void AddSetupApiPorts(const GUID& guid, DWORD flags, std::vector<PortInfo>& ports) {
  const HDEVINFO devices = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | flags);
  if (devices == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    const std::string name = PortNameOf(devices, device);
    // The ports class holds printer ports too; only COM names are ours.
    if (ComNumberOf(name) == 0) continue;
    MergePort(ports, DescribeDevice(devices, device, name));
  }
  SetupDiDestroyDeviceInfoList(devices);
}

// SERIALCOMM: value names are kernel device names ("\Device\Serial0"),
// values the COM names.
void AddSerialCommPorts(std::vector<PortInfo>& ports) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0;; ++index) {
    bool no_more = false;
    const std::string name = ReadGrowing([&](BYTE* data, DWORD& bytes) -> LONG {
      // Value names are at most this long; only the data may need more room.
      std::wstring device(kMaxValueNameChars + 1, L'\0');
      auto device_length = static_cast<DWORD>(device.size());
      DWORD type = 0;
      const LONG result =
          RegEnumValueW(key, index, device.data(), &device_length, nullptr, &type, data, &bytes);
      no_more = result == ERROR_NO_MORE_ITEMS;
      return result == ERROR_SUCCESS && type != REG_SZ ? ERROR_INVALID_DATA : result;
    });
    if (no_more) break;
    PortInfo port;
    port.Name = name;
    port.Number = ComNumberOf(port.Name);
    if (port.Number != 0) MergePort(ports, port);
  }
  RegCloseKey(key);
}

// The latency timer of each FTDI port the driver has settings for, by COM
// number; all of it is readable without elevation.
std::map<int, int> FtdiLatencyTimers() {
  std::map<int, int> timers;
  for (const FtdiAdapterKey& key : SystemFtdiRegistry()->Adapters()) {
    const int number = ComNumberOf(key.port_name);
    if (number > 0 && key.latency_timer_ms >= 0) timers[number] = key.latency_timer_ms;
  }
  return timers;
}

}  // namespace

std::vector<PortInfo> ListSerialPorts() {
  std::vector<PortInfo> ports;
  AddSetupApiPorts(kPortsClass, 0, ports);
  AddSetupApiPorts(kComPortInterface, DIGCF_DEVICEINTERFACE, ports);
  AddSerialCommPorts(ports);
  const std::map<int, int> timers = FtdiLatencyTimers();
  for (PortInfo& port : ports) {
    const auto timer = timers.find(port.Number);
    if (timer != timers.end()) port.LatencyTimerMs = timer->second;
  }
  SortPorts(ports);
  return ports;
}

int AdapterLatencyTimerMs(const std::string& port) {
  const std::map<int, int> timers = FtdiLatencyTimers();
  const auto timer = timers.find(ComNumberOf(port));
  return timer != timers.end() ? timer->second : -1;
}

namespace {

// The device a DOS name leads to, by the system's own table: the first of
// its targets, the one in use ("\\Device\\Serial6", or "\\??\\COM7" for an
// alias); empty when it has none.
std::string DosDeviceTarget(const std::string& dos_name) {
  const std::wstring name = Wide(dos_name);
  return LookUpGrowing([&](std::size_t chars) -> BufferedLookup {
    std::wstring target(chars, L'\0');
    if (QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(chars)) != 0) {
      return {BufferedLookup::Status::kDone, Utf8(target.c_str())};
    }
    return {GetLastError() == ERROR_INSUFFICIENT_BUFFER ? BufferedLookup::Status::kTooSmall
                                                        : BufferedLookup::Status::kFailed,
            ""};
  });
}

}  // namespace

std::string PortIdentity(const std::string& port) { return DosPortIdentity(port, DosDeviceTarget); }
