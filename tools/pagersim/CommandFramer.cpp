#include "CommandFramer.h"

#include "IntelHex.h"

namespace pagersim {
namespace {

constexpr size_t kRateCommandBytes = 7;   // "b" + rate digits + two fixed characters
constexpr size_t kEraseCommandBytes = 2;  // "e0"
// "s:" then the two length digits; only then is the record's size known.
constexpr size_t kRecordColonPos = 1;
constexpr size_t kRecordLengthEnd = 4;

bool IsMultiByteCommand(char c) { return c == 'b' || c == 'e' || c == 's'; }

}  // namespace

std::optional<FramerEvent> CommandFramer::Feed(uint8_t byte, bool flash_mode, int64_t now_ms) {
  last_byte_ms_ = now_ms;
  if (partial_.size() < kMaxCommandBytes) partial_ += static_cast<char>(byte);
  if (resyncing_) return std::nullopt;
  if (partial_.size() == 1) {
    const char c = partial_[0];
    if (flash_mode && IsMultiByteCommand(c)) return std::nullopt;
    // f, p, q and stray bytes are complete at once; the loader decides which it accepts.
    return Complete(FramerEvent::Type::kCommand);
  }
  switch (partial_[0]) {
    case 'b':
      if (partial_.size() == kRateCommandBytes) return Complete(FramerEvent::Type::kCommand);
      return std::nullopt;
    case 'e':
      if (partial_.size() == kEraseCommandBytes) return Complete(FramerEvent::Type::kCommand);
      return std::nullopt;
    default:
      return FeedRecordByte(byte);
  }
}

std::optional<FramerEvent> CommandFramer::FeedRecordByte(uint8_t byte) {
  const size_t n = partial_.size();
  if (n == kRecordColonPos + 1 && byte != ':') {
    StartResync("expected ':' after s");
    return std::nullopt;
  }
  // The loader derives the record size from these two digits and only understands them in
  // upper case, as the host sends them; a lower-case length would desynchronise it.
  if (n > kRecordColonPos + 1 && n <= kRecordLengthEnd && !IsUpperHexDigit(byte)) {
    StartResync("bad record length digit '" + std::string(1, static_cast<char>(byte)) + "'");
    return std::nullopt;
  }
  if (n < kRecordLengthEnd) return std::nullopt;
  const size_t data_bytes = HexDigitValue(partial_[2]) * 16 + HexDigitValue(partial_[3]);
  if (n == 1 + RecordTextLength(data_bytes)) return Complete(FramerEvent::Type::kCommand);
  return std::nullopt;
}

std::optional<FramerEvent> CommandFramer::Complete(FramerEvent::Type type) {
  FramerEvent event;
  event.type = type;
  event.bytes = std::move(partial_);
  event.reason = std::move(resync_reason_);
  partial_.clear();
  resync_reason_.clear();
  resyncing_ = false;
  return event;
}

void CommandFramer::StartResync(std::string reason) {
  resyncing_ = true;
  resync_reason_ = std::move(reason);
}

std::optional<int64_t> CommandFramer::DeadlineMs() const {
  if (resyncing_) return last_byte_ms_ + resync_quiet_ms_;
  if (!partial_.empty()) return last_byte_ms_ + command_timeout_ms_;
  return std::nullopt;
}

std::optional<FramerEvent> CommandFramer::Expire(int64_t now_ms) {
  const auto deadline = DeadlineMs();
  if (!deadline || now_ms < *deadline) return std::nullopt;
  if (resyncing_) return Complete(FramerEvent::Type::kMalformed);
  auto event = Complete(FramerEvent::Type::kTimeout);
  event->reason =
      "partial command dropped after " + std::to_string(command_timeout_ms_) + " ms of silence";
  return event;
}

}  // namespace pagersim
