#include "benchwin/BenchLayout_win32.h"

#include <shellapi.h>

using namespace bench_layout;

namespace {

// Menu items: command, and the value it stands for.
struct MenuValue {
  int id;
  int value;
};
constexpr MenuValue kRateItems[] = {{IDM_2400BPS, 2400}, {IDM_4800BPS, 4800}, {IDM_9600BPS, 9600}};
constexpr MenuValue kResendItems[] = {{IDM_RESEND_NONE, 0}, {IDM_RESEND_3, 3}, {IDM_RESEND_5, 5}};

}  // namespace

void BenchWindow::EnableCommand(int id, bool enabled) {
  EnableMenuItem(GetMenu(Handle()), static_cast<UINT>(id),
                 MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
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
    case IDM_TUNE_ADAPTERS:
      return model_->TuneAdaptersClick();
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
  if (id >= IDC_TILE_BASE && (id - IDC_TILE_BASE) % IDC_TILE_STRIDE == IDC_TILE_RESUME) {
    model_->ResumePort(static_cast<std::size_t>((id - IDC_TILE_BASE) / IDC_TILE_STRIDE));
  }
}
