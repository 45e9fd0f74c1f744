#include "link/DeviceCloser.h"

#include <chrono>

#include "common/BoundedWork.h"

namespace {

// A close that returns at all returns within this, on the system's clock;
// waiting for it that way costs nothing when it does.
constexpr auto kPromptCloseWait = std::chrono::milliseconds(50);
// After that, how often the tick source is looked at.
constexpr std::uint32_t kCloseCheckMs = 10;
// The least time, on the system's clock, given to a close before it is
// called hung, whatever the tick source says: a closing thread the system
// has not yet got round to running (a loaded machine, Wine's slow thread
// start) has not hung.
constexpr auto kLeastRealWait = std::chrono::seconds(1);

// Whether the close returned within the limit on the tick source and the
// least real wait.
bool AwaitClose(BoundedWork& close, ITickSource& clock, std::uint32_t start,
                std::chrono::steady_clock::time_point real_start, std::uint32_t limit_ms) {
  if (close.WaitFor(kPromptCloseWait)) return true;
  while (!close.Returned() && ElapsedMs(start, clock.TickCount()) < limit_ms) {
    clock.Sleep(kCloseCheckMs);
  }
  return close.WaitFor(real_start + kLeastRealWait - std::chrono::steady_clock::now());
}

}  // namespace

bool CloseWithin(std::unique_ptr<ISerialDevice> device, std::uint32_t limit_ms,
                 ITickSource& clock) {
  const std::uint32_t start = clock.TickCount();
  const auto real_start = std::chrono::steady_clock::now();
  std::shared_ptr<ISerialDevice> closing = std::move(device);
  BoundedWork close;
  if (!close.Start([closing]() mutable {
        closing->Close();
        closing.reset();
      })) {
    // No thread to be had: closed here, whatever that takes.
    closing->Close();
    return true;
  }
  const bool returned = AwaitClose(close, clock, start, real_start, limit_ms);
  closing.reset();
  // A hung close goes on alone; the device goes whenever it returns.
  return close.Finish() || returned;
}
