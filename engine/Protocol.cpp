#include "engine/Protocol.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr double kMsPerSecond = 1000.0;
// Each command is answered by one byte.
constexpr std::uint64_t kReplyBytes = 1;
constexpr std::uint64_t kOneByteCommand = 1;
const std::uint64_t kEraseCommandBytes = std::string_view(kCmdErase).size();

// "f" and the rate command, each answered, at the start rate.
constexpr std::uint64_t kStartRateBytes =
    kOneByteCommand + kReplyBytes + kRateCommandLength + kReplyBytes;
// "e0" and "q", each answered, at the transfer rate.
const std::uint64_t kFixedTransferRateBytes =
    kEraseCommandBytes + kReplyBytes + kOneByteCommand + kReplyBytes;
// Per record besides its characters: "s", the reply, "p", the reply.
constexpr std::uint64_t kPerRecordBytes =
    kOneByteCommand + kReplyBytes + kOneByteCommand + kReplyBytes;

}  // namespace

double LineMs(std::size_t bytes, std::int32_t rate) {
  return rate > 0 ? static_cast<double>(bytes) * kBitsPerByte * kMsPerSecond / rate : 0.0;
}

bool ErasedBy(const CommandReply& reply) {
  return reply.Reply == rpAck && reply.Command == kCmdErase;
}

std::int32_t RateAfterReply(const CommandReply& reply, std::int32_t rate) {
  if (reply.Reply != rpAck) return rate;
  if (reply.Command.size() == 1 && static_cast<std::uint8_t>(reply.Command[0]) == kCmdExitFlash) {
    return kStartBaudRate;
  }
  const int told = RateToldBy(reply.Command);
  return told != 0 ? told : rate;
}

std::int32_t RateAfterProbe(std::int32_t asked_at, std::uint8_t reply, std::int32_t rate) {
  if (reply == kAck || (reply == kNak && asked_at == kStartBaudRate)) return kStartBaudRate;
  return rate;
}

UpdateLineBytes LineBytesOfUpdate(int records, std::uint64_t record_chars) {
  return {kStartRateBytes, kFixedTransferRateBytes +
                               kPerRecordBytes * static_cast<std::uint64_t>(records) +
                               record_chars};
}
