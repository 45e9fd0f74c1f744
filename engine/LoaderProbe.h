// Asking the line whether a pager's loader is there, for a bench that
// flashes each pager as it is connected, and asking one to leave flash mode.
// Both are the exit command "q", the one command harmless in every state of
// the loader: in flash mode it obeys (leaves flash mode, ACKs, and listens at
// the start rate again); in idle it refuses with NAK. Any byte back is a
// loader on the line; silence is none.
//
// How long a reply may take is the port's turnaround (Turnaround.h): an
// adapter's latency timer can hold a reply up to 255 ms. A probe waits that
// long for its reply, and the port is handed to an update only once every
// reply a probe may still bring has come and gone.
#pragma once

#include <cstdint>
#include <functional>

#include "common/Clock.h"
#include "engine/Turnaround.h"
#include "link/Dcommthread.h"

// A probe waits at least this long for its reply, however quick the port.
constexpr std::uint32_t kProbeReplyLimitMs = 60;
// While the line is watched for silence, a "q" goes out this often without
// waiting for the one before to be answered: the line time of a "q" and its
// reply at the start rate, so a loader that reads a command only once it
// has answered the last still answers each...
constexpr std::uint32_t kListenSpacingMs = 17;
// ...and reads are cut into steps this long, so each goes out on time.
constexpr std::uint32_t kProbeReadStepMs = 1;

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
  // Probes over `comm`, whose device its owner names, timed on `clock`; the
  // port is kept open between probes at one rate, and closed by Close,
  // HandOver or when the probe goes. Every reply in time adds to
  // `turnaround`, whose bound sets every wait.
  LoaderProbe(TDComm& comm, ITickSource& clock, PortTurnaround& turnaround);
  ~LoaderProbe();
  LoaderProbe(const LoaderProbe&) = delete;
  LoaderProbe& operator=(const LoaderProbe&) = delete;

  // Sends "q" at `rate` bit/s and waits up to ReplyWaitMs for any byte. The
  // port is opened, or reopened at another rate, first.
  ProbeAnswer Probe(std::int32_t rate);
  // Watches the line at `rate`: a "q" every kListenSpacingMs, unanswered
  // ones included, until any byte comes (kAnswered) or `probes` of them in
  // a row have gone unanswered, the last one's reply due by the port's usual
  // turnaround bound (kSilent); kSilent too, at once, when `stop` says so.
  // The probes are counted, not the time: a thread woken late sends fewer
  // of them, and waits for them all the same.
  ProbeAnswer Listen(std::int32_t rate, int probes, const std::function<bool()>& stop);
  // How long a probe at `rate` waits: both bytes' line time and the port's
  // turnaround bound, and never less than kProbeReplyLimitMs.
  std::uint32_t ReplyWaitMs(std::int32_t rate) const;
  // The byte that answered the last probe: ACK from a loader that has just
  // left flash mode, NAK from one in idle.
  std::uint8_t Reply() const { return reply_; }
  // Readies the port for the update that follows: whatever the last probes
  // may still bring is read and dropped until their replies are due no
  // more, so no late reply is taken for the answer to "f"; then the port
  // is closed for the update to open.
  void HandOver();
  void Close();
  // The port was closed just before the first probe: its open is retried
  // as every reopen is.
  void OpensAfterClose() { opened_before_ = true; }

 private:
  bool OpenAt(std::int32_t rate);
  // Writes "q" and notes when.
  void Send();
  // One read step: true with a byte in reply_.
  bool ReadStep(ProbeAnswer& failed);

  TDComm& comm_;
  ITickSource& clock_;
  PortTurnaround& turnaround_;
  std::uint8_t reply_ = 0;
  // When the last "q" went out, and whether one has since the port opened.
  std::uint32_t last_sent_ = 0;
  bool sent_ = false;
  // The port has been open at least once, so the next open follows a close.
  bool opened_before_ = false;
};
