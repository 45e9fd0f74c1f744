// Resource and command identifiers shared by TarvexBench.rc and the window.
// IDOK (1) and IDCANCEL (2) are left free: the dialog-key handling of the
// main loop sends them for Enter and Escape.
#pragma once

// IDI_TARVEX, the program's icon.
#include "common/ProgramIcon.h"
// IDM_2400BPS ... IDM_RESEND_5, the Setup items both windows have.
#include "common/SetupMenuIds.h"

#define IDR_BENCHMENU 100
#define IDR_BENCHKEYS 101

#define IDM_OPEN 200
#define IDM_DETAILS 201
#define IDM_EXIT 202
#define IDM_START 210
#define IDM_STOP 211
// F5: Start when idle, Stop when running.
#define IDM_START_OR_STOP 212
#define IDM_REFRESH 250
#define IDM_TUNE_ADAPTERS 251

#define IDC_FW_GROUP 300
#define IDC_FW_NAME 301
#define IDC_FW_FIGURES 302
#define IDC_FW_SHA 303
#define IDC_FW_DETAILS 304
#define IDC_PORTS_GROUP 310
#define IDC_PORTS 311
#define IDC_BY_SERIAL 312
#define IDC_REFRESH 313
#define IDC_SETUP_TEXT 314
#define IDC_PORTS_NOTE 315
#define IDC_LOG 320
#define IDC_START 321
#define IDC_STOP 322
#define IDC_FINISHED 330
#define IDC_FAILED 331
#define IDC_YIELD 332
#define IDC_PER_HOUR 333
#define IDC_STATUS 334

// Tile N's controls: IDC_TILE_BASE + N * IDC_TILE_STRIDE plus the part.
#define IDC_TILE_BASE 1000
#define IDC_TILE_STRIDE 20
#define IDC_TILE_GROUP 0
#define IDC_TILE_ADAPTER 1
#define IDC_TILE_STATE 2
#define IDC_TILE_PROGRESS 3
#define IDC_TILE_PAGER 4
#define IDC_TILE_LAST 5
#define IDC_TILE_DETAIL 6
#define IDC_TILE_WHY 7
#define IDC_TILE_SERIAL 8
// The link to Tune adapters…, shown on a slow port's tile.
#define IDC_TILE_TUNE 9
// Resumes a port set aside.
#define IDC_TILE_RESUME 10
#define IDC_TILE_PARTS 11
