// A bench's --count (/count in the bench window) as places for pagers: a
// pager is taken only while those finished and those in flight are fewer
// than the count, so the count is never passed however many ports race for
// its last place, and a pager that fails frees its place for another.
#pragma once

#include <mutex>

#include "station/PagerPlaces.h"

class CountPlaces final : public IPagerPlaces {
 public:
  explicit CountPlaces(int count) : count_(count) {}

  bool Reserve() override;
  void Release(bool finished) override;
  bool UsedUp() const override;

 private:
  const int count_;
  mutable std::mutex mutex_;
  int finished_ = 0;
  int in_flight_ = 0;
};
