#include "benchwin/BenchLayout_win32.h"

#include <commctrl.h>

#include <array>

#include "common/WideText_win32.h"

using namespace bench_layout;

void BenchWindow::CreatePortList() {
  ports_ =
      CreateControl(WC_LISTVIEWW, "",
                    WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                    IDC_PORTS, Bounds(20, 112, 600, 96), fonts_->normal, WS_EX_CLIENTEDGE);
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
  ShowPortsNote();
}

// Under the list: the ticked ports its rows do not show now.
void BenchWindow::ShowPortsNote() {
  const auto first = static_cast<std::size_t>(SendMessageW(ports_, LVM_GETTOPINDEX, 0, 0));
  const auto shown = static_cast<std::size_t>(SendMessageW(ports_, LVM_GETCOUNTPERPAGE, 0, 0));
  SetText(IDC_PORTS_NOTE, model_->PortsOutOfView(first, shown));
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
  // A tick, or a selection moved by the keyboard, may have scrolled the list.
  ShowPortsNote();
}

LRESULT BenchWindow::OnNotify(const NMHDR& header) {
  if (OnTileLink(header)) return 0;
  if (header.idFrom != IDC_PORTS) return 0;
  if (header.code == LVN_ITEMCHANGED) OnPortChanged(reinterpret_cast<const NMLISTVIEW&>(header));
  if (header.code == LVN_ENDSCROLL) ShowPortsNote();
  return 0;
}
