#include "benchwin/BenchLayout_win32.h"

#include <commctrl.h>

#include "common/WideText_win32.h"

using namespace bench_layout;

namespace {

int TileId(std::size_t index, int part) {
  return IDC_TILE_BASE + static_cast<int>(index) * IDC_TILE_STRIDE + part;
}

}  // namespace

void BenchWindow::CreateTile(std::size_t index) {
  const int left = kMargin + static_cast<int>(index % kTileColumns) * (kTileWidth + kTileGap);
  const int top = kTilesTop + static_cast<int>(index / kTileColumns) * (kTileHeight + kTileGap);
  const auto at = [&](int x, int y, int w, int h) { return Bounds(left + x, top + y, w, h); };
  const HFONT normal = fonts_->normal;
  CreateControl(L"BUTTON", "", BS_GROUPBOX, TileId(index, IDC_TILE_GROUP),
                at(0, 0, kTileWidth, kTileHeight), fonts_->bold);
  CreateControl(L"STATIC", "", kLabel | SS_ENDELLIPSIS, TileId(index, IDC_TILE_ADAPTER),
                at(10, 18, 225, 16), normal);
  CreateControl(L"STATIC", "", kLabel, TileId(index, IDC_TILE_STATE), at(10, 36, 225, 24),
                fonts_->big);
  HWND bar = CreateControl(PROGRESS_CLASSW, "", 0, TileId(index, IDC_TILE_PROGRESS),
                           at(10, 62, 225, 14), normal);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  CreateControl(L"STATIC", "", kLabel, TileId(index, IDC_TILE_PAGER), at(10, 80, 225, 16), normal);
  CreateControl(L"STATIC", "", kLabel | SS_ENDELLIPSIS, TileId(index, IDC_TILE_LAST),
                at(10, 98, 225, 16), fonts_->bold);
  CreateControl(L"STATIC", "", kWrapped, TileId(index, IDC_TILE_WHY), at(10, 114, 225, 30), normal);
  CreateControl(L"STATIC", "", kWrapped, TileId(index, IDC_TILE_DETAIL), at(10, 146, 225, 40),
                normal);
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
