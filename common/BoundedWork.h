// Work that may hang in the system (closing a device whose adapter has been
// pulled out, appending to a log on a share that does not answer), run on a
// thread of its own so that its caller waits for it only as long as it
// chooses, and let go on alone when it does not return in time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class BoundedWork {
 public:
  BoundedWork() = default;
  // Finishes the work (Finish).
  ~BoundedWork();
  BoundedWork(const BoundedWork&) = delete;
  BoundedWork& operator=(const BoundedWork&) = delete;

  // Runs `work` on a thread of its own; false, with nothing run, when the
  // system gives no thread.
  bool Start(std::function<void()> work);
  // Waits up to `limit` on the system's clock; true once the work has
  // returned.
  bool WaitFor(std::chrono::steady_clock::duration limit);
  bool Returned() const;
  // Ends the wait: a work that has returned is joined; one that has not is
  // let go on alone, once it has started (MinGW's pthreads reuse the start
  // record of a thread detached before it has run, and that thread then
  // runs nothing or crashes). True when the work had returned.
  bool Finish();

 private:
  // Shared with the thread, so neither outlives what it uses.
  struct State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool returned = false;
  };
  static void Run(const std::shared_ptr<State>& state, const std::function<void()>& work);

  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::thread thread_;
};
