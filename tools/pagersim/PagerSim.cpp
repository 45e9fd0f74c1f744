#include "PagerSim.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "PagerSystem.h"

namespace pagersim {
namespace {

constexpr int kLineRetryMs = 50;    // back-off while the line reports errors or hang-ups
constexpr int kDrainSettleMs = 20;  // a pty hands written bytes to the slave asynchronously
constexpr int kDrainPollMs = 5;
constexpr int kNulAfterRateMs = 3;  // an FTDI chip's stray byte follows the rate change this late
constexpr size_t kReadChunkBytes = 256;

std::string ReplyName(uint8_t reply) {
  if (reply == kAck) return "ACK";
  if (reply == kNak) return "NAK";
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", reply);
  return buf;
}

}  // namespace

PagerSim::PagerSim(PagerOptions options)
    : options_(std::move(options)),
      core_(NewCore()),
      framer_(options_.command_timeout_ms, kResyncQuietMs),
      schedule_(options_) {}

LoaderCore PagerSim::NewCore() {
  return LoaderCore(
      options_, [this](EventKind kind, std::string text) { AppendLocked(kind, std::move(text)); });
}

PagerSim::~PagerSim() { Stop(); }

void PagerSim::SetEventObserver(std::function<void(const LogEvent&)> observer) {
  std::lock_guard lock(mu_);
  observer_ = std::move(observer);
}

bool PagerSim::Start(std::string* err) {
  if (started_) {
    *err = "already started";
    return false;
  }
  start_time_ = Clock::now();
  pacer_ = LinePacer<Clock>(start_time_);
  last_line_activity_ = start_time_;
  line_ = OpenPagerLine(options_.device_path, kInitialRateBps, err);
  if (!line_) return false;
  {
    std::lock_guard lock(mu_);
    slave_path_ = line_->Path();
  }
  {
    std::lock_guard lock(mu_);
    started_ = true;
  }
  Append(EventKind::kInfo,
         "start line=" + SlavePath() + " rate=" + std::to_string(kInitialRateBps));
  FollowSchedule();
  thread_ = std::thread(&PagerSim::ServeLoop, this);
  return true;
}

void PagerSim::Stop() {
  {
    std::lock_guard lock(mu_);
    if (!started_ || stopping_) return;
    stopping_ = true;
  }
  // The line's wake ends a wait for bytes; the condition variable covers sleeps.
  stop_cv_.notify_all();
  line_->Wake();
  if (thread_.joinable()) thread_.join();
  line_->Close();
  Append(EventKind::kInfo, "stop");
}

std::string PagerSim::SlavePath() const {
  std::lock_guard lock(mu_);
  return slave_path_;
}

std::vector<LogEvent> PagerSim::Log() const {
  std::lock_guard lock(mu_);
  return events_;
}

FlashImage PagerSim::image() const {
  std::lock_guard lock(mu_);
  return core_.image();
}

int PagerSim::AttachedPager() const {
  std::lock_guard lock(mu_);
  return attached_pager_;
}

void PagerSim::FollowSchedule() {
  for (const SessionChange& change : schedule_.Advance(NowMs())) {
    if (change.kind == SessionChange::Kind::kAttach) {
      AttachPager(change.session);
    } else {
      RemovePager(change.session);
    }
  }
}

// A pager just connected knows nothing of what was sent before: a fresh loader in idle,
// listening at the start rate.
void PagerSim::AttachPager(int pager) {
  framer_ = CommandFramer(options_.command_timeout_ms, kResyncQuietMs);
  line_->SetRate(kInitialRateBps);
  std::lock_guard lock(mu_);
  if (pager > 1) core_ = NewCore();
  attached_pager_ = pager;
  if (schedule_.Active())
    AppendLocked(EventKind::kInfo, "pager " + std::to_string(pager) + " attached");
}

void PagerSim::RemovePager(int pager) {
  framer_ = CommandFramer(options_.command_timeout_ms, kResyncQuietMs);
  std::lock_guard lock(mu_);
  left_images_.push_back(core_.image());
  attached_pager_ = 0;
  AppendLocked(EventKind::kInfo, "pager " + std::to_string(pager) + " removed");
}

int PagerSim::CurrentRate() const {
  std::lock_guard lock(mu_);
  return core_.rate_bps();
}

int PagerSim::CommandCount() const {
  std::lock_guard lock(mu_);
  return core_.commands();
}

void PagerSim::ServeLoop() {
  while (!finished_) {
    const PagerLine::Ready ready = line_->Wait(PollTimeoutMs());
    if (ready == PagerLine::Ready::kWoken) return;  // Stop()
    if (ready == PagerLine::Ready::kFailed) {
      Append(EventKind::kErr, line_->LastError());
      return;
    }
    FollowSchedule();
    if (schedule_.Over() && !letting_go_) LetGoOfTheLine();
    if (ready == PagerLine::Ready::kBytes) ReadAvailable();
    if (schedule_.Attached()) ExpireFramer();
    if (const auto due = UnpromptedDueMs(); due && *due <= NowMs()) SendUnprompted();
  }
}

int PagerSim::PollTimeoutMs() const {
  auto deadline = framer_.DeadlineMs();
  if (const auto due = UnpromptedDueMs()) deadline = std::min(deadline.value_or(*due), *due);
  if (const auto change = schedule_.NextChangeMs()) {
    deadline = std::min(deadline.value_or(*change), *change);
  }
  if (!deadline) return -1;
  return static_cast<int>(std::max<int64_t>(0, *deadline - NowMs()));
}

std::optional<int64_t> PagerSim::UnpromptedDueMs() const {
  // Only on a quiet line, never in the middle of a command.
  if (options_.unprompted_ms <= 0 || !line_->IsOpen() || !framer_.AtCommandStart() ||
      !schedule_.Attached()) {
    return std::nullopt;
  }
  const auto since_start =
      std::chrono::duration_cast<std::chrono::milliseconds>(last_line_activity_ - start_time_);
  return since_start.count() + options_.unprompted_ms;
}

void PagerSim::SendUnprompted() {
  const uint8_t byte = options_.unprompted_byte;
  Append(EventKind::kFault, "unprompted " + ReplyName(byte));
  if (options_.pace && !WaitUntil(pacer_.Next(Clock::now(), core_.rate_bps()))) return;
  WriteBytes(&byte, 1);
}

void PagerSim::ReadAvailable() {
  std::array<uint8_t, kReadChunkBytes> buf;
  const int n = line_->Read(buf.data(), buf.size());
  // With no pager on the line the bytes reach nobody.
  if (n > 0 && !schedule_.Attached()) return;
  if (n > 0) {
    read_at_ = Clock::now();
    NoteLineActivity();
    line_error_logged_ = false;
    for (int i = 0; i < n && !finished_ && line_->IsOpen() && !Stopping(); ++i) {
      HandleByte(buf[static_cast<size_t>(i)]);
    }
    return;
  }
  if (n == 0) return;
  if (letting_go_) {
    finished_ = true;
    return;
  }
  // Nobody on the other side (only possible on a --device line): the line keeps
  // reporting it, so back off instead of spinning.
  if (!line_error_logged_) {
    Append(EventKind::kErr, line_->LastError());
    line_error_logged_ = true;
  }
  WaitForMs(kLineRetryMs);
}

void PagerSim::HandleByte(uint8_t byte) {
  if (options_.pace && !PaceReceivedByte()) return;
  ExpireFramer();
  // The host sets its port speed before it sends, so the speed seen at a command's first
  // byte is the one the command was sent at.
  if (framer_.AtCommandStart()) command_line_rate_bps_ = ObserveLineRate();
  if (auto event = framer_.Feed(byte, core_.flash_mode(), NowMs())) Dispatch(*event);
}

void PagerSim::ExpireFramer() {
  if (auto event = framer_.Expire(NowMs())) Dispatch(*event);
}

void PagerSim::Dispatch(const FramerEvent& event) {
  if (event.type == FramerEvent::Type::kTimeout) {
    Append(EventKind::kErr, "timeout " + EscapeBytes(event.bytes) + " (" + event.reason + ")");
    return;
  }
  Command command;
  command.bytes = event.bytes;
  command.malformed = event.type == FramerEvent::Type::kMalformed;
  command.malformed_reason = event.reason;
  command.line_rate_bps = command_line_rate_bps_;
  CommandOutcome outcome;
  bool quit = false;
  {
    std::lock_guard lock(mu_);
    const int quits_before = core_.quits();
    outcome = core_.Handle(command);
    quit = core_.quits() != quits_before;
  }
  SendReply(outcome);
  if (quit) schedule_.OnQuit(NowMs());
}

void PagerSim::SendReply(const CommandOutcome& outcome) {
  if (!outcome.reply) return;
  if (outcome.delay_ms > 0 && !WaitForMs(outcome.delay_ms)) return;
  if (outcome.hold_until_ms >= 0 &&
      !WaitUntil(start_time_ + std::chrono::milliseconds(outcome.hold_until_ms))) {
    return;
  }
  const bool held = outcome.delay_ms > 0 || outcome.hold_until_ms >= 0;
  const int reply_rate_bps = core_.rate_bps();  // a rate change's ACK goes out at the old rate
  {
    // Logged before the byte leaves so a host that has read the reply sees the events.
    std::lock_guard lock(mu_);
    AppendLocked(EventKind::kTx, ReplyName(*outcome.reply));
    if (outcome.new_rate_bps != 0) core_.SwitchRate(outcome.new_rate_bps);
  }
  WriteReplyCopies(*outcome.reply, outcome.copies, reply_rate_bps, held);
  if (outcome.new_rate_bps != 0 && options_.nul_after_rate) SendNulAfterRate();
  // On a real port the loader itself has to change speed, after the ACK has left.
  if (outcome.new_rate_bps != 0) line_->SetRate(outcome.new_rate_bps);
  if (outcome.hang_up) {
    HangUp();
  } else if (outcome.finish) {
    DrainReply();
    Append(EventKind::kInfo, "exit after q " + std::to_string(options_.exit_after_q));
    finished_ = true;
  }
}

void PagerSim::WriteReplyCopies(uint8_t reply, int copies, int rate_bps, bool line_was_idle) {
  const std::vector<uint8_t> bytes(static_cast<size_t>(std::max(copies, 1)), reply);
  if (!options_.pace) {
    // In one write, so a doubled reply is waiting whole when the host reads the first.
    if (!WaitUntil(DeliveredAt(Clock::now()))) return;
    WriteBytes(bytes.data(), bytes.size());
    return;
  }
  // The reply follows the command's last byte on the line; after a held-back reply the
  // line has been idle, so it starts now.
  const auto earliest = line_was_idle ? Clock::now() : pacer_.FreeAt();
  for (const uint8_t byte : bytes) {
    if (!WaitUntil(DeliveredAt(pacer_.Next(earliest, rate_bps)))) return;
    WriteBytes(&byte, 1);
  }
}

PagerSim::Clock::time_point PagerSim::DeliveredAt(Clock::time_point ready) const {
  if (options_.latency_ms <= 0) return ready;
  const Clock::duration tick = std::chrono::milliseconds(options_.latency_ms);
  const Clock::duration since_start = ready - start_time_;
  const auto ticks = (since_start + tick - Clock::duration(1)) / tick;
  return start_time_ + ticks * tick;
}

// The stray byte some adapters leave behind a rate change: it comes after the ACK, at the
// new rate, before anything the host sends next is answered.
void PagerSim::SendNulAfterRate() {
  if (!WaitForMs(kNulAfterRateMs)) return;
  const uint8_t nul = 0x00;
  Append(EventKind::kFault, "nul-after-rate");
  if (options_.pace && !WaitUntil(pacer_.Next(Clock::now(), core_.rate_bps()))) return;
  WriteBytes(&nul, 1);
}

void PagerSim::WriteBytes(const uint8_t* bytes, size_t count) {
  if (!line_->Write(bytes, count)) {
    Append(EventKind::kErr, "reply not sent: " + line_->LastError());
    return;
  }
  NoteLineActivity();
}

void PagerSim::DrainReply() {
  if (!line_->Emulated()) {
    line_->FlushOutput();
    return;
  }
  // Closing a pty discards whatever the host has not read yet: wait until it has.
  WaitForMs(kDrainSettleMs);
  const auto give_up = Clock::now() + std::chrono::milliseconds(kReplyDrainTimeoutMs);
  while (line_->UnreadByHost() > 0 && Clock::now() < give_up) {
    if (!WaitForMs(kDrainPollMs)) return;
  }
}

// The bench is over: the emulator ends once the host has let go of the line
// too, so a port it still has open is not pulled from under it.
void PagerSim::LetGoOfTheLine() {
  DrainReply();
  letting_go_ = true;
  Append(EventKind::kInfo, "end after the last pager, once the line is free");
  if (!line_->LetGo()) finished_ = true;
}

void PagerSim::HangUp() {
  DrainReply();
  line_->Close();
  Append(EventKind::kFault, "hangup");
  finished_ = true;
}

int PagerSim::ObserveLineRate() const { return line_->HostRate(); }

bool PagerSim::PaceReceivedByte() {
  // Bytes queued in the pty arrive back to back: each one finishes one byte time after
  // the previous one, or after it was read if the line had been idle. Timing from the
  // read, not from now, keeps our own wake-up latency from adding up byte after byte.
  return WaitUntil(pacer_.Next(read_at_, core_.rate_bps()));
}

bool PagerSim::Stopping() const {
  std::lock_guard lock(mu_);
  return stopping_;
}

bool PagerSim::WaitUntil(Clock::time_point when) {
  std::unique_lock lock(mu_);
  return !stop_cv_.wait_until(lock, when, [this] { return stopping_; });
}

int64_t PagerSim::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_time_).count();
}

void PagerSim::Append(EventKind kind, std::string text) {
  std::lock_guard lock(mu_);
  AppendLocked(kind, std::move(text));
}

void PagerSim::AppendLocked(EventKind kind, std::string text) {
  events_.push_back(LogEvent{NowMs(), kind, std::move(text)});
  if (observer_) observer_(events_.back());
}

std::vector<PagerSim::ImageFile> PagerSim::ImageFiles(const std::string& pattern) const {
  std::lock_guard lock(mu_);
  if (pattern.find("%d") == std::string::npos) return {{pattern, core_.image()}};
  std::vector<ImageFile> files;
  for (size_t i = 0; i < left_images_.size(); ++i) {
    files.emplace_back(SessionPath(pattern, static_cast<int>(i) + 1), left_images_[i]);
  }
  if (attached_pager_ > 0) files.emplace_back(SessionPath(pattern, attached_pager_), core_.image());
  return files;
}

bool PagerSim::WriteOutputs(std::string* err) {
  if (!options_.image_bin_path.empty()) {
    for (const auto& [path, image] : ImageFiles(options_.image_bin_path)) {
      const std::vector<uint8_t> bytes = image.Flatten();
      char base[16];
      std::snprintf(base, sizeof base, "0x%08X", image.empty() ? 0u : image.LowestAddress());
      Append(EventKind::kInfo, std::string("image-bin base=") + base +
                                   " size=" + std::to_string(bytes.size()) + " file=" + path);
      const std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      if (!WriteFileAtomically(path, content, err)) return false;
    }
  }
  if (!options_.image_hex_path.empty()) {
    for (const auto& [path, image] : ImageFiles(options_.image_hex_path)) {
      if (!WriteFileAtomically(path, image.ToIntelHex(), err)) return false;
    }
  }
  if (!options_.log_path.empty()) {
    return WriteFileAtomically(options_.log_path, FormatLog(Log()), err);
  }
  return true;
}

}  // namespace pagersim
