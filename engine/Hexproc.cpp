#include "engine/Hexproc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "engine/HexRecord.h"
#include "engine/Protocol.h"
#include "link/Dcommthread.h"

using Outcome = UpdateOutcome;

const MessageRow MessageTable[kMessageCount] = {
    {{"No Message.", kStyleNone}, Outcome::kNone},
    {{"Unable to open the HEX file.", kStyleError}, Outcome::kCannotOpenFile},
    {{"Fail to enter flash mode.", kStyleError}, Outcome::kRefused},
    {{"Fail to erase Flash ROM.", kStyleError}, Outcome::kRefused},
    {{"Fail to send code-package.", kStyleError}, Outcome::kNone},
    {{"Firmware updated finished.", kStyleInformation}, Outcome::kFinished},
    {{"Unable to change transfering baud-rate.", kStyleError}, Outcome::kRefused},
    {{"Max. rewind counter exceed but still unable to program code-package.", kStyleError},
     Outcome::kRewindsExceeded},
    {{"Error on programming code, now try resend and reprogram.", kStyleWarning}, Outcome::kNone},
    {{"Received an unideftified command, flash now terminated.", kStyleError},
     Outcome::kUnexpectedReply},
    {{"No response from the pager, flash now terminated.", kStyleError}, Outcome::kNoResponse},
    {{"Pager can not receive package correctly after retry, flash now terminated.", kStyleError},
     Outcome::kResendsExceeded},
};

const MsgType& msgNone = MessageTable[0].Message;
const MsgType& msgOpenHexFail = MessageTable[1].Message;
const MsgType& msgEnterFlashFail = MessageTable[2].Message;
const MsgType& msgEraseFail = MessageTable[3].Message;
const MsgType& msgSendFail = MessageTable[4].Message;
const MsgType& msgFinished = MessageTable[5].Message;
const MsgType& msgBaudFail = MessageTable[6].Message;
const MsgType& msgRewindExceeded = MessageTable[7].Message;
const MsgType& msgProgramRetry = MessageTable[8].Message;
const MsgType& msgUnexpectedReply = MessageTable[9].Message;
const MsgType& msgNoResponse = MessageTable[10].Message;
const MsgType& msgResendExceeded = MessageTable[11].Message;

UpdateOutcome OutcomeOfMessage(const MsgType& message) {
  const std::string_view first = std::string_view(message.Text).substr(0, message.Text.find('\n'));
  for (const MessageRow& row : MessageTable) {
    if (row.Message.Text == first && row.Message.Style == message.Style) return row.Outcome;
  }
  return Outcome::kNone;
}

const char* RateCommand(int rate) {
  switch (rate) {
    case 2400:
      return "b2400DC";
    case 4800:
      return "b4800B8";
    case 9600:
      return "b96006A";
    default:
      return nullptr;
  }
}

int RateToldBy(std::string_view command) {
  for (const std::int32_t rate : kTransferRates) {
    if (command == RateCommand(rate)) return rate;
  }
  return 0;
}

UpdateStage StageOfState(std::int32_t state) {
  switch (state) {
    case stOpenFile:
    case stFileReady:
      return UpdateStage::kOpen;
    case stEnterFlash:
      return UpdateStage::kEnterFlash;
    case stChangeBaud:
    case stBaudReady:
      return UpdateStage::kChangeBaud;
    case stErase:
      return UpdateStage::kErase;
    case stSendPackage:
    case stProgram:
      return UpdateStage::kTransfer;
    case stExitFlash:
      return UpdateStage::kExitFlash;
    default:
      return UpdateStage::kFinish;
  }
}

namespace {

// A record sent over the line: 's', then colon to checksum, then CR LF left
// in the file. Only the length digits decide how much is read.
constexpr int kRecordHeadChars = 3;
constexpr int kFullRecordChars = 45;
constexpr int kLineEndChars = 2;

ReplyClass Classify(std::uint8_t reply) {
  if (reply == kAck) return rpAck;
  if (reply == kNak) return rpNak;
  return rpOther;
}

const std::uint8_t* Bytes(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

}  // namespace

UpdateFlow::UpdateFlow(const UpdateContext& context)
    : comm_(context.Comm), settings_(context.Settings), gui_(context.Gui), clock_(context.Clock) {}

void UpdateFlow::ShowMessage(const MsgType& m) { gui_.MessageBox(m.Text, kMainCaption, m.Style); }

int UpdateFlow::Run(const std::string& fileName) {
  given_image_.reset();
  return RunSteps(fileName);
}

int UpdateFlow::Run(std::shared_ptr<const CheckedFirmware> firmware, const std::string& fileName) {
  given_image_ = std::move(firmware);
  return RunSteps(fileName);
}

int UpdateFlow::RunSteps(const std::string& fileName) {
  State = stOpenFile;
  EndReached = false;
  RewindCount = 0;
  ResendCount = 0;
  Message = msgNone;
  ReadFailed = false;
  FileFailReason.clear();
  stop_honoured_ = false;
  outcome_ = UpdateOutcome::kNone;
  records_sent_ = 0;
  pumped_for_records_ = false;
  if (StopWanted()) {
    // Asked to stop before it began: nothing is opened, nothing sent.
    outcome_ = UpdateOutcome::kInterrupted;
  } else {
    comm_.BaudRate = kStartBaudRate;
    if (open_follows_close_ ? comm_.ReopenPort() : comm_.OpenPort()) {
      comm_.Purge();
      for (;;) {
        if (StopWanted() && !stop_honoured_) HonourStop();
        const std::int32_t ran = State;
        EnterState(ran);
        Step(fileName);
        if (!(Message == msgNone)) {
          TellMessage(Message);
          ShowMessage(Message);
          Message = msgNone;
        }
        if (ran == stFinish) break;
      }
      if (comm_.ClosePort() && comm_.CloseAbandoned) TellCloseAbandoned();
    } else {
      TellPortNotOpened();
    }
  }
  given_image_.reset();
  if (observer_ != nullptr) observer_->OnEnd(outcome_);
  return State;
}

bool UpdateFlow::StopWanted() const {
  return stop_requested_.load() || (stop_signal_ != nullptr && stop_signal_->load());
}

// The pager is counted as in flash mode once "f" has been acknowledged: it
// is then taken out through the exit command, at the rate it listens at.
// Before that, nothing needs saying to it; once on the way out, the update
// goes on as it was.
void UpdateFlow::HonourStop() {
  stop_honoured_ = true;
  if (outcome_ == UpdateOutcome::kNone) outcome_ = UpdateOutcome::kInterrupted;
  if (State <= stEnterFlash) {
    State = stFinish;
  } else if (State < stExitFlash) {
    State = stExitFlash;
  }
}

void UpdateFlow::EnterState(std::int32_t state) {
  if (observer_ != nullptr) observer_->OnState(state, StageOfState(state), GetProgress());
}

void UpdateFlow::TellMessage(const UpdateMessage& message) {
  if (outcome_ == UpdateOutcome::kNone) outcome_ = message.Outcome;
  if (observer_ != nullptr) observer_->OnMessage(message);
}

void UpdateFlow::TellMessage(const MsgType& message) {
  UpdateMessage told{message.Text, message.Style, OutcomeOfMessage(message), {}, 0};
  // Silence on a lost port is the port's doing, not the pager's.
  if (told.Outcome == UpdateOutcome::kNoResponse && comm_.Lost) {
    told.Outcome = UpdateOutcome::kPortLost;
    told.Device = comm_.DeviceName();
    told.SystemError = comm_.LostError;
  }
  TellMessage(told);
}

// The channel has shown its own box; the observer hears the same words.
void UpdateFlow::TellPortNotOpened() {
  TellMessage(UpdateMessage{comm_.OpenFailureText(), kStyleError, UpdateOutcome::kCannotOpenPort,
                            comm_.DeviceName(), comm_.LastOpenError});
}

void UpdateFlow::TellCloseAbandoned() {
  const MsgType note{kCloseAbandonedText, kStyleWarning};
  TellMessage(note);
  ShowMessage(note);
}

MsgType UpdateFlow::NoResponseMessage() const {
  MsgType message = msgNoResponse;
  if (comm_.Lost) {
    message.Text += '\n';
    message.Text += comm_.LostText();
  }
  return message;
}

void UpdateFlow::TellCommand(std::string_view bytes) {
  if (observer_ != nullptr && !bytes.empty()) observer_->OnCommand(bytes, comm_.BaudRate);
}

void UpdateFlow::Step(const std::string& fileName) {
  switch (State) {
    case stOpenFile: {
      const bool opened = given_image_ ? TakeGivenImage(fileName) : OpenHexFile(fileName);
      if (opened) {
        State = stFileReady;
      } else {
        State = stFinish;
        Message = FileFailMessage();
      }
      break;
    }
    case stFileReady:
      State = stEnterFlash;
      break;
    case stEnterFlash:
      StepEnterFlash();
      break;
    case stChangeBaud:
      StepChangeBaud();
      break;
    case stBaudReady:
      State = stErase;
      break;
    case stErase:
      StepErase();
      break;
    case stSendPackage:
      StepSendPackage();
      break;
    case stProgram:
      StepProgram();
      break;
    case stExitFlash:
      (void)ExitFlashMode();
      State = stFinish;
      break;
    default:
      HexFile.Close();
      Image.Clear();
      State = stFinish;
      break;
  }
}

bool UpdateFlow::TakeGivenImage(const std::string& fileName) {
  FileName = fileName;
  FileSize = static_cast<std::uint32_t>(given_image_->Size());
  Image.Assign(given_image_);
  return true;
}

void UpdateFlow::FailOn(ReplyClass reply, const MsgType& on_nak) {
  if (reply == rpNone && reply_cut_short_) {
    // Not silence: a stop did not wait for the reply. The pager may be in
    // flash mode, and is told to leave it.
    State = stExitFlash;
  } else if (reply == rpNone) {
    State = stFinish;
    Message = NoResponseMessage();
  } else {
    State = stExitFlash;
    Message = reply == rpNak ? on_nak : msgUnexpectedReply;
  }
}

void UpdateFlow::StepEnterFlash() {
  const ReplyClass reply = EnterFlashMode();
  if (reply == rpAck) {
    State = stChangeBaud;
  } else {
    FailOn(reply, msgEnterFlashFail);
  }
}

void UpdateFlow::StepChangeBaud() {
  const ReplyClass reply = ChangeBaudRate(settings_.FlashBaudRate());
  if (reply == rpAck) {
    State = stBaudReady;
  } else {
    FailOn(reply, msgBaudFail);
  }
}

void UpdateFlow::StepErase() {
  const ReplyClass reply = EraseFlash();
  if (reply == rpAck) {
    State = stSendPackage;
  } else {
    FailOn(reply, msgEraseFail);
  }
}

void UpdateFlow::StepSendPackage() {
  const ReplyClass reply = SendPackage();
  if (ReadFailed) {
    // The image does not read as a whole record where one should start:
    // stop, and take the pager out of flash mode rather than send a broken
    // record.
    State = stExitFlash;
    Message = FileFailMessage();
    return;
  }
  if (reply == rpAck) {
    ResendCount = 0;
    State = stProgram;
  } else if (reply == rpNak && ResendCount < settings_.ResendTimes()) {
    Message = msgSendFail;
    Image.Seek(RecordStart);
    ++ResendCount;
  } else {
    FailOn(reply, msgResendExceeded);
  }
}

void UpdateFlow::StepProgram() {
  if (EndReached) {
    State = stExitFlash;
    Message = msgFinished;
    return;
  }
  const ReplyClass reply = ProgramPackage();
  if (reply == rpAck) {
    State = stSendPackage;
  } else if (reply == rpNak && RewindCount < kMaxRewinds) {
    Image.Seek(0);
    Message = msgProgramRetry;
    ++RewindCount;
    State = stErase;
  } else {
    FailOn(reply, msgRewindExceeded);
  }
}

ReplyClass UpdateFlow::FailRead() {
  ReadFailed = true;
  FileFailReason = "The file could not be read at byte " + std::to_string(RecordStart) + ".";
  return rpNone;
}

MsgType UpdateFlow::FileFailMessage() const {
  MsgType message = msgOpenHexFail;
  if (!FileFailReason.empty()) message.Text += "\n" + FileFailReason;
  return message;
}

namespace {

// Waits up to `limit` ms for one byte from `comm`: each read waits up to the
// channel's own limit; after a read that came back empty the wait goes on
// in polls kPollSpacingMs apart, pumping `gui`'s events at each. Once
// `stopping` says so the limit is `stop_limit` when that is shorter. True
// with the byte when one came.
bool WaitForByte(TDComm& comm, IGuiServices& gui, ITickSource& clock, int limit, std::uint8_t& out,
                 const std::function<bool()>& stopping = nullptr, int stop_limit = 0) {
  const std::uint32_t start = clock.TickCount();
  const auto within_limit = [&](std::uint32_t now) {
    const bool cut = stopping && stop_limit < limit && stopping();
    return static_cast<std::int64_t>(ElapsedMs(start, now)) < (cut ? stop_limit : limit);
  };
  std::uint32_t t = start;
  while (within_limit(t)) {
    if (comm.ReadByte(&out)) return true;
    // A lost port answers nothing more: no need to wait the limit out.
    if (comm.Lost) return false;
    // Poll the tick count in short sleeps: a closed channel fails every
    // read at once, and must not keep a core busy for the whole limit.
    for (std::uint32_t waited = ElapsedMs(t, clock.TickCount()); waited < kPollSpacingMs;
         waited = ElapsedMs(t, clock.TickCount())) {
      clock.Sleep(std::min(kPollSleepStepMs, kPollSpacingMs - waited));
    }
    const std::uint32_t before_pump = clock.TickCount();
    gui.ProcessMessages();
    t = clock.TickCount();
    // A menu or a dialog held open can keep the pump past the limit while
    // the reply already waits in the driver: look once more before giving up.
    if (within_limit(before_pump) && !within_limit(t)) return comm.ReadByte(&out);
  }
  return false;
}

}  // namespace

bool UpdateFlow::WaitReply(int limit, std::uint8_t& out) {
  return WaitForByte(comm_, gui_, clock_, limit, out);
}

void UpdateFlow::DiscardStaleInput() { comm_.PurgeInput(); }

void UpdateFlow::StartCommand() {
  DiscardStaleInput();
  command_start_ = clock_.TickCount();
}

// An erase answers when it is done, however long that takes, and the answer
// to a rate command moves the loader to the rate the exit command must then
// go at: their replies are always waited out.
int UpdateFlow::StopReplyLimitMs(std::string_view command) const {
  if (!quick_stop_ || turnaround_ == nullptr || command == kCmdErase || RateToldBy(command) != 0) {
    return static_cast<int>(kReplyLimitMs);
  }
  const double line = LineMs(command.size() + 1, comm_.BaudRate);
  return static_cast<int>(std::ceil(line)) + static_cast<int>(turnaround_->BoundMs()) +
         static_cast<int>(kStopReplyMarginMs);
}

ReplyClass UpdateFlow::AwaitReply(std::string_view command) {
  TellCommand(command);
  CommandReply answer;
  answer.Command = command;
  answer.Rate = comm_.BaudRate;
  const int stop_limit = StopReplyLimitMs(command);
  if (WaitForByte(
          comm_, gui_, clock_, static_cast<int>(kReplyLimitMs), answer.Byte,
          [this] { return StopWanted(); }, stop_limit)) {
    answer.Reply = Classify(answer.Byte);
  }
  reply_cut_short_ = answer.Reply == rpNone && !comm_.Lost && StopWanted() &&
                     stop_limit < static_cast<int>(kReplyLimitMs);
  answer.ElapsedMs = ElapsedMs(command_start_, clock_.TickCount());
  if (turnaround_ != nullptr && answer.Reply != rpNone && !command.empty()) {
    turnaround_->Add(command.size(), answer.Rate, answer.ElapsedMs);
  }
  if (observer_ != nullptr) observer_->OnReply(answer);
  return answer.Reply;
}

ReplyClass UpdateFlow::EnterFlashMode() {
  StartCommand();
  comm_.WriteByte(&kCmdEnterFlash);
  return AwaitReply("f");
}

ReplyClass UpdateFlow::ChangeBaudRate(int rate) {
  StartCommand();
  // An unknown rate sends nothing, yet the reply is still waited for.
  const char* command = RateCommand(rate);
  if (command != nullptr) comm_.WriteBuffer(Bytes(command), kRateCommandLength);
  const ReplyClass reply = AwaitReply(command != nullptr ? command : "");
  if (reply == rpAck) {
    comm_.ClosePort();
    comm_.BaudRate = rate;
    // A failed reopen shows the channel's box; the next command then meets a
    // closed channel and the update ends for want of a reply.
    if (comm_.ReopenPort()) {
      clock_.Sleep(kRateChangeSettleMs);
    } else {
      TellPortNotOpened();
    }
  }
  return reply;
}

ReplyClass UpdateFlow::EraseFlash() {
  StartCommand();
  // Each erase starts the transfer, and its count of records, over.
  records_sent_ = 0;
  comm_.WriteBuffer(Bytes(kCmdErase), static_cast<int>(std::strlen(kCmdErase)));
  return AwaitReply(kCmdErase);
}

void UpdateFlow::PumpWhileTheRecordGoes() {
  const std::uint32_t now = clock_.TickCount();
  if (pumped_for_records_ && ElapsedMs(last_record_pump_, now) < kRecordPumpSpacingMs) return;
  pumped_for_records_ = true;
  last_record_pump_ = now;
  gui_.ProcessMessages();
}

ReplyClass UpdateFlow::SendPackage() {
  RecordStart = Image.Position();
  ReadFailed = false;
  const std::size_t head = Image.Read(RecordBuffer, kRecordHeadChars);
  const int length =
      head == kRecordHeadChars ? DecodeRecordLength(RecordBuffer[1], RecordBuffer[2]) : -1;
  const int count = 2 * length + 10;
  // The record, its line end and the closing zero must fit the buffer.
  if (length < 0 || kRecordHeadChars + count + 1 > kRecordBufferSize) return FailRead();
  const int total = kRecordHeadChars + static_cast<int>(Image.Read(RecordBuffer + 3, count));
  RecordBuffer[kRecordHeadChars + count] = '\0';
  if (total != kFullRecordChars && LooksLikeEndRecord(std::string_view(RecordBuffer, total))) {
    EndReached = true;
    return rpAck;
  }
  // Only a whole record with its CR LF goes out; a short read never does.
  if (total != kRecordHeadChars + count || RecordBuffer[total - 2] != '\r' ||
      RecordBuffer[total - 1] != '\n') {
    return FailRead();
  }
  StartCommand();
  comm_.WriteByte(&kCmdSend);
  comm_.WriteBuffer(Bytes(RecordBuffer), total - kLineEndChars);
  PumpWhileTheRecordGoes();
  const bool resend = ResendCount > 0;
  if (!resend) ++records_sent_;
  if (observer_ != nullptr) observer_->OnRecord(records_sent_, resend, GetProgress());
  command_text_.assign(1, static_cast<char>(kCmdSend));
  command_text_.append(RecordBuffer, static_cast<std::size_t>(total - kLineEndChars));
  return AwaitReply(command_text_);
}

ReplyClass UpdateFlow::ProgramPackage() {
  StartCommand();
  comm_.WriteByte(&kCmdProgram);
  return AwaitReply("p");
}

ReplyClass UpdateFlow::ExitFlashMode() {
  // The loader needs a moment before it takes the exit command; no events
  // are processed during this pause.
  clock_.Sleep(kExitPauseMs);
  StartCommand();
  comm_.WriteByte(&kCmdExitFlash);
  return AwaitReply("q");
}

bool UpdateFlow::OpenHexFile(const std::string& name) {
  FileName = name;
  Image.Clear();
  // The file stays open without sharing until the update ends, though every
  // byte sent comes from the copy read here.
  FirmwareLoad load = LoadFirmwareFile(HexFile, name, FileSharing::kExclusive);
  if (!load.firmware) {
    FileFailReason = load.reason;
    return false;
  }
  FileSize = static_cast<std::uint32_t>(load.firmware->Size());
  Image.Assign(std::move(load.firmware));
  return true;
}

int UpdateFlow::GetProgress() {
  if (!Image.Loaded() || FileSize == 0) return 0;
  const auto pos = static_cast<std::int32_t>(Image.Position());
  const double share = static_cast<double>(pos) / static_cast<double>(FileSize);
  // Rounded half up within single precision: one eighth gives 12, because
  // 0.13f lies just below 0.13.
  const float rounded = static_cast<float>(share + 0.005);
  const int percent = static_cast<int>(static_cast<double>(rounded) * 100.0);
  return std::clamp(percent, 0, 100);
}
