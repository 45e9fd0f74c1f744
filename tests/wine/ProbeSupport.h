// What the probes of the two window programs share: reading another
// process's windows of the same Wine desktop, waiting for one, reading and
// pressing a message box, and taking the screen's pixels.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
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

// A message box is a dialog with buttons and static text but no edit box or
// combo box; the file-open dialog has both.
inline bool IsMessageBox(HWND dialog) {
  const auto has = [dialog](const wchar_t* class_name) {
    return FindWindowExW(dialog, nullptr, class_name, nullptr) != nullptr;
  };
  return has(L"Button") && has(L"Static") && !has(L"Edit") && !has(L"ComboBox") &&
         !has(L"ComboBoxEx32");
}

struct DialogSearch {
  HWND owner;
  bool want_message_box;
  HWND found;
};

inline BOOL CALLBACK FindDialogAmong(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
  if (search->owner != nullptr && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
  if (IsMessageBox(window) != search->want_message_box) return TRUE;
  search->found = window;
  return FALSE;
}

// A visible dialog, a message box or not as asked; given an owner, one it owns.
inline HWND FindDialog(HWND owner, bool message_box) {
  DialogSearch search{owner, message_box, nullptr};
  EnumWindows(FindDialogAmong, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// What a message box shows: its lines of text joined with "\n", and its
// buttons' texts with their windows.
struct BoxContent {
  std::string caption;
  std::string text;
  std::vector<std::pair<std::string, HWND>> buttons;
};

inline BOOL CALLBACK CollectBoxChild(HWND child, LPARAM param) {
  auto* box = reinterpret_cast<BoxContent*>(param);
  const std::string cls = ClassOf(child);
  if (cls == "Static") {
    // The icon is a static control too, with no text.
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return TRUE;
    const std::string text = TextOf(child);
    if (!text.empty()) box->text += box->text.empty() ? text : "\n" + text;
  } else if (cls == "Button" && IsWindowVisible(child)) {
    box->buttons.emplace_back(TextOf(child), child);
  }
  return TRUE;
}

inline BoxContent ReadBox(HWND box) {
  BoxContent content;
  content.caption = TextOf(box);
  EnumChildWindows(box, CollectBoxChild, reinterpret_cast<LPARAM>(&content));
  return content;
}

// Presses a box's button as a click would: the button tells its dialog,
// which closes. True when the box has gone within `wait_ms`.
inline bool Click(HWND box, HWND button, DWORD wait_ms) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  return WaitFor(wait_ms, [box] { return !IsWindow(box) || !IsWindowVisible(box); });
}

// "left,top,width,height" of a window on the screen.
inline std::string RectText(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  char text[64];
  std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left,
                r.bottom - r.top);
  return text;
}

// The command line's number at `index`, or `fallback` when there is none.
inline DWORD Arg(int argc, char** argv, int index, DWORD fallback) {
  return argc > index ? static_cast<DWORD>(std::strtoul(argv[index], nullptr, 10)) : fallback;
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
