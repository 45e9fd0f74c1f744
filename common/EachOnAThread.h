// Runs one call per item at once, each on a thread of its own: the ports of
// a gang, the port loops of a bench.
#pragma once

#include <cstddef>
#include <functional>

// Calls `work(0)` to `work(count - 1)`, each on a thread of its own, and
// returns once every call has returned. When the system gives no more
// threads, the calls already started are waited for and its error thrown.
void EachOnAThread(std::size_t count, const std::function<void(std::size_t)>& work);
