// The places a run has for pagers: a bench's --count, a job's quota. A port
// reserves a place before it sends "f"; a pager that finishes keeps it, one
// that fails gives it back. However many ports race for the last place, no
// more pagers finish than there are places.
#pragma once

class IPagerPlaces {
 public:
  virtual ~IPagerPlaces() = default;
  // Takes a place for the pager about to be flashed; false when none is
  // left. Safe from any port's thread.
  virtual bool Reserve() = 0;
  // The pager on a place this port reserved has ended: a finished pager
  // keeps its place, a failed one (or one never flashed) frees it.
  virtual void Release(bool finished) = 0;
  // Every place is kept by a finished pager: the run ends as with a
  // reached count.
  virtual bool UsedUp() const = 0;
};
