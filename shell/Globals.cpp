#include "shell/Globals.h"

std::int8_t ComPortIndex = 0;
std::int32_t FlashBaudRate = 0;
std::int32_t ResendTimes = 0;

TDComm* Comm = nullptr;
UpdateFlow* Flow = nullptr;
