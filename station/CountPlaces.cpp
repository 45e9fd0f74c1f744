#include "station/CountPlaces.h"

bool CountPlaces::Reserve() {
  std::lock_guard lock(mutex_);
  if (finished_ + in_flight_ >= count_) return false;
  ++in_flight_;
  return true;
}

void CountPlaces::Release(bool finished) {
  std::lock_guard lock(mutex_);
  if (in_flight_ > 0) --in_flight_;
  if (finished) ++finished_;
}

bool CountPlaces::UsedUp() const {
  std::lock_guard lock(mutex_);
  return finished_ >= count_;
}
