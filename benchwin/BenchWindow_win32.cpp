#include "benchwin/BenchWindow_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <vector>

#include "benchwin/BenchResource.h"
#include "common/WideText_win32.h"

// No header above may bring back the macro that would rename our MessageBox.
#undef MessageBox

namespace {

constexpr wchar_t kWindowClass[] = L"TBenchMain";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT kNewsMessage = WM_APP + 1;
constexpr UINT_PTR kTotalsTimer = 1;
constexpr UINT kTotalsTimerMs = 1000;
constexpr COLORREF kGood = RGB(0, 128, 0);
constexpr COLORREF kBad = RGB(200, 0, 0);

// The layout at 96 dpi.
constexpr int kClientWidth = 768;
constexpr int kTilesTop = 278;
constexpr int kTileColumns = 3;
constexpr int kTileWidth = 245;
constexpr int kTileHeight = 190;
constexpr int kTileGap = 8;
constexpr int kMargin = 8;
constexpr int kTotalsHeight = 24;
constexpr int kStatusHeight = 18;

constexpr DWORD kLabel = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
constexpr DWORD kWrapped = SS_LEFT | SS_NOPREFIX;

// Menu items: command, and the value it stands for.
struct MenuValue {
  int id;
  int value;
};
constexpr MenuValue kRateItems[] = {{IDM_2400BPS, 2400}, {IDM_4800BPS, 4800}, {IDM_9600BPS, 9600}};
constexpr MenuValue kResendItems[] = {{IDM_RESEND_NONE, 0}, {IDM_RESEND_3, 3}, {IDM_RESEND_5, 5}};

RECT Bounds(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

int TileId(std::size_t index, int part) {
  return IDC_TILE_BASE + static_cast<int>(index) * IDC_TILE_STRIDE + part;
}

int TileRows(std::size_t tiles) {
  return std::max(1, static_cast<int>((tiles + kTileColumns - 1) / kTileColumns));
}

int TotalsTop(std::size_t tiles) { return kTilesTop + TileRows(tiles) * (kTileHeight + kTileGap); }

int ClientHeight(std::size_t tiles) {
  return TotalsTop(tiles) + kTotalsHeight + kStatusHeight + 2 * kMargin;
}

}  // namespace

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

BenchWindow::BenchWindow()
    : dpi_(ScreenDpi()),
      fonts_(std::make_unique<Fonts>(dpi_)),
      accelerators_(LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_BENCHKEYS))),
      model_(MakeBenchModel(*this)) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_BENCHMENU));
  RECT frame{0, 0, Scale(kClientWidth), Scale(ClientHeight(0))};
  AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = frame.right - frame.left;
  const int left = work.left + std::max(0, static_cast<int>(work.right - work.left - width) / 2);
  Create(kWindowClass, kBenchCaption, kWindowStyle,
         Bounds(left, work.top + Scale(kMargin), width, frame.bottom - frame.top), menu);
  news_target_.store(Handle());
}

// The model goes first: a run still under way is stopped and waited for
// while the window can still take its last news.
BenchWindow::~BenchWindow() {
  model_.reset();
  news_target_.store(nullptr);
  Destroy();
}

int BenchWindow::Scale(int pixels_at_96_dpi) const {
  return MulDiv(pixels_at_96_dpi, dpi_, kDesignDpi);
}

HWND BenchWindow::CreateControl(const wchar_t* window_class, const std::string& text, DWORD style,
                                int id, const RECT& bounds, HFONT font, DWORD ex_style) {
  HWND control = CreateWindowExW(
      ex_style, window_class, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scale(bounds.left),
      Scale(bounds.top), Scale(bounds.right - bounds.left), Scale(bounds.bottom - bounds.top),
      Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
      nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  texts_[id] = Wide(text);
  return control;
}

// Created in tab order: the firmware's details, the ports, Start and Stop.
void BenchWindow::CreateControls() {
  const HFONT normal = fonts_->normal;
  CreateControl(L"BUTTON", "Firmware", BS_GROUPBOX, IDC_FW_GROUP, Bounds(8, 4, 752, 86), normal);
  CreateControl(L"STATIC", "", kLabel, IDC_FW_NAME, Bounds(20, 22, 620, 18), fonts_->bold);
  CreateControl(L"STATIC", "", kLabel, IDC_FW_FIGURES, Bounds(20, 42, 620, 16), normal);
  CreateControl(L"STATIC", "", kLabel, IDC_FW_SHA, Bounds(20, 62, 620, 16), normal);
  CreateControl(L"BUTTON", "&Details...", WS_TABSTOP | BS_PUSHBUTTON, IDC_FW_DETAILS,
                Bounds(660, 26, 88, 26), normal);
  CreateControl(L"BUTTON", "Ports for the bench", BS_GROUPBOX, IDC_PORTS_GROUP,
                Bounds(8, 94, 752, 140), normal);
  CreatePortList();
  CreateControl(L"BUTTON", "Keep by &Serial", WS_TABSTOP | BS_PUSHBUTTON, IDC_BY_SERIAL,
                Bounds(632, 112, 116, 26), normal);
  CreateControl(L"BUTTON", "&Refresh", WS_TABSTOP | BS_PUSHBUTTON, IDC_REFRESH,
                Bounds(632, 144, 116, 26), normal);
  CreateControl(L"STATIC", "", kWrapped, IDC_SETUP_TEXT, Bounds(632, 178, 116, 48), normal);
  CreateControl(L"STATIC", "", kLabel | SS_PATHELLIPSIS, IDC_LOG, Bounds(8, 248, 560, 16), normal);
  CreateControl(L"BUTTON", "Start (F5)", WS_TABSTOP | BS_PUSHBUTTON, IDC_START,
                Bounds(584, 240, 84, 30), fonts_->bold);
  CreateControl(L"BUTTON", "Stop (F5)", WS_TABSTOP | BS_PUSHBUTTON, IDC_STOP,
                Bounds(676, 240, 84, 30), fonts_->bold);
  const int ids[] = {IDC_FINISHED, IDC_FAILED, IDC_YIELD, IDC_PER_HOUR};
  for (int i = 0; i < 4; ++i) {
    CreateControl(L"STATIC", "", kLabel, ids[i], Bounds(8 + i * 188, 0, 184, kTotalsHeight),
                  fonts_->big);
  }
  CreateControl(L"STATIC", "", kLabel, IDC_STATUS, Bounds(8, 0, 752, kStatusHeight), normal);
  FitHeightToTiles(0);
}

void BenchWindow::CreatePortList() {
  ports_ =
      CreateControl(WC_LISTVIEWW, "",
                    WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                    IDC_PORTS, Bounds(20, 112, 600, 112), fonts_->normal, WS_EX_CLIENTEDGE);
  SendMessageW(ports_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  const struct {
    const char* title;
    int width;
  } columns[] = {{"Port", 64}, {"Adapter", 250}, {"Serial", 120}, {"Kept by", 100}};
  for (int i = 0; i < 4; ++i) {
    std::wstring title = Wide(columns[i].title);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title.data();
    column.cx = Scale(columns[i].width);
    SendMessageW(ports_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

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

bool BenchWindow::Open(const std::string& directory, const BenchCommandLine& line) {
  return model_->Open(directory, line);
}

void BenchWindow::Show(int show_command) {
  ShowWindow(Handle(), show_command);
  UpdateWindow(Handle());
  SetFocus(GetDlgItem(Handle(), IDC_START));
  model_->Shown();
}

bool BenchWindow::TranslateKeys(MSG& message) {
  if (Handle() == nullptr) return false;
  return TranslateAcceleratorW(Handle(), accelerators_, &message) != 0 ||
         IsDialogMessageW(Handle(), &message) != 0;
}

// Only a text that changed is set, so a tile redrawn at every percent does
// not flicker.
void BenchWindow::SetText(int id, const std::string& text) {
  std::wstring wide = Wide(text);
  auto& shown = texts_[id];
  if (shown == wide) return;
  shown = std::move(wide);
  SetWindowTextW(GetDlgItem(Handle(), id), shown.c_str());
}

// CLR_INVALID: the system's colour.
void BenchWindow::SetColour(int id, COLORREF colour) {
  const auto found = colours_.find(id);
  const COLORREF before = found == colours_.end() ? CLR_INVALID : found->second;
  if (before == colour) return;
  if (colour == CLR_INVALID) {
    colours_.erase(id);
  } else {
    colours_[id] = colour;
  }
  InvalidateRect(GetDlgItem(Handle(), id), nullptr, TRUE);
}

void BenchWindow::EnableCommand(int id, bool enabled) {
  EnableMenuItem(GetMenu(Handle()), static_cast<UINT>(id),
                 MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void BenchWindow::ShowFirmware(const FirmwareCard& card) {
  const FirmwareLines lines = LinesOf(card);
  SetText(IDC_FW_NAME, lines.name);
  SetText(IDC_FW_FIGURES, lines.figures);
  SetColour(IDC_FW_FIGURES, lines.refused ? kBad : CLR_INVALID);
  SetText(IDC_FW_SHA, lines.sha);
  EnableWindow(GetDlgItem(Handle(), IDC_FW_DETAILS), card.path.empty() ? FALSE : TRUE);
  EnableCommand(IDM_DETAILS, !card.path.empty());
}

void BenchWindow::ShowPorts(const std::vector<PortEntry>& entries) {
  const int selected = SelectedPort();
  filling_ports_ = true;
  SendMessageW(ports_, LVM_DELETEALLITEMS, 0, 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::array<std::string, 4> cells = PortCells(entries[i]);
    std::wstring text = Wide(cells[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = text.data();
    SendMessageW(ports_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int column = 1; column < 4; ++column) {
      std::wstring cell = Wide(cells[column]);
      item.iSubItem = column;
      item.pszText = cell.data();
      SendMessageW(ports_, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
    }
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(entries[i].ticked ? 2 : 1);
    SendMessageW(ports_, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
  }
  if (selected >= 0 && selected < static_cast<int>(entries.size())) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(ports_, LVM_SETITEMSTATE, selected, reinterpret_cast<LPARAM>(&item));
  }
  filling_ports_ = false;
  shown_ports_ = entries;
  ShowBySerialButton();
}

void BenchWindow::ShowRate(int rate) {
  rate_ = rate;
  for (const MenuValue& item : kRateItems) {
    if (item.value == rate) {
      CheckMenuRadioItem(GetMenu(Handle()), IDM_2400BPS, IDM_9600BPS, item.id, MF_BYCOMMAND);
    }
  }
  ShowSetupText();
}

void BenchWindow::ShowResends(int resends) {
  resends_ = resends;
  for (const MenuValue& item : kResendItems) {
    if (item.value == resends) {
      CheckMenuRadioItem(GetMenu(Handle()), IDM_RESEND_NONE, IDM_RESEND_5, item.id, MF_BYCOMMAND);
    }
  }
  ShowSetupText();
}

void BenchWindow::ShowSetupText() { SetText(IDC_SETUP_TEXT, SetupText(rate_, resends_)); }

void BenchWindow::ShowLogPath(const std::string& path) { SetText(IDC_LOG, "Log: " + path); }

void BenchWindow::ShowLocked(bool locked) {
  const std::string caption = std::string(kBenchCaption) + (locked ? " (settings locked)" : "");
  SetWindowTextW(Handle(), Wide(caption).c_str());
}

void BenchWindow::ShowControls(const BenchControls& controls) {
  EnableCommand(IDM_OPEN, controls.choose_firmware);
  for (const MenuValue& item : kRateItems) EnableCommand(item.id, controls.setup);
  for (const MenuValue& item : kResendItems) EnableCommand(item.id, controls.setup);
  EnableCommand(IDM_REFRESH, controls.ports);
  EnableCommand(IDM_START, controls.start);
  EnableCommand(IDM_STOP, controls.stop);
  DragAcceptFiles(Handle(), controls.choose_firmware ? TRUE : FALSE);
  // A control about to be disabled hands the focus on first, so the
  // keyboard still reaches the window.
  HWND start = GetDlgItem(Handle(), IDC_START);
  HWND stop = GetDlgItem(Handle(), IDC_STOP);
  const HWND focus = GetFocus();
  if (controls.stop && focus == start) SetFocus(stop);
  if (controls.start && focus == stop) SetFocus(start);
  EnableWindow(ports_, controls.ports ? TRUE : FALSE);
  EnableWindow(GetDlgItem(Handle(), IDC_REFRESH), controls.ports ? TRUE : FALSE);
  EnableWindow(start, controls.start ? TRUE : FALSE);
  EnableWindow(stop, controls.stop ? TRUE : FALSE);
  ShowBySerialButton();
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
  SetText(TileId(index, IDC_TILE_PAGER), tile.pager);
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

// Windows' own sounds, as the user has set them: information for a pager
// done, the critical stop for one that failed.
void BenchWindow::PlaySound(BenchSound sound) {
  MessageBeep(sound == BenchSound::kFinished ? MB_ICONASTERISK : MB_ICONHAND);
}

void BenchWindow::SetTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(Handle(), kTotalsTimer, kTotalsTimerMs, nullptr);
  } else {
    KillTimer(Handle(), kTotalsTimer);
  }
}

std::optional<std::string> BenchWindow::RunOpenDialog(const std::string& filter) {
  return RunOpenFileDialog(Handle(), filter, OFN_FILEMUSTEXIST);
}

void BenchWindow::ShowMessage(const std::string& text, const std::string& caption,
                              std::uint32_t style) {
  MessageBoxW(Handle(), Wide(text).c_str(), Wide(caption).c_str(), style | MB_OK);
}

// No is the default: Enter pressed by habit keeps the bench running.
bool BenchWindow::Confirm(const std::string& text, const std::string& caption) {
  return MessageBoxW(Handle(), Wide(text).c_str(), Wide(caption).c_str(),
                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// Posted, so the close runs from the message loop after the current handler.
void BenchWindow::CloseForm() { PostMessageW(Handle(), WM_CLOSE, 0, 0); }

void BenchWindow::WakeForNews() {
  if (const HWND target = news_target_.load()) PostMessageW(target, kNewsMessage, 0, 0);
}

void BenchWindow::ShowHandlerError(const std::string& what) {
  MessageBoxW(Handle(), Wide(what).c_str(), Wide(kBenchCaption).c_str(), MB_OK | MB_ICONERROR);
}

int BenchWindow::SelectedPort() const {
  return static_cast<int>(
      SendMessageW(ports_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The button says what it would do to the selected port.
void BenchWindow::ShowBySerialButton() {
  const int selected = SelectedPort();
  const auto index = static_cast<std::size_t>(selected);
  const bool can = selected >= 0 && model_->CanKeepBySerial(index);
  const bool by_serial = can && index < shown_ports_.size() && shown_ports_[index].by_serial;
  SetText(IDC_BY_SERIAL, by_serial ? "Keep by &Name" : "Keep by &Serial");
  EnableWindow(GetDlgItem(Handle(), IDC_BY_SERIAL), can ? TRUE : FALSE);
}

void BenchWindow::OnPortChanged(const NMLISTVIEW& change) {
  if (filling_ports_ || (change.uChanged & LVIF_STATE) == 0 || change.iItem < 0) return;
  const UINT changed = change.uNewState ^ change.uOldState;
  if ((changed & LVIS_STATEIMAGEMASK) != 0) {
    const bool ticked = (change.uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
    model_->TickPort(static_cast<std::size_t>(change.iItem), ticked);
  }
  if ((changed & LVIS_SELECTED) != 0) ShowBySerialButton();
}

LRESULT BenchWindow::OnNotify(const NMHDR& header) {
  if (header.idFrom == IDC_PORTS && header.code == LVN_ITEMCHANGED) {
    OnPortChanged(reinterpret_cast<const NMLISTVIEW&>(header));
  }
  return 0;
}

// The first file dropped is taken; folders are passed over.
void BenchWindow::OnDropFiles(WPARAM drop_handle) {
  const std::string chosen = FirstDroppedFile(drop_handle);
  if (!chosen.empty()) model_->ChooseFirmware(chosen);
}

void BenchWindow::OnCommand(int id, int code) {
  // Buttons tell clicks; menus and shortcuts tell nothing else.
  if (code != BN_CLICKED && code != 0 && code != 1) return;
  switch (id) {
    case IDM_OPEN:
      return model_->OpenClick();
    case IDM_DETAILS:
    case IDC_FW_DETAILS:
      return model_->DetailsClick();
    case IDM_EXIT:
      return CloseForm();
    case IDM_START:
    case IDC_START:
      return model_->StartClick();
    case IDM_STOP:
    case IDC_STOP:
      return model_->StopClick();
    case IDM_START_OR_STOP:
      return model_->StartOrStop();
    case IDM_REFRESH:
    case IDC_REFRESH:
      return model_->RefreshPorts();
    case IDC_BY_SERIAL:
      if (SelectedPort() >= 0) model_->ToggleKeepBySerial(static_cast<std::size_t>(SelectedPort()));
      return;
    default:
      break;
  }
  for (const MenuValue& item : kRateItems) {
    if (item.id == id) return model_->ChooseRate(item.value);
  }
  for (const MenuValue& item : kResendItems) {
    if (item.id == id) return model_->ChooseResends(item.value);
  }
}

LRESULT BenchWindow::OnControlColour(HDC dc, HWND control) {
  const auto found = colours_.find(GetDlgCtrlID(control));
  if (found == colours_.end()) {
    return DefaultHandling(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(control));
  }
  SetTextColor(dc, found->second);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT BenchWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case kNewsMessage:
      model_->TakeNews();
      return 0;
    case WM_TIMER:
      if (wparam == kTotalsTimer) model_->TimerTick();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_DROPFILES:
      OnDropFiles(wparam);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnControlColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_CLOSE:
      if (model_->CloseQuery()) {
        model_->Close();
        Destroy();
      }
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != FALSE) model_->EndSession();
      return 0;
    case WM_DESTROY:
      news_target_.store(nullptr);
      PostQuitMessage(0);
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}
