#include "tests/support/ScriptedPager.h"

#include <algorithm>

#include "engine/HexRecord.h"

class ScriptedDevice final : public ISerialDevice {
 public:
  explicit ScriptedDevice(ScriptedPager& line) : line_(line) {}
  ~ScriptedDevice() override { Close(); }

  bool Open(const std::string& name) override {
    ++line_.opens;
    line_.calls.push_back("open " + name);
    line_.opened_names.push_back(name);
    if (Failing("open") || (line_.unplugged && line_.unplugged())) return false;
    open_ = true;
    ++line_.open_devices;
    return true;
  }
  bool GetState(TDcb& dcb) override {
    line_.calls.push_back("getstate");
    dcb = line_.driver_dcb;
    return !Failing("getstate");
  }
  bool SetState(const TDcb& dcb) override {
    line_.calls.push_back("setstate");
    if (Failing("setstate")) return false;
    if (line_.refuse_equal_flow_chars && dcb.XonChar == dcb.XoffChar) return false;
    line_.applied_dcbs.push_back(dcb);
    line_.rate_ = dcb.BaudRate;
    return true;
  }
  bool SetQueues(std::uint32_t in_queue, std::uint32_t out_queue) override {
    line_.calls.push_back("setqueues");
    if (Failing("setqueues")) return false;
    line_.queue_sizes.emplace_back(in_queue, out_queue);
    return true;
  }
  bool SetTimeouts(const TCommTimeouts& timeouts) override {
    line_.calls.push_back("settimeouts");
    if (Failing("settimeouts")) return false;
    line_.applied_timeouts.push_back(timeouts);
    line_.read_limit_ms_ = timeouts.ReadConstant;
    return true;
  }
  bool Purge(std::uint32_t flags) override {
    line_.calls.push_back("purge " + std::to_string(flags));
    ++line_.purges;
    // Only what has arrived is dropped; a reply still on its way is not.
    if ((flags & (kPurgeRxAbort | kPurgeRxClear)) != 0) {
      std::erase_if(line_.pending_,
                    [now = line_.clock_.Now()](const auto& byte) { return byte.due <= now; });
    }
    return true;
  }
  bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    line_.read_times.push_back(line_.clock_.Now());
    if (line_.hung_up || count == 0) return false;
    auto& pending = line_.pending_;
    const std::uint32_t now = line_.clock_.Now();
    if (!pending.empty() && pending.front().due <= now + line_.read_limit_ms_) {
      line_.clock_.Advance(pending.front().due > now ? pending.front().due - now : 0);
      data[0] = pending.front().byte;
      pending.pop_front();
      done = 1;
      return true;
    }
    line_.clock_.Advance(line_.read_limit_ms_);
    return true;
  }
  bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    if (line_.hung_up) return false;
    const std::uint32_t accepted = line_.short_writes && count > 1 ? count - 1 : count;
    for (std::uint32_t i = 0; i < accepted; ++i) line_.Receive(data[i]);
    done = accepted;
    return true;
  }
  void Close() override {
    if (!open_) return;
    open_ = false;
    ++line_.closes;
    --line_.open_devices;
    line_.calls.push_back("close");
  }
  int LastError() const override { return 2; }

 private:
  bool Failing(const std::string& call) const {
    return line_.opens == line_.fail_open_number && line_.fail_call == call;
  }

  ScriptedPager& line_;
  bool open_ = false;
};

SerialDeviceFactory ScriptedPager::Factory() {
  return [this] { return std::make_unique<ScriptedDevice>(*this); };
}

std::vector<std::string> ScriptedPager::CommandTexts() const {
  std::vector<std::string> texts;
  for (const SentCommand& command : commands) texts.push_back(command.bytes);
  return texts;
}

bool ScriptedPager::CommandDone() const {
  switch (partial_[0]) {
    case 'b':
      return partial_.size() == 7;
    case 'e':
      return partial_.size() == 2;
    case 's': {
      if (partial_.size() < 4) return false;
      const int length = DecodeRecordLength(partial_[2], partial_[3]);
      return partial_.size() == 1 + kRecordOverheadChars + 2 * static_cast<std::size_t>(length);
    }
    default:
      return true;
  }
}

void ScriptedPager::Receive(std::uint8_t byte) {
  wire.push_back(static_cast<char>(byte));
  partial_.push_back(static_cast<char>(byte));
  if (CommandDone()) CommandComplete();
}

void ScriptedPager::CommandComplete() {
  SentCommand command{partial_, clock_.Now(), rate_};
  partial_.clear();
  commands.push_back(command);
  const PagerReply reply =
      respond ? respond(command, static_cast<int>(commands.size()) - 1) : PagerReply::Ack();
  if (!reply.silent) pending_.push_back({clock_.Now() + reply.delay_ms, reply.byte});
}
