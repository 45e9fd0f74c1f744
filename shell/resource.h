// Resource and command identifiers shared by TarvexUpd.rc and the window.
// IDOK (1) and IDCANCEL (2) are left free: the dialog-key handling of the
// main loop sends them for Enter and Escape.
#pragma once

// IDI_TARVEX, the program's icon.
#include "common/ProgramIcon.h"
// IDM_2400BPS ... IDM_RESEND_5, the Setup items both windows have.
#include "common/SetupMenuIds.h"

#define IDR_MAINMENU 100
#define IDR_ACCELERATORS 101

#define IDM_OPEN 200
#define IDM_EXIT 201
#define IDM_UPDATE 210
#define IDM_COM1 220
#define IDM_COM2 221
#define IDM_COM3 222
#define IDM_COM4 223
// The listed Comm Port items: this plus the COM number (5 to 255).
#define IDM_PORT_BASE 1000

#define IDC_FILENAME_LABEL 300
#define IDC_FILENAME 301
#define IDC_UPDATE 302
#define IDC_PROGRESS 303
#define IDC_PERCENT 304
