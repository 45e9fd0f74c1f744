#include "benchwin/BenchLayout_win32.h"

#include <commctrl.h>

#include "common/WideText_win32.h"

using namespace bench_layout;

namespace {

int TileId(std::size_t index, int part) {
  return IDC_TILE_BASE + static_cast<int>(index) * IDC_TILE_STRIDE + part;
}

}  // namespace

// Where a tile's action (Tune adapters…, Resume) starts, on the line of the
// last outcome.
constexpr int kActionLeft = 150;

void BenchWindow::CreateTile(std::size_t index) {
  const int left = kMargin + static_cast<int>(index % kTileColumns) * (kTileWidth + kTileGap);
  const int top = kTilesTop + static_cast<int>(index / kTileColumns) * (kTileHeight + kTileGap);
  const auto at = [&](int x, int y, int w, int h) { return Bounds(left + x, top + y, w, h); };
  const HFONT normal = fonts_->normal;
  CreateControl(L"BUTTON", "", BS_GROUPBOX, TileId(index, IDC_TILE_GROUP),
                at(0, 0, kTileWidth, kTileHeight), fonts_->bold);
  // The adapter's name on up to two lines, its serial number on a line of
  // its own, so a long name never hides which adapter it is.
  CreateControl(L"STATIC", "", kWrapped | SS_EDITCONTROL, TileId(index, IDC_TILE_ADAPTER),
                at(10, 16, 225, 30), normal);
  CreateControl(L"STATIC", "", kLabel | SS_ENDELLIPSIS, TileId(index, IDC_TILE_SERIAL),
                at(10, 46, 140, 16), normal);
  CreateControl(L"STATIC", "", SS_RIGHT | SS_NOPREFIX, TileId(index, IDC_TILE_PAGER),
                at(155, 46, 80, 16), normal);
  CreateControl(L"STATIC", "", kLabel, TileId(index, IDC_TILE_STATE), at(10, 62, 225, 24),
                fonts_->big);
  HWND bar = CreateControl(PROGRESS_CLASSW, "", 0, TileId(index, IDC_TILE_PROGRESS),
                           at(10, 86, 225, 12), normal);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  // Hidden until the port's replies come late.
  HWND tune =
      CreateControl(WC_LINK, "<a>Tune adapters…</a>", LWS_RIGHT, TileId(index, IDC_TILE_TUNE),
                    at(kActionLeft, 102, 235 - kActionLeft, 16), normal);
  ShowWindow(tune, SW_HIDE);
  CreateControl(L"STATIC", "", kLabel | SS_ENDELLIPSIS, TileId(index, IDC_TILE_LAST),
                at(10, 102, 225, 16), fonts_->bold);
  CreateControl(L"STATIC", "", kWrapped, TileId(index, IDC_TILE_WHY), at(10, 118, 225, 28), normal);
  // The next step after a failure, or why the port cannot be opened, or the
  // latency hint: up to four lines.
  CreateControl(L"STATIC", "", kWrapped, TileId(index, IDC_TILE_DETAIL), at(10, 146, 225, 54),
                normal);
  // Shown only while the port is set aside.
  const HWND resume = CreateControl(L"BUTTON", "&Resume", WS_TABSTOP | BS_PUSHBUTTON,
                                    TileId(index, IDC_TILE_RESUME),
                                    at(kActionLeft, 100, 235 - kActionLeft, 20), normal);
  ShowWindow(resume, SW_HIDE);
}

void BenchWindow::DestroyTiles() {
  for (std::size_t index = 0; index < tiles_; ++index) {
    for (int part = IDC_TILE_GROUP; part < IDC_TILE_PARTS; ++part) {
      DestroyWindow(GetDlgItem(Handle(), TileId(index, part)));
      texts_.erase(TileId(index, part));
      colours_.erase(TileId(index, part));
    }
  }
  tiles_ = 0;
}

// The totals and the status line go below the last row of tiles, and the
// window grows or shrinks to hold them.
void BenchWindow::FitHeightToTiles(std::size_t tiles) {
  const int totals_top = TotalsTop(tiles);
  const int ids[] = {IDC_FINISHED, IDC_FAILED, IDC_YIELD, IDC_PER_HOUR};
  for (int i = 0; i < 4; ++i) {
    SetWindowPos(GetDlgItem(Handle(), ids[i]), nullptr, Scale(8 + i * 188), Scale(totals_top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SetWindowPos(GetDlgItem(Handle(), IDC_STATUS), nullptr, Scale(8),
               Scale(totals_top + kTotalsHeight + kMargin / 2), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT frame{0, 0, Scale(kClientWidth), Scale(ClientHeight(tiles))};
  AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
  SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void BenchWindow::ShowTiles(const std::vector<TileView>& tiles) {
  DestroyTiles();
  for (std::size_t index = 0; index < tiles.size(); ++index) CreateTile(index);
  tiles_ = tiles.size();
  FitHeightToTiles(tiles_);
  for (std::size_t index = 0; index < tiles.size(); ++index) ShowTile(index, tiles[index]);
  InvalidateRect(Handle(), nullptr, TRUE);
}

void BenchWindow::ShowTile(std::size_t index, const TileView& tile) {
  if (index >= tiles_) return;
  SetText(TileId(index, IDC_TILE_GROUP), tile.port);
  SetText(TileId(index, IDC_TILE_ADAPTER), tile.adapter);
  SetText(TileId(index, IDC_TILE_SERIAL), tile.serial);
  SetText(TileId(index, IDC_TILE_STATE), tile.state);
  SendMessageW(GetDlgItem(Handle(), TileId(index, IDC_TILE_PROGRESS)), PBM_SETPOS,
               static_cast<WPARAM>(tile.percent), 0);
  const char* between = tile.pager.empty() || tile.turnaround.empty() ? "" : "; ";
  SetText(TileId(index, IDC_TILE_PAGER), tile.pager + between + tile.turnaround);
  SetText(TileId(index, IDC_TILE_LAST), tile.last);
  const COLORREF mood = tile.mood == TileMood::kGood  ? kGood
                        : tile.mood == TileMood::kBad ? kBad
                                                      : CLR_INVALID;
  SetColour(TileId(index, IDC_TILE_LAST), mood);
  SetText(TileId(index, IDC_TILE_WHY), tile.why);
  SetColour(TileId(index, IDC_TILE_WHY), mood);
  SetText(TileId(index, IDC_TILE_DETAIL), tile.detail);
  // The last outcome gives way to the tile's action, when it has one.
  const bool action = tile.offer_tuning || tile.resumable;
  SetWindowPos(GetDlgItem(Handle(), TileId(index, IDC_TILE_LAST)), nullptr, 0, 0,
               Scale(action ? kActionLeft - 14 : 225), Scale(16),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(GetDlgItem(Handle(), TileId(index, IDC_TILE_TUNE)),
             tile.offer_tuning ? SW_SHOWNA : SW_HIDE);
  ShowWindow(GetDlgItem(Handle(), TileId(index, IDC_TILE_RESUME)),
             tile.resumable ? SW_SHOWNOACTIVATE : SW_HIDE);
}

bool BenchWindow::OnTileLink(const NMHDR& header) {
  if (header.code != NM_CLICK && header.code != NM_RETURN) return false;
  const auto id = static_cast<int>(header.idFrom);
  if (id < IDC_TILE_BASE || (id - IDC_TILE_BASE) % IDC_TILE_STRIDE != IDC_TILE_TUNE) return false;
  model_->TuneAdaptersClick();
  return true;
}

void BenchWindow::ShowTotals(const TotalsView& totals) {
  SetText(IDC_FINISHED, "Finished " + totals.finished);
  SetText(IDC_FAILED, "Failed " + totals.failed);
  SetText(IDC_YIELD, "Yield " + totals.yield);
  SetText(IDC_PER_HOUR, "Per hour " + totals.per_hour);
}

void BenchWindow::ShowStatus(const std::string& text, bool alarm) {
  SetText(IDC_STATUS, text);
  SetColour(IDC_STATUS, alarm ? kBad : CLR_INVALID);
}
