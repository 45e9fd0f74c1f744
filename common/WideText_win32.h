// The UTF-8/UTF-16 conversions of Utf16.h in the wchar_t form the Win32 "W"
// calls take: for the Windows files only, where wchar_t is UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "common/Utf16.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wchar_t is a UTF-16 unit");

inline std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf16FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

inline std::string Utf8(std::wstring_view wide) {
  return Utf8FromUtf16(std::u16string(wide.begin(), wide.end()));
}
