#include <windows.h>

#include "common/SystemError.h"
#include "common/WideText_win32.h"

namespace {

// The system's text for `code` in the user's language, whole: it is
// allocated to its own length, so a long text is not cut.
std::wstring SystemMessage(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return {};
  std::wstring message(text, length);
  LocalFree(text);
  return message;
}

}  // namespace

std::string SystemErrorText(unsigned long code) {
  std::string result = Utf8(SystemMessage(code));
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' ||
                             result.back() == '.' || result.back() == ' ')) {
    result.pop_back();
  }
  if (result.empty()) result = "system error " + std::to_string(code);
  return result;
}
