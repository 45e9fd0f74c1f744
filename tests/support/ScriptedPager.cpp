#include "tests/support/ScriptedPager.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/HexRecord.h"

class ScriptedDevice final : public ISerialDevice {
 public:
  explicit ScriptedDevice(ScriptedPager& line) : line_(line) {}
  ~ScriptedDevice() override { Close(); }

  bool Open(const std::string& name) override {
    ++line_.opens;
    line_.calls.push_back("open " + name);
    line_.opened_names.push_back(name);
    line_.open_times.push_back(line_.clock_.Now());
    if (Failing("open") || (line_.unplugged && line_.unplugged())) return Fail(line_.fail_error);
    if (Refused()) return Fail(line_.refusal_error);
    open_ = true;
    ++line_.open_devices;
    return true;
  }
  bool GetState(TDcb& dcb) override {
    line_.calls.push_back("getstate");
    dcb = line_.driver_dcb;
    return !Failing("getstate") || Fail(line_.fail_error);
  }
  bool SetState(const TDcb& dcb) override {
    line_.calls.push_back("setstate");
    if (Failing("setstate")) return Fail(line_.fail_error);
    if (line_.refuse_equal_flow_chars && dcb.XonChar == dcb.XoffChar) return Fail(87);
    if (line_.refused_state_error != 0) return Fail(line_.refused_state_error);
    Apply(dcb);
    return true;
  }
  bool SetQueues(std::uint32_t in_queue, std::uint32_t out_queue) override {
    line_.calls.push_back("setqueues");
    if (Failing("setqueues")) return Fail(line_.fail_error);
    line_.queue_sizes.emplace_back(in_queue, out_queue);
    return true;
  }
  bool SetTimeouts(const TCommTimeouts& timeouts) override {
    line_.calls.push_back("settimeouts");
    if (Failing("settimeouts")) return Fail(line_.fail_error);
    line_.applied_timeouts.push_back(timeouts);
    line_.read_limit_ms_ = timeouts.ReadConstant;
    return true;
  }
  bool Purge(std::uint32_t flags) override {
    line_.calls.push_back("purge " + std::to_string(flags));
    ++line_.purges;
    if (Gone()) return Fail(line_.hang_up_error);
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
    if (count == 0) return false;
    if (Gone() && !line_.hung_up_reads_time_out) return Fail(line_.hang_up_error);
    auto& pending = line_.pending_;
    const std::uint32_t now = line_.clock_.Now();
    const std::uint32_t limit = line_.reads_ignore_time_limit ? 0 : line_.read_limit_ms_;
    if (!Gone() && !pending.empty() && pending.front().due <= now + limit) {
      line_.clock_.Advance(pending.front().due > now ? pending.front().due - now : 0);
      data[0] = pending.front().byte;
      pending.pop_front();
      done = 1;
      return true;
    }
    line_.clock_.Advance(limit);
    return true;
  }
  bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    if (Gone()) return Fail(line_.hang_up_error);
    const std::uint32_t accepted = line_.short_writes && count > 1 ? count - 1 : count;
    for (std::uint32_t i = 0; i < accepted; ++i) line_.Receive(data[i]);
    done = accepted;
    return true;
  }
  bool CheckPresent() override {
    line_.calls.push_back("check");
    return !Gone() || Fail(line_.hang_up_error);
  }
  // A close that hangs touches nothing of the line: it has not closed, and
  // it runs on a thread that may outlive the test.
  void Close() override {
    if (!open_) return;
    open_ = false;
    if (line_.hang_closes) {
      std::this_thread::sleep_for(std::chrono::hours(1));
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(line_.close_late_real_ms));
    ++line_.closes;
    --line_.open_devices;
    line_.calls.push_back("close");
  }
  int LastError() const override { return last_error_; }

 private:
  // The line is gone from under an open device: hung up, or the adapter out.
  bool Gone() const { return line_.hung_up || (line_.unplugged && line_.unplugged()); }
  bool Failing(const std::string& call) const {
    return line_.opens == line_.fail_open_number && line_.fail_call == call;
  }
  bool Refused() const {
    return line_.refused_opens > 0 && line_.opens >= line_.refuse_open_from &&
           line_.opens < line_.refuse_open_from + line_.refused_opens;
  }
  bool Fail(int error) {
    last_error_ = error;
    return false;
  }
  void Apply(const TDcb& dcb) {
    line_.applied_dcbs.push_back(dcb);
    line_.driver_dcb = dcb;
    line_.rate_ = dcb.BaudRate;
  }
  ScriptedPager& line_;
  bool open_ = false;
  int last_error_ = 0;
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
  if (reply.silent) return;
  const std::uint32_t due = clock_.Now() + reply.delay_ms;
  pending_.push_back({due, reply.byte});
  if (reply.trailing_byte >= 0) {
    pending_.push_back(
        {due + reply.trailing_after_ms, static_cast<std::uint8_t>(reply.trailing_byte)});
  }
}
