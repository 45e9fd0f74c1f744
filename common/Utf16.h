// Text between the program and the system's wide calls: inside, text is
// UTF-8 in std::string; the Win32 "W" functions take and give UTF-16. Pure,
// so the rules hold and are tested on every platform; WideText_win32.h gives
// the wchar_t forms the Win32 files use.
#pragma once

#include <string>
#include <string_view>

// UTF-8 to UTF-16. Bytes that are not UTF-8 (a stray or missing continuation
// byte, an overlong form, an encoded surrogate, a value above U+10FFFF)
// become U+FFFD, one for each longest run that could have begun a character,
// so nothing after them is lost.
std::u16string Utf16FromUtf8(std::string_view utf8);

// The character that starts at `at` in `utf8`, moving `at` past it. False
// when the bytes there are not UTF-8; `at` is then past the longest part
// that could have begun a character (at least one byte).
bool NextUtf8Character(std::string_view utf8, std::size_t& at, char32_t& character);

// UTF-16 to UTF-8. A surrogate without its partner, which a file name on
// Windows may hold, becomes U+FFFD; the text around it is kept whole.
std::string Utf8FromUtf16(std::u16string_view utf16);
