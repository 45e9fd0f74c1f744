// The icon resource of every exe of the project (common/TarvexFlasher.ico):
// the first and only one, so Explorer shows it for the exe too. Included by
// the resource scripts and by the window base that loads it.
#pragma once

#define IDI_TARVEX 1
