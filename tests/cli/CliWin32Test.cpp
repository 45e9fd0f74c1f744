// The Windows side of tarvex-flash: what closing its console window does.
// Wine delivers no CTRL_CLOSE_EVENT (its console window just ends the
// program, and no program may raise the event itself), so the handler is
// called here as Windows would call it, on a thread of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cli/Platform.h"

namespace {

// Closing the window, logging off or shutting down ends the process once
// the handler returns: it must wait until every pager has had its "q".
TEST(ConsoleClose, HoldsTheProcessUntilEveryUpdateHasEnded) {
  static std::atomic<bool> interrupt{false};
  InstallInterruptHandler(interrupt);
  EXPECT_TRUE(OnConsoleEvent(CTRL_C_EVENT));
  EXPECT_TRUE(interrupt.load());
  interrupt = false;

  std::atomic<bool> returned{false};
  std::thread windows([&] {
    EXPECT_TRUE(OnConsoleEvent(CTRL_CLOSE_EVENT));
    returned = true;
  });
  while (!interrupt.load()) std::this_thread::yield();
  // The updates now stop at their next step; until they have, the
  // handler holds.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(returned.load());
  UpdatesEnded();
  windows.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(OnConsoleEvent(CTRL_CLOSE_EVENT + 100));
}

}  // namespace
