#include <windows.h>

#include "tests/support/SystemCodes.h"

const int kMissingPortError = ERROR_PATH_NOT_FOUND;
const int kBusyAfterCloseError = ERROR_ACCESS_DENIED;
const int kRefusedStateError = ERROR_INVALID_PARAMETER;
const int kPulledOutError = ERROR_DEVICE_REMOVED;
const int kTimedOutError = ERROR_SEM_TIMEOUT;
