#include "LoaderCore.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace pagersim {
namespace {

struct RateCommand {
  std::string_view text;
  int rate_bps;
};
constexpr std::array<RateCommand, 3> kRateCommands = {
    {{"b2400DC", 2400}, {"b4800B8", 4800}, {"b96006A", 9600}}};

constexpr uint32_t kSegmentShift = 4;  // 02 record: base = segment * 16
constexpr uint32_t kLinearShift = 16;  // 04 record: base = upper half of the address
constexpr size_t kAddressRecordBytes = 2;
constexpr double kRandomRange = 4294967296.0;  // mt19937 yields 32-bit values

std::string HexByte(uint8_t b) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", b);
  return buf;
}

std::string HexAddress(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", a);
  return buf;
}

// Records are shown as "s <record>" so the record is a token of its own in the log.
std::string RxText(const Command& command, bool flash_mode) {
  if (flash_mode && command.bytes.size() > 1 && command.bytes[0] == 's') {
    return "s " + EscapeBytes(std::string_view(command.bytes).substr(1));
  }
  return EscapeBytes(command.bytes);
}

}  // namespace

int RateOfCommand(std::string_view bytes) {
  for (const auto& entry : kRateCommands) {
    if (entry.text == bytes) return entry.rate_bps;
  }
  return 0;
}

LoaderCore::LoaderCore(PagerOptions options, EventSink sink)
    : options_(std::move(options)),
      sink_(std::move(sink)),
      rng_(options_.seed),
      loss_rng_(options_.seed + 1) {}

CommandOutcome LoaderCore::Handle(const Command& command) {
  const int n = ++commands_;
  const bool was_idle = !flash_mode_;
  const bool starts_s = !command.bytes.empty() && command.bytes[0] == 's';
  const bool is_send = flash_mode_ && starts_s;
  const bool is_program = flash_mode_ && command.bytes == "p";
  sends_ += is_send;
  programs_ += is_program;
  // One draw per "s"/"p" whatever else happens, so a seed gives the same NAK pattern
  // whichever other faults are combined with it.
  const bool random_hit = (is_send || is_program) && DrawRandomNak();

  Log(EventKind::kRx, RxText(command, flash_mode_));
  CheckLineRate(command.line_rate_bps);
  CommandOutcome out;
  if (IsSilent(n)) {
    Log(EventKind::kFault, "silent");
    return out;
  }
  if (auto fault = InjectedNak(n, is_send, is_program, random_hit)) {
    Log(EventKind::kFault, *fault);
    out.reply = kNak;
  } else {
    out.reply = Execute(command, &out);
  }
  ApplyStray(n, &out);
  ApplyIdleLoss(was_idle, &out);
  ApplyDelay(n, &out);
  ApplyHoldAndDouble(n, &out);
  return out;
}

void LoaderCore::SwitchRate(int rate_bps) {
  rate_bps_ = rate_bps;
  Log(EventKind::kRate, std::to_string(rate_bps));
}

uint8_t LoaderCore::Reject(std::string why) {
  Log(EventKind::kErr, std::move(why));
  return kNak;
}

void LoaderCore::CheckLineRate(int line_rate_bps) {
  if (line_rate_bps != 0 && line_rate_bps != rate_bps_) {
    Log(EventKind::kErr, "rate mismatch: expected " + std::to_string(rate_bps_) + " got " +
                             std::to_string(line_rate_bps));
  }
}

bool LoaderCore::IsSilent(int command) const {
  return options_.silent || (options_.silent_from > 0 && command >= options_.silent_from);
}

std::optional<std::string> LoaderCore::InjectedNak(int command, bool is_send, bool is_program,
                                                   bool random_hit) const {
  const auto& cmds = options_.nak_cmd;
  if (std::find(cmds.begin(), cmds.end(), command) != cmds.end()) {
    return "nak-cmd " + std::to_string(command);
  }
  if (is_send) {
    for (const auto& fault : options_.nak_send) {
      if (sends_ >= fault.first_send && sends_ < fault.first_send + fault.count) {
        return "nak-send " + std::to_string(sends_);
      }
    }
  }
  if (is_program && programs_ <= options_.nak_program) {
    return "nak-program " + std::to_string(programs_);
  }
  if (random_hit) return std::string("random-nak");
  return std::nullopt;
}

bool LoaderCore::DrawRandomNak() {
  if (options_.random_nak_rate <= 0.0) return false;
  // Compared on the raw 32-bit output: distributions differ between standard libraries,
  // the engine's output does not.
  return static_cast<double>(rng_()) / kRandomRange < options_.random_nak_rate;
}

// Only replies given and left in idle: the ACK that takes a pager into flash
// mode is never lost.
void LoaderCore::ApplyIdleLoss(bool was_idle, CommandOutcome* out) {
  if (!was_idle || flash_mode_ || options_.lose_idle_rate <= 0.0 || !out->reply) return;
  if (static_cast<double>(loss_rng_()) / kRandomRange >= options_.lose_idle_rate) return;
  out->reply.reset();
  Log(EventKind::kFault, "lost-reply");
}

void LoaderCore::ApplyStray(int command, CommandOutcome* out) {
  for (const auto& fault : options_.stray) {
    if (fault.command == command) {
      out->reply = fault.byte;
      Log(EventKind::kFault, "stray " + HexByte(fault.byte));
      return;
    }
  }
}

void LoaderCore::ApplyDelay(int command, CommandOutcome* out) {
  if (options_.delay_ms > 0 && command >= options_.delay_from) {
    out->delay_ms = options_.delay_ms;
    Log(EventKind::kFault, "delay " + std::to_string(options_.delay_ms));
  }
}

void LoaderCore::ApplyHoldAndDouble(int command, CommandOutcome* out) {
  for (const auto& fault : options_.hold_reply) {
    if (fault.command == command) {
      out->hold_until_ms = fault.at_ms;
      Log(EventKind::kFault, "hold-reply " + std::to_string(fault.at_ms));
    }
  }
  const auto& doubled = options_.double_reply;
  if (std::find(doubled.begin(), doubled.end(), command) != doubled.end()) {
    out->copies = 2;
    Log(EventKind::kFault, "double");
  }
}

uint8_t LoaderCore::Execute(const Command& command, CommandOutcome* out) {
  if (command.malformed) return Reject(command.malformed_reason);
  if (!flash_mode_) return ExecuteIdle(command);
  switch (command.bytes[0]) {
    case 'f':
      // A host that lost the ACK of "f" sends it again; staying put keeps that harmless.
      Log(EventKind::kInfo, "already in flash mode");
      return kAck;
    case 'b':
      return ChangeRate(command, out);
    case 'e':
      return Erase(command);
    case 's':
      return AcceptRecord(command);
    case 'p':
      return ProgramPending(out);
    case 'q':
      return Quit(out);
    default:
      return Reject("unexpected byte " + HexByte(command.bytes[0]) + " in flash mode");
  }
}

uint8_t LoaderCore::ExecuteIdle(const Command& command) {
  if (command.bytes != "f") {
    return Reject("unexpected byte " + HexByte(command.bytes[0]) + " in idle");
  }
  flash_mode_ = true;
  erased_ = false;
  pending_.reset();
  base_address_ = 0;
  Log(EventKind::kInfo, "flash mode");
  return kAck;
}

uint8_t LoaderCore::ChangeRate(const Command& command, CommandOutcome* out) {
  const int rate = RateOfCommand(command.bytes);
  if (rate == 0) return Reject("unknown rate command");
  out->new_rate_bps = rate;
  return kAck;
}

uint8_t LoaderCore::Erase(const Command& command) {
  if (command.bytes != "e0") return Reject("unknown erase command");
  image_.Erase();
  erased_ = true;
  pending_.reset();
  Log(EventKind::kInfo, "erase");
  return kAck;
}

uint8_t LoaderCore::AcceptRecord(const Command& command) {
  if (!erased_) return Reject("s before e0");
  HexRecord record;
  std::string why;
  if (!DecodeRecord(std::string_view(command.bytes).substr(1), &record, &why)) {
    return Reject(why);
  }
  if (pending_) Log(EventKind::kInfo, "unprogrammed record replaced");
  pending_ = std::move(record);
  return kAck;
}

uint8_t LoaderCore::ProgramPending(CommandOutcome* out) {
  if (!pending_) return Reject("p without record");
  const uint8_t reply = ApplyRecord(*pending_);
  if (reply != kAck) return reply;  // left pending: the host may still resend "p"
  pending_.reset();
  ++programmed_;
  out->hang_up = options_.hangup_after > 0 && programmed_ == options_.hangup_after;
  return kAck;
}

uint8_t LoaderCore::ApplyRecord(const HexRecord& record) {
  const bool address_record =
      record.type == kRecordExtendedSegment || record.type == kRecordExtendedLinear;
  if (address_record && record.data.size() != kAddressRecordBytes) {
    return Reject("address record with " + std::to_string(record.data.size()) + " bytes");
  }
  switch (record.type) {
    case kRecordData: {
      const uint32_t address = base_address_ + record.offset;
      const size_t again = image_.Program(address, record.data);
      Log(EventKind::kInfo,
          "program " + HexAddress(address) + " " + std::to_string(record.data.size()));
      if (again > 0) {
        Log(EventKind::kErr,
            "reprogrammed " + std::to_string(again) + " bytes at " + HexAddress(address));
      }
      return kAck;
    }
    case kRecordExtendedSegment:
    case kRecordExtendedLinear: {
      const uint32_t value = uint32_t{record.data[0]} << 8 | record.data[1];
      const uint32_t shift = record.type == kRecordExtendedSegment ? kSegmentShift : kLinearShift;
      base_address_ = value << shift;
      Log(EventKind::kInfo, "base " + HexAddress(base_address_));
      return kAck;
    }
    case kRecordStartSegment:
    case kRecordStartLinear:
      Log(EventKind::kInfo, "start address record ignored");
      return kAck;
    default:
      return Reject("unsupported record type " + HexByte(record.type));
  }
}

uint8_t LoaderCore::Quit(CommandOutcome* out) {
  flash_mode_ = false;
  erased_ = false;
  pending_.reset();
  ++quits_;
  Log(EventKind::kInfo, "idle");
  // Back in idle the loader listens at the start rate again, where the next
  // update begins.
  if (rate_bps_ != kInitialRateBps) out->new_rate_bps = kInitialRateBps;
  out->finish = options_.exit_after_q > 0 && quits_ == options_.exit_after_q;
  return kAck;
}

}  // namespace pagersim
