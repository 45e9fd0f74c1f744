#include "common/EachOnAThread.h"

#include <thread>
#include <vector>

void EachOnAThread(std::size_t count, const std::function<void(std::size_t)>& work) {
  std::vector<std::thread> threads;
  threads.reserve(count);
  try {
    for (std::size_t i = 0; i < count; ++i) threads.emplace_back(work, i);
  } catch (...) {
    for (std::thread& thread : threads) thread.join();
    throw;
  }
  for (std::thread& thread : threads) thread.join();
}
