#include <cerrno>

#include "tests/support/SystemCodes.h"

const int kMissingPortError = ENOENT;
const int kBusyAfterCloseError = EBUSY;
const int kRefusedStateError = EINVAL;
const int kPulledOutError = EIO;
const int kTimedOutError = ETIMEDOUT;
