#include "engine/LoaderProbe.h"

#include "engine/Hexproc.h"

LoaderProbe::LoaderProbe(TDComm& comm) : comm_(comm) {}

LoaderProbe::~LoaderProbe() { Close(); }

void LoaderProbe::Close() { comm_.ClosePort(); }

// A probe's reply comes at once or not at all: one read, limited to the
// probe's wait, judges it.
bool LoaderProbe::OpenAt(std::int32_t rate) {
  if (comm_.IsOpened() && comm_.BaudRate == rate) return true;
  comm_.ClosePort();
  comm_.BaudRate = rate;
  comm_.Timeouts.ReadConstant = kProbeReplyLimitMs;
  // After a close of this port some drivers refuse it for a moment.
  const bool opened = opened_before_ ? comm_.ReopenPort() : comm_.OpenPort();
  if (!opened) return false;
  opened_before_ = true;
  comm_.Purge();
  return true;
}

ProbeAnswer LoaderProbe::Probe(std::int32_t rate) {
  if (!OpenAt(rate)) return ProbeAnswer::kCannotOpen;
  // Only a byte that follows the command answers it.
  comm_.PurgeInput();
  comm_.WriteByte(&kCmdExitFlash);
  if (comm_.ReadByte(&reply_)) return ProbeAnswer::kAnswered;
  return comm_.Lost ? ProbeAnswer::kLost : ProbeAnswer::kSilent;
}
