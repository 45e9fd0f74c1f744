#include "common/BoundedWork.h"

#include <system_error>

BoundedWork::~BoundedWork() { Finish(); }

void BoundedWork::Run(const std::shared_ptr<State>& state, const std::function<void()>& work) {
  {
    std::lock_guard lock(state->mutex);
    state->started = true;
    state->changed.notify_all();
  }
  work();
  std::lock_guard lock(state->mutex);
  state->returned = true;
  state->changed.notify_all();
}

bool BoundedWork::Start(std::function<void()> work) {
  try {
    thread_ = std::thread(Run, state_, std::move(work));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool BoundedWork::WaitFor(std::chrono::steady_clock::duration limit) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, limit, [&] { return state_->returned; });
}

bool BoundedWork::Returned() const {
  std::lock_guard lock(state_->mutex);
  return state_->returned;
}

bool BoundedWork::Finish() {
  if (!thread_.joinable()) return Returned();
  std::unique_lock lock(state_->mutex);
  if (state_->returned) {
    lock.unlock();
    thread_.join();
    return true;
  }
  state_->changed.wait(lock, [&] { return state_->started; });
  thread_.detach();
  return false;
}
