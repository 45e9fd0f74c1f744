#include "engine/LoaderProbe.h"

#include <algorithm>
#include <cmath>

#include "engine/Hexproc.h"
#include "engine/Protocol.h"

namespace {
// A probe's "q" and the reply byte.
constexpr std::size_t kProbeLineBytes = 2;

std::uint32_t ProbeLineMs(std::int32_t rate) {
  return static_cast<std::uint32_t>(std::ceil(LineMs(kProbeLineBytes, rate)));
}

}  // namespace

LoaderProbe::LoaderProbe(TDComm& comm, ITickSource& clock, PortTurnaround& turnaround)
    : comm_(comm), clock_(clock), turnaround_(turnaround) {}

LoaderProbe::~LoaderProbe() { Close(); }

void LoaderProbe::Close() {
  comm_.ClosePort();
  sent_ = false;
}

std::uint32_t LoaderProbe::ReplyWaitMs(std::int32_t rate) const {
  return std::max(kProbeReplyLimitMs, ProbeLineMs(rate) + turnaround_.BoundMs());
}

// Reads are short, so a probe's wait and a watch's spacing are kept by the
// clock, not by the driver's time limit.
bool LoaderProbe::OpenAt(std::int32_t rate) {
  if (comm_.IsOpened() && comm_.BaudRate == rate) return true;
  Close();
  comm_.BaudRate = rate;
  comm_.Timeouts.ReadConstant = kProbeReadStepMs;
  // After a close of this port some drivers refuse it for a moment.
  const bool opened = opened_before_ ? comm_.ReopenPort() : comm_.OpenPort();
  if (!opened) return false;
  opened_before_ = true;
  comm_.Purge();
  return true;
}

void LoaderProbe::Send() {
  last_sent_ = clock_.TickCount();
  sent_ = true;
  comm_.WriteByte(&kCmdExitFlash);
}

bool LoaderProbe::ReadStep(ProbeAnswer& failed) {
  if (comm_.ReadByte(&reply_)) return true;
  // A port lost, or closed by a failure, answers nothing more.
  failed = comm_.Lost || !comm_.IsOpened() ? ProbeAnswer::kLost : ProbeAnswer::kSilent;
  return false;
}

ProbeAnswer LoaderProbe::Probe(std::int32_t rate) {
  if (!OpenAt(rate)) return ProbeAnswer::kCannotOpen;
  // Only a byte that follows the command answers it.
  comm_.PurgeInput();
  Send();
  const std::uint32_t wait = ReplyWaitMs(rate);
  ProbeAnswer failed = ProbeAnswer::kSilent;
  while (failed == ProbeAnswer::kSilent && ElapsedMs(last_sent_, clock_.TickCount()) < wait) {
    if (ReadStep(failed)) {
      turnaround_.Add(1, rate, ElapsedMs(last_sent_, clock_.TickCount()));
      return ProbeAnswer::kAnswered;
    }
  }
  return failed;
}

ProbeAnswer LoaderProbe::Listen(std::int32_t rate, int probes, const std::function<bool()>& stop) {
  if (!OpenAt(rate)) return ProbeAnswer::kCannotOpen;
  // Only bytes that follow the probes answer them.
  comm_.PurgeInput();
  const std::uint32_t due_after = ProbeLineMs(rate) + turnaround_.UsualBoundMs();
  int unanswered = 0;
  std::uint32_t last_counted = 0;
  ProbeAnswer failed = ProbeAnswer::kSilent;
  while (failed == ProbeAnswer::kSilent && !(stop && stop())) {
    const std::uint32_t now = clock_.TickCount();
    if (unanswered >= probes && ElapsedMs(last_counted, now) >= due_after) {
      return ProbeAnswer::kSilent;
    }
    // The spacing holds from one watch to the next: a pager that answers
    // at once is not asked faster for it.
    if (unanswered < probes && (!sent_ || ElapsedMs(last_sent_, now) >= kListenSpacingMs)) {
      Send();
      ++unanswered;
      last_counted = last_sent_;
    }
    if (ReadStep(failed)) return ProbeAnswer::kAnswered;
  }
  return failed;
}

void LoaderProbe::HandOver() {
  if (comm_.IsOpened() && sent_) {
    const std::uint32_t wait = ReplyWaitMs(comm_.BaudRate);
    ProbeAnswer failed = ProbeAnswer::kSilent;
    while (failed == ProbeAnswer::kSilent && ElapsedMs(last_sent_, clock_.TickCount()) < wait) {
      (void)ReadStep(failed);
    }
    comm_.PurgeInput();
  }
  Close();
}
