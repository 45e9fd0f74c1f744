#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "common/WideText_win32.h"
#include "station/RecordIdentity.h"

namespace record_identity_detail {

std::string SystemRandom(std::array<std::uint8_t, 16>& bytes) {
  // The system's preferred generator, with no algorithm handle to keep.
  const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status >= 0) return "";
  return "the system gave no random bytes for its record id (BCryptGenRandom failed, status " +
         std::to_string(static_cast<unsigned long>(status)) + ")";
}

std::string HostName() {
  DWORD size = 0;
  // The first call tells the size the name needs, its terminating zero
  // included.
  (void)GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  if (size == 0) return "";
  std::vector<wchar_t> name(size);
  if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) return "";
  return Utf8(std::wstring_view(name.data(), size));
}

}  // namespace record_identity_detail
