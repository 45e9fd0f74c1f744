#include "bench/InstantPager.h"

#include <memory>

#include "engine/HexRecord.h"
#include "engine/Hexproc.h"

namespace {

constexpr std::uint32_t kRateCommandTail = 6;  // "b" is followed by "9600" and two check digits
constexpr std::uint32_t kEraseTail = 1;        // "e" is followed by "0"
constexpr std::uint32_t kRecordHead = 3;       // ':' and the two length digits
// After the head: four address digits, two type digits, the data, two
// checksum digits.
constexpr std::uint32_t kRecordTailFixed = 8;

class InstantDevice final : public ISerialDevice {
 public:
  explicit InstantDevice(InstantPager& pager) : pager_(pager) {}

  bool Open(const std::string&) override {
    ++pager_.opens;
    return true;
  }
  bool GetState(TDcb&) override { return true; }
  bool SetState(const TDcb&) override { return true; }
  bool SetQueues(std::uint32_t, std::uint32_t) override { return true; }
  bool SetTimeouts(const TCommTimeouts&) override { return true; }
  bool Purge(std::uint32_t) override {
    pager_.Clear();
    return true;
  }
  bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    while (done < count && pager_.TakeReply(data[done])) ++done;
    return true;
  }
  bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    for (std::uint32_t i = 0; i < count; ++i) pager_.Feed(data[i]);
    pager_.bytes_written += count;
    done = count;
    return true;
  }
  void Close() override {}
  int LastError() const override { return 0; }

 private:
  InstantPager& pager_;
};

}  // namespace

SerialDeviceFactory InstantPager::Factory() {
  return
      [this]() -> std::unique_ptr<ISerialDevice> { return std::make_unique<InstantDevice>(*this); };
}

void InstantPager::Clear() {
  pending_replies_ = 0;
  missing_ = 0;
  in_record_head_ = false;
  head_count_ = 0;
}

bool InstantPager::TakeReply(std::uint8_t& byte) {
  if (pending_replies_ == 0) return false;
  --pending_replies_;
  byte = kAck;
  return true;
}

void InstantPager::Feed(std::uint8_t byte) {
  if (missing_ == 0) {
    first_ = byte;
    switch (byte) {
      case 'b':
        missing_ = kRateCommandTail;
        return;
      case 'e':
        missing_ = kEraseTail;
        return;
      case 's':
        missing_ = kRecordHead;
        in_record_head_ = true;
        head_count_ = 0;
        return;
      default:  // "f", "p", "q", and anything else, answered alone
        Complete(byte);
        return;
    }
  }
  if (in_record_head_) {
    head_[head_count_++] = static_cast<char>(byte);
    if (--missing_ == 0) {
      in_record_head_ = false;
      const int length = DecodeRecordLength(head_[1], head_[2]);
      missing_ = 2 * static_cast<std::uint32_t>(length) + kRecordTailFixed;
    }
    return;
  }
  if (--missing_ == 0) Complete(first_);
}

void InstantPager::Complete(std::uint8_t first) {
  ++commands;
  if (first == kCmdSend) ++sends;
  if (first == kCmdProgram) ++programs;
  if (first == kCmdExitFlash) ++exits;
  ++pending_replies_;
}
