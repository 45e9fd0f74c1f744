// The Setup menu's rate and resend items, which both windows have (the
// update window and the bench window): one numbering, so their resource
// scripts, shortcuts and handlers cannot drift apart. Included by each
// window's resource header.
#pragma once

#define IDM_2400BPS 230
#define IDM_4800BPS 231
#define IDM_9600BPS 232
#define IDM_RESEND_NONE 240
#define IDM_RESEND_3 241
#define IDM_RESEND_5 242
