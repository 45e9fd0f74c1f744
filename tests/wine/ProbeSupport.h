// What the probes of the two window programs share: reading another
// process's windows of the same Wine desktop, waiting for one, and taking
// the screen's pixels.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace probe {

constexpr UINT kSendTimeoutMs = 3000;
constexpr DWORD kPollMs = 40;

inline std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

inline std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  const int length = GetClassNameW(window, name, 64);
  return Utf8(name, length);
}

// The text as the window's own process gives it (an edit box keeps its text
// to itself, so GetWindowText from outside would not do).
inline std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length)) {
    return "<no answer>";
  }
  // Room to spare: the text may grow between the two questions.
  std::vector<wchar_t> text(std::max<std::size_t>(length + 1, 256), L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied)) {
    return "<no answer>";
  }
  return Utf8(text.data(), static_cast<int>(copied));
}

// Asks `found` every kPollMs until it gives something, for up to `wait_ms`.
template <typename Found>
auto WaitFor(DWORD wait_ms, Found found) -> decltype(found()) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (auto result = found()) return result;
    if (GetTickCount() - start >= wait_ms) return decltype(found()){};
    Sleep(kPollMs);
  }
}

// Screen pixels of a rectangle as 0x00RRGGBB values, row by row.
inline std::vector<COLORREF> Capture(const RECT& r) {
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  std::vector<COLORREF> pixels;
  if (width <= 0 || height <= 0) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const auto* words = static_cast<const DWORD*>(bits);
  pixels.assign(words, words + static_cast<std::size_t>(width) * height);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  for (COLORREF& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

}  // namespace probe
