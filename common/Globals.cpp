#include "common/Globals.h"

thread_local std::int8_t ComPortIndex = 0;
thread_local std::int32_t FlashBaudRate = 0;
thread_local std::int32_t ResendTimes = 0;

thread_local TDComm* Comm = nullptr;
thread_local UpdateFlow* Flow = nullptr;
