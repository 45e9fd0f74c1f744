// Asking the line whether a pager's loader is there, for a bench that
// flashes each pager as it is connected, and asking one to leave flash mode.
// Both are the exit command "q", the one command harmless in every state of
// the loader: in flash mode it obeys (leaves flash mode, ACKs, and listens at
// the start rate again); in idle it refuses with NAK. Any byte back is a
// loader on the line; silence is none.
#pragma once

#include <cstdint>

#include "common/Clock.h"
#include "link/Dcommthread.h"

// A loader answers a one-byte command at once: the bytes' time on the line
// at the start rate, an adapter's latency timer and the loader's own
// turnaround come to a few tens of milliseconds.
constexpr std::uint32_t kProbeReplyLimitMs = 60;

enum class ProbeAnswer : std::uint8_t {
  kAnswered,
  kSilent,
  // The port could not be opened; the channel says why.
  kCannotOpen,
  // The port went away during the probe (the adapter pulled out).
  kLost,
};

class LoaderProbe {
 public:
  // Probes over `comm`, whose device its owner names; the port is kept open
  // between probes at one rate, and closed by Close or when the probe goes.
  explicit LoaderProbe(TDComm& comm);
  ~LoaderProbe();
  LoaderProbe(const LoaderProbe&) = delete;
  LoaderProbe& operator=(const LoaderProbe&) = delete;

  // Sends "q" at `rate` bit/s and waits up to kProbeReplyLimitMs for any
  // byte. The port is opened, or reopened at another rate, first.
  ProbeAnswer Probe(std::int32_t rate);
  // The byte that answered the last probe: ACK from a loader that has just
  // left flash mode.
  std::uint8_t Reply() const { return reply_; }
  void Close();

 private:
  bool OpenAt(std::int32_t rate);

  TDComm& comm_;
  std::uint8_t reply_ = 0;
  // The port has been open at least once, so the next open follows a close.
  bool opened_before_ = false;
};
