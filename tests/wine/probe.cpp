// tarvex-probe: looks at a running TarvexUpd.exe from another process of the
// same Wine desktop and reports what a person would see, one "key=value" per
// line on stdout. The end-to-end script drives the program with key strokes
// and uses this to read the result off the window itself.
//
//   tarvex-probe main [WAIT_MS]        wait for the main window; its handle
//   tarvex-probe gone [WAIT_MS]        wait until the main window is gone
//   tarvex-probe state                 progress, percentage, file name and the part
//                                      of it shown, button
//   tarvex-probe rects                 window and progress bar rectangles
//   tarvex-probe box [WAIT_MS]         wait for a message box; caption, text, buttons, rect
//   tarvex-probe nobox [WAIT_MS]       wait until no message box is open
//   tarvex-probe ok [WAIT_MS]          wait for a message box and press its OK button
//   tarvex-probe watch WAIT_MS         sample the progress until a box opens
//   tarvex-probe dialog [WAIT_MS]      wait for the file-open dialog; its caption
//   tarvex-probe popup ROWS [WAIT_MS]  which of the first ROWS items of the open popup
//                                      menu carry a mark, and which items after them
//   tarvex-probe focus                 class and id of the window with the keyboard focus
//   tarvex-probe codepages             the ANSI and OEM code pages of the system
//   tarvex-probe clipboard             puts the UTF-8 text of stdin on the clipboard
//
// Texts are read from the windows as UTF-16 and printed in UTF-8, so a name
// the ANSI code page lacks is printed as the window holds it.
// Exit code 0 when the thing waited for was seen, 1 when not, 2 on bad use.
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wine/ProbeSupport.h"

namespace {

using probe::Arg;
using probe::BoxContent;
using probe::Capture;
using probe::ClassOf;
using probe::kPollMs;
using probe::kSendTimeoutMs;
using probe::ReadBox;
using probe::RectText;
using probe::TextOf;
using probe::Utf8;
using probe::WaitFor;

constexpr char kMainClass[] = "TFmMain";
constexpr char kMainCaption[] = "Tarvex Flasher";
constexpr char kPopupMenuClass[] = "#32768";
constexpr int kIdFileName = 301;
constexpr int kIdUpdate = 302;
constexpr int kIdProgress = 303;
constexpr int kIdPercent = 304;

HWND MainWindow() { return FindWindowA(kMainClass, kMainCaption); }

// Line breaks and backslashes escaped, so each value stays on one line.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

// A visible dialog of the program: with a main window, one it owns.
HWND FindOpenDialog(bool message_box) { return probe::FindDialog(MainWindow(), message_box); }

void PrintBox(HWND box) {
  const BoxContent content = ReadBox(box);
  std::printf("caption=%s\n", Escaped(content.caption).c_str());
  std::printf("text=%s\n", Escaped(content.text).c_str());
  std::string buttons;
  for (const auto& button : content.buttons) {
    buttons += (buttons.empty() ? "" : ",") + button.first;
  }
  std::printf("buttons=%s\n", buttons.c_str());
  std::printf("rect=%s\n", RectText(box).c_str());
}

int ProgressPosition(HWND main) {
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutA(GetDlgItem(main, kIdProgress), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &position)) {
    return -1;
  }
  return static_cast<int>(position);
}

int Main(HWND main) {
  if (main == nullptr) return 1;
  std::printf("main=%p\n", static_cast<void*>(main));
  return 0;
}

// Which characters of an edit box's text it shows, "FIRST-LAST/LENGTH": the
// characters under its left and right edges (LENGTH past the end).
std::string ShownSpan(HWND edit) {
  RECT client{};
  GetClientRect(edit, &client);
  const int middle = client.bottom / 2;
  auto char_at = [&](int x) {
    DWORD_PTR found = 0;
    SendMessageTimeoutW(edit, EM_CHARFROMPOS, 0, MAKELPARAM(x, middle), SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &found);
    return static_cast<int>(LOWORD(found));
  };
  DWORD_PTR length = 0;
  SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
  return std::to_string(char_at(1)) + "-" + std::to_string(char_at(client.right - 2)) + "/" +
         std::to_string(length);
}

int State() {
  HWND main = MainWindow();
  if (main == nullptr) {
    std::printf("main=none\n");
    return 1;
  }
  std::printf("progress=%d\n", ProgressPosition(main));
  std::printf("percent=%s\n", Escaped(TextOf(GetDlgItem(main, kIdPercent))).c_str());
  std::printf("file=%s\n", Escaped(TextOf(GetDlgItem(main, kIdFileName))).c_str());
  std::printf("file_shown=%s\n", ShownSpan(GetDlgItem(main, kIdFileName)).c_str());
  std::printf("button=%s\n", IsWindowEnabled(GetDlgItem(main, kIdUpdate)) ? "enabled" : "disabled");
  HWND box = FindOpenDialog(true);
  std::printf("box=%s\n", box == nullptr ? "none" : Escaped(ReadBox(box).text).c_str());
  return 0;
}

int Rects() {
  HWND main = MainWindow();
  if (main == nullptr) return 1;
  std::printf("window=%s\n", RectText(main).c_str());
  std::printf("progressbar=%s\n", RectText(GetDlgItem(main, kIdProgress)).c_str());
  return 0;
}

int Box(DWORD wait_ms) {
  HWND box = WaitFor(wait_ms, [] { return FindOpenDialog(true); });
  if (box == nullptr) {
    std::printf("box=none\n");
    return 1;
  }
  PrintBox(box);
  return 0;
}

// Presses OK as a click would: the button tells its dialog, which closes.
int PressOk(DWORD wait_ms) {
  HWND box = WaitFor(wait_ms, [] { return FindOpenDialog(true); });
  if (box == nullptr) {
    std::printf("box=none\n");
    return 1;
  }
  PrintBox(box);
  for (const auto& [text, button] : ReadBox(box).buttons) {
    if (GetDlgCtrlID(button) != IDOK) continue;
    const bool closed = probe::Click(box, button, wait_ms);
    std::printf("ok=%s\n", closed ? "pressed" : "box stayed");
    return closed ? 0 : 1;
  }
  std::printf("ok=missing\n");
  return 1;
}

// Samples the progress bar and the percentage until a message box opens (or
// the time is up), printing each new pair as "sample=POSITION PERCENT".
int Watch(DWORD wait_ms) {
  const DWORD start = GetTickCount();
  std::string last;
  int samples = 0;
  while (GetTickCount() - start < wait_ms) {
    HWND main = MainWindow();
    if (main == nullptr) break;
    const std::string now =
        std::to_string(ProgressPosition(main)) + " " + TextOf(GetDlgItem(main, kIdPercent));
    if (now != last) {
      std::printf("sample=%s\n", now.c_str());
      std::fflush(stdout);
      last = now;
      ++samples;
    }
    if (HWND box = FindOpenDialog(true)) {
      PrintBox(box);
      return 0;
    }
    Sleep(kPollMs);
  }
  std::printf("box=none\n");
  return 1;
}

DWORD Rgb(int sys_color) {
  const COLORREF c = GetSysColor(sys_color);
  return (static_cast<DWORD>(GetRValue(c)) << 16) | (static_cast<DWORD>(GetGValue(c)) << 8) |
         GetBValue(c);
}

HWND TopPopupMenu() {
  // Submenus open above their parents, so the first one in z-order is the
  // one opened last.
  HWND popup = nullptr;
  while ((popup = FindWindowExA(nullptr, popup, kPopupMenuClass, nullptr)) != nullptr) {
    if (IsWindowVisible(popup)) return popup;
  }
  return nullptr;
}

// The pixel rows [top, bottom) of each item of a popup menu: runs of lines
// that hold menu text or a highlight right of the check column. A separator
// (grey and white lines) holds neither, so it splits two runs without being
// one.
std::vector<std::pair<int, int>> ItemBands(const std::vector<COLORREF>& pixels, int width,
                                           int height, int text_left, DWORD text,
                                           const DWORD (&highlights)[2]) {
  std::vector<std::pair<int, int>> bands;
  bool inside = false;
  for (int y = 0; y < height; ++y) {
    const COLORREF* line = &pixels[static_cast<std::size_t>(y) * width];
    bool content = false;
    for (int x = text_left; x < width && !content; ++x) {
      content = line[x] == text || line[x] == highlights[0] || line[x] == highlights[1];
    }
    if (content && !inside) bands.push_back({y, y + 1});
    if (content) bands.back().second = y + 1;
    inside = content;
  }
  // An access key's underline sits a line or so below its text: a thin run
  // is part of the item above it.
  std::vector<std::pair<int, int>> items;
  for (const auto& band : bands) {
    if (!items.empty() && band.second - band.first <= 2 && band.first - items.back().second <= 2) {
      items.back().second = band.second;
    } else {
      items.push_back(band);
    }
  }
  return items;
}

// Reads the radio marks of the open popup menu, whose first ROWS items are
// read: a row is marked when its check column holds the menu's text colour
// (or, on the highlighted row, the highlighted text colour). Items are found
// from the picture, so a separator and further items below the ROWS (the
// listed Comm Port items) are told apart; their marks are reported as
// "listed", counted from the first item after the ROWS. A menu whose items
// cannot be told apart is read as ROWS items of equal height. Menus of
// another process cannot be asked directly under Wine, so the marks are read
// off the screen.
int Popup(int rows, DWORD wait_ms) {
  HWND popup = WaitFor(wait_ms, [] { return TopPopupMenu(); });
  if (popup == nullptr || rows <= 0) {
    std::printf("popup=none\n");
    return 1;
  }
  // Let it finish drawing.
  Sleep(300);
  RECT client{};
  GetClientRect(popup, &client);
  POINT origin{0, 0};
  ClientToScreen(popup, &origin);
  OffsetRect(&client, origin.x, origin.y);
  const std::vector<COLORREF> pixels = Capture(client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  const int check_width = std::min(width, GetSystemMetrics(SM_CXMENUCHECK) + 2);
  if (pixels.empty()) {
    std::printf("popup=unreadable\n");
    return 1;
  }
  const DWORD text = Rgb(COLOR_MENUTEXT);
  const DWORD background = Rgb(COLOR_MENU);
  const DWORD highlighted_text = Rgb(COLOR_HIGHLIGHTTEXT);
  const DWORD highlights[] = {Rgb(COLOR_HIGHLIGHT), Rgb(COLOR_MENUHILIGHT)};
  auto is_highlight = [&](DWORD pixel) { return pixel == highlights[0] || pixel == highlights[1]; };
  const auto bands = ItemBands(pixels, width, height, check_width, text, highlights);
  const bool found_items = static_cast<int>(bands.size()) >= rows;
  const int items = found_items ? static_cast<int>(bands.size()) : rows;
  // The item a line belongs to: split half-way between two found items.
  auto item_of = [&](int y) {
    if (!found_items) return std::min(rows - 1, y * rows / height);
    int item = 0;
    while (item + 1 < items && y >= (bands[item].second + bands[item + 1].first) / 2) ++item;
    return item;
  };
  std::vector<int> marked(items, 0);
  for (int y = 0; y < height; ++y) {
    const int row = item_of(y);
    const COLORREF* line = &pixels[static_cast<std::size_t>(y) * width];
    // On the highlighted row the mark has the highlighted text colour, which
    // may be the menu's background colour too: there it counts only with
    // highlight on both sides of it.
    int first_highlight = check_width;
    int last_highlight = -1;
    for (int x = 0; x < check_width; ++x) {
      if (!is_highlight(line[x])) continue;
      first_highlight = std::min(first_highlight, x);
      last_highlight = x;
    }
    for (int x = 0; x < check_width; ++x) {
      const DWORD pixel = line[x];
      if (pixel == text && pixel != background) {
        ++marked[row];
      } else if (pixel == highlighted_text && x > first_highlight && x < last_highlight) {
        ++marked[row];
      }
    }
  }
  auto marked_rows = [&](int from, int to) {
    std::string list;
    for (int row = from; row < to; ++row) {
      if (marked[row] == 0) continue;
      if (!list.empty()) list += ',';
      list += std::to_string(row - from + 1);
    }
    return list.empty() ? std::string("none") : list;
  };
  std::string counts;
  for (int row = 0; row < items; ++row) {
    if (row > 0) counts += ',';
    counts += std::to_string(marked[row]);
  }
  std::printf("popup=%s\n", RectText(popup).c_str());
  std::printf("items=%d\n", found_items ? items : 0);
  std::printf("markpixels=%s\n", counts.c_str());
  std::printf("checked=%s\n", marked_rows(0, rows).c_str());
  std::printf("listed=%s\n", marked_rows(rows, items).c_str());
  return 0;
}

// The clipboard as a person fills it before pasting: key strokes of letters
// the keyboard lacks are not reliable under Wine, a paste is.
int SetClipboardText() {
  std::string utf8;
  for (int c; (c = std::getchar()) != EOF;) utf8 += static_cast<char>(c);
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (static_cast<std::size_t>(length) + 1) * 2);
  auto* text = static_cast<wchar_t*>(GlobalLock(memory));
  if (text == nullptr) return 1;
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text, length);
  text[length] = L'\0';
  GlobalUnlock(memory);
  // An owner window, as the clipboard takes no data from an owner of none.
  HWND owner =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  const bool set = OpenClipboard(owner) && EmptyClipboard() &&
                   SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  if (!set) GlobalFree(memory);
  std::printf("clipboard=%s\n", set ? "set" : "refused");
  return set ? 0 : 1;
}

int Focus() {
  HWND main = MainWindow();
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = main != nullptr ? GetWindowThreadProcessId(main, nullptr) : 0;
  if (!GetGUIThreadInfo(thread, &info) || info.hwndFocus == nullptr) {
    std::printf("focus=none\n");
    return 1;
  }
  std::printf("focus=%s %d\n", ClassOf(info.hwndFocus).c_str(), GetDlgCtrlID(info.hwndFocus));
  HWND foreground = GetForegroundWindow();
  std::printf("foreground=%s %s\n", ClassOf(foreground).c_str(),
              Escaped(TextOf(foreground)).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarvex-probe COMMAND [ARGS]\n");
    return 2;
  }
  const std::string command = argv[1];
  int result = 2;
  if (command == "main") {
    result = Main(WaitFor(Arg(argc, argv, 2, 0), [] { return MainWindow(); }));
  } else if (command == "gone") {
    const bool gone = WaitFor(Arg(argc, argv, 2, 0), [] { return MainWindow() == nullptr; });
    std::printf("main=%s\n", gone ? "gone" : "open");
    result = gone ? 0 : 1;
  } else if (command == "state") {
    result = State();
  } else if (command == "rects") {
    result = Rects();
  } else if (command == "box") {
    result = Box(Arg(argc, argv, 2, 0));
  } else if (command == "nobox") {
    const bool none =
        WaitFor(Arg(argc, argv, 2, 0), [] { return FindOpenDialog(true) == nullptr; });
    std::printf("box=%s\n", none ? "none" : "open");
    result = none ? 0 : 1;
  } else if (command == "ok") {
    result = PressOk(Arg(argc, argv, 2, 0));
  } else if (command == "watch") {
    result = Watch(Arg(argc, argv, 2, 10000));
  } else if (command == "dialog") {
    HWND dialog = WaitFor(Arg(argc, argv, 2, 0), [] { return FindOpenDialog(false); });
    std::printf("dialog=%s\n", dialog == nullptr ? "none" : Escaped(TextOf(dialog)).c_str());
    result = dialog == nullptr ? 1 : 0;
  } else if (command == "popup") {
    result = Popup(static_cast<int>(Arg(argc, argv, 2, 0)), Arg(argc, argv, 3, 0));
  } else if (command == "focus") {
    result = Focus();
  } else if (command == "clipboard") {
    result = SetClipboardText();
  } else if (command == "codepages") {
    std::printf("acp=%u\noemcp=%u\n", GetACP(), GetOEMCP());
    result = 0;
  } else {
    std::fprintf(stderr, "tarvex-probe: unknown command %s\n", command.c_str());
  }
  std::fflush(stdout);
  return result;
}
