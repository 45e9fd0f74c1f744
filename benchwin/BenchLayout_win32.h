// What the bench window's drawing files share: its layout at 96 dpi, its
// colours, and its fonts. Each file draws one part of the window
// (BenchWindow_win32.cpp the frame and its boxes, BenchPorts_win32.cpp the
// port list, BenchTiles_win32.cpp the tiles and totals,
// BenchMenus_win32.cpp the menus and commands).
#pragma once

#include <algorithm>
#include <cstddef>

#include "benchwin/BenchResource.h"
#include "benchwin/BenchWindow_win32.h"

namespace bench_layout {

inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr COLORREF kGood = RGB(0, 128, 0);
inline constexpr COLORREF kBad = RGB(200, 0, 0);

// The layout at 96 dpi.
inline constexpr int kClientWidth = 768;
inline constexpr int kTilesTop = 278;
inline constexpr int kTileColumns = 3;
inline constexpr int kTileWidth = 245;
inline constexpr int kTileHeight = 204;
inline constexpr int kTileGap = 8;
inline constexpr int kMargin = 8;
inline constexpr int kTotalsHeight = 24;
inline constexpr int kStatusHeight = 18;

inline constexpr DWORD kLabel = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
inline constexpr DWORD kWrapped = SS_LEFT | SS_NOPREFIX;

inline RECT Bounds(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

inline int TileRows(std::size_t tiles) {
  return std::max(1, static_cast<int>((tiles + kTileColumns - 1) / kTileColumns));
}

inline int TotalsTop(std::size_t tiles) {
  return kTilesTop + TileRows(tiles) * (kTileHeight + kTileGap);
}

inline int ClientHeight(std::size_t tiles) {
  return TotalsTop(tiles) + kTotalsHeight + kStatusHeight + 2 * kMargin;
}

}  // namespace bench_layout

// The window's fonts: the system's message font, a bold one, and a larger
// bold one for what is read from a step away (states, totals).
struct BenchWindow::Fonts {
  explicit Fonts(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    LOGFONTW font{};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
      font = metrics.lfMessageFont;
    } else {
      font.lfHeight = -MulDiv(8, dpi, 72);
      wcscpy(font.lfFaceName, L"Tahoma");
    }
    normal = CreateFontIndirectW(&font);
    font.lfWeight = FW_BOLD;
    bold = CreateFontIndirectW(&font);
    font.lfHeight = font.lfHeight * 3 / 2;
    big = CreateFontIndirectW(&font);
  }
  ~Fonts() {
    for (HFONT font : {normal, bold, big}) {
      if (font != nullptr) DeleteObject(font);
    }
  }
  Fonts(const Fonts&) = delete;
  Fonts& operator=(const Fonts&) = delete;

  HFONT normal = nullptr;
  HFONT bold = nullptr;
  HFONT big = nullptr;
};
