// tarvex-bench-probe: looks at a running TarvexBench.exe from another
// process of the same Wine desktop and reports what a person would see, one
// "key=value" per line on stdout. The bench's end-to-end script drives the
// program and reads the result off the window with this.
//
//   tarvex-bench-probe main [WAIT_MS]     wait for the bench window
//   tarvex-bench-probe gone [WAIT_MS]     wait until it is gone
//   tarvex-bench-probe state              firmware (and its frame), rate and resends, the
//                                         note under the port list, log, buttons, totals,
//                                         status, and
//                                         per tile: tileN=PORT|STATE|PERCENT|PAGER|LAST|WHY|DETAIL,
//                                         tileN_adapter, tileN_serial
//                                         and tileN_colour=red|green|none of its last outcome
//   tarvex-bench-probe rects              the window's rectangle
//   tarvex-bench-probe box [WAIT_MS]      wait for a message box; caption, text, buttons
//   tarvex-bench-probe press TEXT [WAIT_MS]  wait for a message box and press its button TEXT
//   tarvex-bench-probe press-then-gone TEXT [WAIT_MS]
//                                         press as above, then wait until the bench
//                                         window is gone; gone_ms= how long after the press
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

#include "benchwin/BenchResource.h"
#include "tests/wine/ProbeSupport.h"

namespace {

using probe::Arg;
using probe::BoxContent;
using probe::ClassOf;
using probe::kSendTimeoutMs;
using probe::ReadBox;
using probe::RectText;
using probe::Utf8;
using probe::WaitFor;

constexpr wchar_t kMainClass[] = L"TBenchMain";
// The window's controls, numbered as the window numbers them.
constexpr int kFirmwareGroup = IDC_FW_GROUP;
constexpr int kFirmwareName = IDC_FW_NAME;
constexpr int kFirmwareFigures = IDC_FW_FIGURES;
constexpr int kFirmwareSha = IDC_FW_SHA;
constexpr int kSetup = IDC_SETUP_TEXT;
constexpr int kPortsNote = IDC_PORTS_NOTE;
constexpr int kLog = IDC_LOG;
constexpr int kStart = IDC_START;
constexpr int kStop = IDC_STOP;
constexpr int kTotals[] = {IDC_FINISHED, IDC_FAILED, IDC_YIELD, IDC_PER_HOUR};
constexpr const char* kTotalNames[] = {"finished", "failed", "yield", "per_hour"};
constexpr int kStatus = IDC_STATUS;
constexpr int kTileBase = IDC_TILE_BASE;
constexpr int kTileStride = IDC_TILE_STRIDE;
enum TilePart {
  kGroup = IDC_TILE_GROUP,
  kAdapter = IDC_TILE_ADAPTER,
  kState = IDC_TILE_STATE,
  kProgress = IDC_TILE_PROGRESS,
  kPager = IDC_TILE_PAGER,
  kLast = IDC_TILE_LAST,
  kDetail = IDC_TILE_DETAIL,
  kWhy = IDC_TILE_WHY,
  kSerial = IDC_TILE_SERIAL
};

HWND MainWindow() { return FindWindowW(kMainClass, nullptr); }

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

// The text as the bench window's process gives it, on one line.
std::string TextOf(HWND window) { return Escaped(probe::TextOf(window)); }

// The colour a text is drawn in, as a person would name it: red or green
// when enough of its pixels are clearly so.
const char* ColourOf(HWND window) {
  int red = 0;
  int green = 0;
  RECT r{};
  GetWindowRect(window, &r);
  for (const DWORD pixel : probe::Capture(r)) {
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
    std::printf("tile%d_serial=%s\n", index, TextOf(part(kSerial)).c_str());
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
  std::printf("firmware_frame=%s\n", TextOf(GetDlgItem(main, kFirmwareGroup)).c_str());
  std::printf("firmware=%s\n", TextOf(GetDlgItem(main, kFirmwareName)).c_str());
  std::printf("figures=%s\n", TextOf(GetDlgItem(main, kFirmwareFigures)).c_str());
  std::printf("sha=%s\n", TextOf(GetDlgItem(main, kFirmwareSha)).c_str());
  std::printf("setup=%s\n", TextOf(GetDlgItem(main, kSetup)).c_str());
  std::printf("ports_note=%s\n", TextOf(GetDlgItem(main, kPortsNote)).c_str());
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

// A message box of any window of the desktop: the bench's boxes, and the
// one a bad command line shows before there is a window.
HWND OpenBox() { return probe::FindDialog(nullptr, true); }

void PrintBox(HWND box) {
  const BoxContent content = ReadBox(box);
  std::printf("caption=%s\n", Escaped(content.caption).c_str());
  std::printf("text=%s\n", Escaped(content.text).c_str());
  std::string buttons;
  for (const auto& button : content.buttons) {
    if (!buttons.empty()) buttons += ',';
    buttons += Escaped(button.first);
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
    const bool closed = probe::Click(box, button, wait_ms);
    std::printf("pressed=%s\n", closed ? "yes" : "box stayed");
    return closed ? 0 : 1;
  }
  std::printf("pressed=no such button\n");
  return 1;
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
    // Visible, not just created: the window fills its controls before it shows.
    HWND main = WaitFor(Arg(argc, argv, 2, 0), [] {
      HWND found = MainWindow();
      return found != nullptr && IsWindowVisible(found) ? found : nullptr;
    });
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
  } else if (command == "press-then-gone" && argc > 2) {
    result = Press(argv[2], Arg(argc, argv, 3, 0));
    const DWORD pressed = GetTickCount();
    if (result == 0) {
      const bool gone = WaitFor(Arg(argc, argv, 3, 0), [] { return MainWindow() == nullptr; });
      std::printf("main=%s\ngone_ms=%lu\n", gone ? "gone" : "open",
                  static_cast<unsigned long>(GetTickCount() - pressed));
      result = gone ? 0 : 1;
    }
  } else {
    std::fprintf(stderr, "tarvex-bench-probe: unknown command %s\n", command.c_str());
  }
  std::fflush(stdout);
  return result;
}
