// tarvex-bench-probe: looks at a running TarvexBench.exe from another
// process of the same Wine desktop and reports what a person would see, one
// "key=value" per line on stdout. The bench's end-to-end script drives the
// program and reads the result off the window with this.
//
//   tarvex-bench-probe main [WAIT_MS]     wait for the bench window
//   tarvex-bench-probe gone [WAIT_MS]     wait until it is gone
//   tarvex-bench-probe state              firmware, log, buttons, totals, status, and
//                                         per tile: tileN=PORT|STATE|PERCENT|PAGER|LAST|WHY|DETAIL
//                                         and tileN_colour=red|green|none of its last outcome
//   tarvex-bench-probe rects              the window's rectangle
//   tarvex-bench-probe box [WAIT_MS]      wait for a message box; caption, text, buttons
//   tarvex-bench-probe press TEXT [WAIT_MS]  wait for a message box and press its button TEXT
//
// Texts are read as UTF-16 and printed in UTF-8, line breaks as "\n".
// Exit code 0 when the thing waited for was seen, 1 when not, 2 on bad use.
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"TBenchMain";
constexpr UINT kSendTimeoutMs = 3000;
constexpr DWORD kPollMs = 40;
// As benchwin/BenchResource.h numbers them.
constexpr int kFirmwareName = 301;
constexpr int kFirmwareFigures = 302;
constexpr int kFirmwareSha = 303;
constexpr int kLog = 320;
constexpr int kStart = 321;
constexpr int kStop = 322;
constexpr int kTotals[] = {330, 331, 332, 333};
constexpr const char* kTotalNames[] = {"finished", "failed", "yield", "per_hour"};
constexpr int kStatus = 334;
constexpr int kTileBase = 1000;
constexpr int kTileStride = 10;
enum TilePart { kGroup = 0, kAdapter, kState, kProgress, kPager, kLast, kDetail, kWhy };

HWND MainWindow() { return FindWindowW(kMainClass, nullptr); }

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

std::string TextOf(HWND window) {
  std::vector<wchar_t> text(4096, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied)) {
    return "<no answer>";
  }
  return Escaped(Utf8(text.data(), static_cast<int>(copied)));
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return Utf8(name, static_cast<int>(wcslen(name)));
}

std::string RectText(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  char text[64];
  std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left,
                r.bottom - r.top);
  return text;
}

template <typename Found>
auto WaitFor(DWORD wait_ms, Found found) -> decltype(found()) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (auto result = found()) return result;
    if (GetTickCount() - start >= wait_ms) return decltype(found()){};
    Sleep(kPollMs);
  }
}

// Screen pixels of a window as 0x00RRGGBB values.
std::vector<DWORD> Capture(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  std::vector<DWORD> pixels;
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
  return pixels;
}

// The colour a text is drawn in, as a person would name it: red or green
// when enough of its pixels are clearly so.
const char* ColourOf(HWND window) {
  int red = 0;
  int green = 0;
  for (const DWORD pixel : Capture(window)) {
    const int r = (pixel >> 16) & 0xFF;
    const int g = (pixel >> 8) & 0xFF;
    const int b = pixel & 0xFF;
    if (r > 150 && g < 90 && b < 90) ++red;
    if (g > 90 && r < 60 && b < 60) ++green;
  }
  constexpr int kEnough = 5;
  if (red >= kEnough && red > green) return "red";
  if (green >= kEnough) return "green";
  return "none";
}

int ProgressOf(HWND bar) {
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &position)) {
    return -1;
  }
  return static_cast<int>(position);
}

void PrintTiles(HWND main) {
  for (int index = 0;; ++index) {
    auto part = [&](int which) {
      return GetDlgItem(main, kTileBase + index * kTileStride + which);
    };
    if (part(kGroup) == nullptr) break;
    std::printf("tile%d=%s|%s|%d|%s|%s|%s|%s\n", index, TextOf(part(kGroup)).c_str(),
                TextOf(part(kState)).c_str(), ProgressOf(part(kProgress)),
                TextOf(part(kPager)).c_str(), TextOf(part(kLast)).c_str(),
                TextOf(part(kWhy)).c_str(), TextOf(part(kDetail)).c_str());
    std::printf("tile%d_adapter=%s\n", index, TextOf(part(kAdapter)).c_str());
    std::printf("tile%d_colour=%s\n", index, ColourOf(part(kLast)));
  }
}

int State() {
  HWND main = MainWindow();
  if (main == nullptr) {
    std::printf("main=none\n");
    return 1;
  }
  std::printf("caption=%s\n", TextOf(main).c_str());
  std::printf("firmware=%s\n", TextOf(GetDlgItem(main, kFirmwareName)).c_str());
  std::printf("figures=%s\n", TextOf(GetDlgItem(main, kFirmwareFigures)).c_str());
  std::printf("sha=%s\n", TextOf(GetDlgItem(main, kFirmwareSha)).c_str());
  std::printf("log=%s\n", TextOf(GetDlgItem(main, kLog)).c_str());
  std::printf("start=%s\n", IsWindowEnabled(GetDlgItem(main, kStart)) ? "enabled" : "disabled");
  std::printf("stop=%s\n", IsWindowEnabled(GetDlgItem(main, kStop)) ? "enabled" : "disabled");
  for (int i = 0; i < 4; ++i) {
    std::printf("%s=%s\n", kTotalNames[i], TextOf(GetDlgItem(main, kTotals[i])).c_str());
  }
  std::printf("status=%s\n", TextOf(GetDlgItem(main, kStatus)).c_str());
  PrintTiles(main);
  return 0;
}

struct BoxSearch {
  HWND found;
};

// A message box: a dialog with buttons and static text, and no edit box.
BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
  if (FindWindowExW(window, nullptr, L"Button", nullptr) == nullptr ||
      FindWindowExW(window, nullptr, L"Edit", nullptr) != nullptr) {
    return TRUE;
  }
  reinterpret_cast<BoxSearch*>(param)->found = window;
  return FALSE;
}

HWND OpenBox() {
  BoxSearch search{nullptr};
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct BoxContent {
  std::string text;
  std::vector<std::pair<std::string, HWND>> buttons;
};

BOOL CALLBACK CollectBoxChild(HWND child, LPARAM param) {
  auto* box = reinterpret_cast<BoxContent*>(param);
  const std::string cls = ClassOf(child);
  if (cls == "Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
    const std::string text = TextOf(child);
    if (!text.empty()) box->text += box->text.empty() ? text : "\\n" + text;
  } else if (cls == "Button" && IsWindowVisible(child)) {
    box->buttons.emplace_back(TextOf(child), child);
  }
  return TRUE;
}

BoxContent ReadBox(HWND box) {
  BoxContent content;
  EnumChildWindows(box, CollectBoxChild, reinterpret_cast<LPARAM>(&content));
  return content;
}

void PrintBox(HWND box) {
  const BoxContent content = ReadBox(box);
  std::printf("caption=%s\n", TextOf(box).c_str());
  std::printf("text=%s\n", content.text.c_str());
  std::string buttons;
  for (const auto& button : content.buttons) {
    buttons += (buttons.empty() ? "" : ",") + button.first;
  }
  std::printf("buttons=%s\n", buttons.c_str());
}

int Box(DWORD wait_ms) {
  HWND box = WaitFor(wait_ms, [] { return OpenBox(); });
  if (box == nullptr) {
    std::printf("box=none\n");
    return 1;
  }
  PrintBox(box);
  return 0;
}

// Presses a button of the open box as a click would, by its text with the
// access key's "&" left out ("Yes", "No", "OK").
int Press(const std::string& wanted, DWORD wait_ms) {
  HWND box = WaitFor(wait_ms, [] { return OpenBox(); });
  if (box == nullptr) {
    std::printf("box=none\n");
    return 1;
  }
  PrintBox(box);
  for (const auto& [text, button] : ReadBox(box).buttons) {
    std::string plain = text;
    plain.erase(std::remove(plain.begin(), plain.end(), '&'), plain.end());
    if (plain != wanted) continue;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    const bool closed = WaitFor(wait_ms, [box] { return !IsWindow(box) || !IsWindowVisible(box); });
    std::printf("pressed=%s\n", closed ? "yes" : "box stayed");
    return closed ? 0 : 1;
  }
  std::printf("pressed=no such button\n");
  return 1;
}

DWORD Arg(int argc, char** argv, int index, DWORD fallback) {
  return argc > index ? static_cast<DWORD>(std::strtoul(argv[index], nullptr, 10)) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarvex-bench-probe COMMAND [ARGS]\n");
    return 2;
  }
  const std::string command = argv[1];
  int result = 2;
  if (command == "main") {
    HWND main = WaitFor(Arg(argc, argv, 2, 0), [] { return MainWindow(); });
    std::printf("main=%s\n", main == nullptr ? "none" : "open");
    result = main == nullptr ? 1 : 0;
  } else if (command == "gone") {
    const bool gone = WaitFor(Arg(argc, argv, 2, 0), [] { return MainWindow() == nullptr; });
    std::printf("main=%s\n", gone ? "gone" : "open");
    result = gone ? 0 : 1;
  } else if (command == "state") {
    result = State();
  } else if (command == "rects") {
    HWND main = MainWindow();
    if (main != nullptr) std::printf("window=%s\n", RectText(main).c_str());
    result = main == nullptr ? 1 : 0;
  } else if (command == "box") {
    result = Box(Arg(argc, argv, 2, 0));
  } else if (command == "press" && argc > 2) {
    result = Press(argv[2], Arg(argc, argv, 3, 0));
  } else {
    std::fprintf(stderr, "tarvex-bench-probe: unknown command %s\n", command.c_str());
  }
  std::fflush(stdout);
  return result;
}
