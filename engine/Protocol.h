// What the loader's replies mean beyond their bytes, for those who watch an
// update or a probe rather than run it: which acknowledged command erased the
// flash, the rate the loader listens at after a reply, and how many bytes a
// whole update puts on the line. The bytes themselves are in Hexproc.h.
#pragma once

#include <cstdint>
#include <string>

#include "engine/Hexproc.h"
#include "engine/UpdateObserver.h"

// Every byte on the line is 10 bit times: start, 8 data, stop.
constexpr int kBitsPerByte = 10;

// The time `bytes` take on the line at `rate` bit/s, in ms.
double LineMs(std::size_t bytes, std::int32_t rate);

// The flash is erased once the erase command has been acknowledged: from
// then on the pager holds no whole firmware until an update finishes.
bool ErasedBy(const CommandReply& reply);

// The rate the loader listens at after `reply`, having listened at `rate`
// before: the told rate once it acknowledged a rate command, the start rate
// once it acknowledged the exit command.
std::int32_t RateAfterReply(const CommandReply& reply, std::int32_t rate);

// The same after a probe's "q" sent at `asked_at` was answered with
// `reply`, for a loader last known to listen at `rate`: an ACK at any rate
// is a loader that has just left flash mode, and a NAK at the start rate
// one in idle; both listen at the start rate now. Any other byte tells
// nothing of the rate.
std::int32_t RateAfterProbe(std::int32_t asked_at, std::uint8_t reply, std::int32_t rate);

// The bytes of a whole update both ways, commands and their one-byte
// replies: before the rate change (at the start rate) and after it.
struct UpdateLineBytes {
  std::uint64_t at_start_rate = 0;
  std::uint64_t at_transfer_rate = 0;
};
// For `records` records carrying `record_chars` characters between them.
UpdateLineBytes LineBytesOfUpdate(int records, std::uint64_t record_chars);
