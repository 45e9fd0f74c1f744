// The FTDI driver's settings in the Windows registry: one key per adapter it
// has seen below Enum\FTDIBUS, named by its device ID, each with a
// "0000\Device Parameters" key that holds the COM name the adapter was given
// and its latency timer. Anyone may read them; writing takes an
// administrator.
#include <windows.h>

#include "common/SystemError.h"
#include "common/WideText_win32.h"
#include "link/AdapterTuning.h"

namespace {

constexpr wchar_t kFtdiBus[] = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
constexpr wchar_t kParametersBelowId[] = L"\\0000\\Device Parameters";
constexpr wchar_t kPortName[] = L"PortName";
constexpr wchar_t kLatencyTimer[] = L"LatencyTimer";
// Device IDs are at most this long (MAX_DEVICE_ID_LEN); a COM name fits in
// far less, and a longer value is no COM name.
constexpr DWORD kMaxIdChars = 200;
constexpr DWORD kMaxPortNameChars = 32;

std::wstring ParametersPath(const std::wstring& device_id) {
  return std::wstring(kFtdiBus) + L"\\" + device_id + kParametersBelowId;
}

std::string PortNameIn(HKEY parameters) {
  wchar_t name[kMaxPortNameChars] = {};
  DWORD bytes = sizeof name;
  if (RegGetValueW(parameters, nullptr, kPortName, RRF_RT_REG_SZ, nullptr, name, &bytes) !=
      ERROR_SUCCESS) {
    return {};
  }
  return Utf8(name);
}

// -1 when the key holds no timer, or one of another type.
int LatencyTimerIn(HKEY parameters) {
  DWORD timer = 0;
  DWORD bytes = sizeof timer;
  if (RegGetValueW(parameters, nullptr, kLatencyTimer, RRF_RT_REG_DWORD, nullptr, &timer, &bytes) !=
      ERROR_SUCCESS) {
    return -1;
  }
  return static_cast<int>(timer);
}

class SystemRegistry final : public IFtdiRegistry {
 public:
  std::vector<FtdiAdapterKey> Adapters() override {
    std::vector<FtdiAdapterKey> adapters;
    HKEY bus = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFtdiBus, 0, KEY_READ, &bus) != ERROR_SUCCESS) {
      return adapters;
    }
    for (DWORD index = 0;; ++index) {
      wchar_t id[kMaxIdChars + 1] = {};
      DWORD length = kMaxIdChars;
      const LONG result =
          RegEnumKeyExW(bus, index, id, &length, nullptr, nullptr, nullptr, nullptr);
      if (result == ERROR_NO_MORE_ITEMS) break;
      if (result != ERROR_SUCCESS) continue;
      HKEY parameters = nullptr;
      const std::wstring path = std::wstring(id) + kParametersBelowId;
      if (RegOpenKeyExW(bus, path.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS) continue;
      FtdiAdapterKey key;
      key.device_id = Utf8(id);
      key.port_name = PortNameIn(parameters);
      key.latency_timer_ms = LatencyTimerIn(parameters);
      RegCloseKey(parameters);
      if (!key.port_name.empty()) adapters.push_back(std::move(key));
    }
    RegCloseKey(bus);
    return adapters;
  }

  // Opened for setting a value only, so an administrator's right to the key
  // is all it asks for; the error of the call that failed is the one told.
  RegistryWrite SetLatencyTimer(const std::string& device_id, int timer_ms) override {
    HKEY parameters = nullptr;
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ParametersPath(Wide(device_id)).c_str(), 0,
                               KEY_SET_VALUE, &parameters);
    if (error == ERROR_SUCCESS) {
      const auto timer = static_cast<DWORD>(timer_ms);
      error = RegSetValueExW(parameters, kLatencyTimer, 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&timer), sizeof timer);
      RegCloseKey(parameters);
    }
    if (error == ERROR_SUCCESS) return {};
    return {error == ERROR_ACCESS_DENIED ? RegistryWrite::Result::kDenied
                                         : RegistryWrite::Result::kFailed,
            SystemErrorText(static_cast<unsigned long>(error))};
  }
};

}  // namespace

std::unique_ptr<IFtdiRegistry> SystemFtdiRegistry() { return std::make_unique<SystemRegistry>(); }
