#include "engine/Hexproc.h"

#include <algorithm>
#include <cstring>

#include "common/Clock.h"
#include "common/Globals.h"
#include "common/GuiServices.h"
#include "engine/HexRecord.h"
#include "link/Dcommthread.h"

const MsgType MessageTable[kMessageCount] = {
    {"No Message.", kStyleNone},
    {"Unable to open the HEX file.", kStyleError},
    {"Fail to enter flash mode.", kStyleError},
    {"Fail to erase Flash ROM.", kStyleError},
    {"Fail to send code-package.", kStyleError},
    {"Firmware updated finished.", kStyleInformation},
    {"Unable to change transfering baud-rate.", kStyleError},
    {"Max. rewind counter exceed but still unable to program code-package.", kStyleError},
    {"Error on programming code, now try resend and reprogram.", kStyleWarning},
    {"Received an unideftified command, flash now terminated.", kStyleError},
    {"No response from the pager, flash now terminated.", kStyleError},
    {"Pager can not receive package correctly after retry, flash now terminated.", kStyleError},
};

const MsgType& msgNone = MessageTable[0];
const MsgType& msgOpenHexFail = MessageTable[1];
const MsgType& msgEnterFlashFail = MessageTable[2];
const MsgType& msgEraseFail = MessageTable[3];
const MsgType& msgSendFail = MessageTable[4];
const MsgType& msgFinished = MessageTable[5];
const MsgType& msgBaudFail = MessageTable[6];
const MsgType& msgRewindExceeded = MessageTable[7];
const MsgType& msgProgramRetry = MessageTable[8];
const MsgType& msgUnexpectedReply = MessageTable[9];
const MsgType& msgNoResponse = MessageTable[10];
const MsgType& msgResendExceeded = MessageTable[11];

namespace {

constexpr int kRateCommandLength = 7;
// A record sent over the line: 's', then colon to checksum, then CR LF left
// in the file. Only the length digits decide how much is read.
constexpr int kRecordHeadChars = 3;
constexpr int kFullRecordChars = 45;
constexpr int kLineEndChars = 2;

// The rate commands are fixed strings, as the loader knows them.
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

ReplyClass Classify(std::uint8_t reply) {
  if (reply == kAck) return rpAck;
  if (reply == kNak) return rpNak;
  return rpOther;
}

const std::uint8_t* Bytes(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

}  // namespace

void UpdateFlow::ShowMessage(const MsgType& m) { MessageBox(m.Text, kMainCaption, m.Style); }

int UpdateFlow::Run(const std::string& fileName) {
  State = stOpenFile;
  EndReached = false;
  RewindCount = 0;
  ResendCount = 0;
  Message = msgNone;
  ReadFailed = false;
  FileFailReason.clear();
  if (Comm == nullptr) return State;
  Comm->BaudRate = kStartBaudRate;
  if (!Comm->OpenPort()) return State;
  Comm->Purge();
  for (;;) {
    const std::int32_t ran = State;
    Step(fileName);
    if (!(Message == msgNone)) {
      ShowMessage(Message);
      Message = msgNone;
    }
    if (ran == stFinish) break;
  }
  Comm->ClosePort();
  return State;
}

void UpdateFlow::Step(const std::string& fileName) {
  switch (State) {
    case stOpenFile:
      if (OpenHexFile(fileName)) {
        State = stFileReady;
      } else {
        State = stFinish;
        Message = FileFailMessage();
      }
      break;
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

void UpdateFlow::FailOn(ReplyClass reply, const MsgType& on_nak) {
  if (reply == rpNone) {
    State = stFinish;
    Message = msgNoResponse;
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
  const ReplyClass reply = ChangeBaudRate(FlashBaudRate);
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
    // The file no longer reads as it was checked: stop, and take the pager
    // out of flash mode rather than send a broken record.
    State = stExitFlash;
    Message = FileFailMessage();
    return;
  }
  if (reply == rpAck) {
    ResendCount = 0;
    State = stProgram;
  } else if (reply == rpNak && ResendCount < ResendTimes) {
    Message = msgSendFail;
    RewindToRecordStart();
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

bool UpdateFlow::RewindToRecordStart() { return Image.Seek(RecordStart); }

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

bool UpdateFlow::WaitReply(int limit, std::uint8_t& out) {
  const std::uint32_t start = TickCount();
  const auto within_limit = [&](std::uint32_t now) {
    return static_cast<std::int64_t>(ElapsedMs(start, now)) < limit;
  };
  std::uint32_t t = start;
  while (within_limit(t)) {
    if (Comm->ReadByte(&out)) return true;
    // Poll the tick count in short sleeps: a closed channel fails every
    // read at once, and must not keep a core busy for the whole limit.
    for (std::uint32_t waited = ElapsedMs(t, TickCount()); waited < kPollSpacingMs;
         waited = ElapsedMs(t, TickCount())) {
      SleepMs(std::min(kPollSleepStepMs, kPollSpacingMs - waited));
    }
    const std::uint32_t before_pump = TickCount();
    ProcessMessages();
    t = TickCount();
    // A menu or a dialog held open can keep the pump past the limit while
    // the reply already waits in the driver: look once more before giving up.
    if (within_limit(before_pump) && !within_limit(t)) return Comm->ReadByte(&out);
  }
  return false;
}

void UpdateFlow::DiscardStaleInput() { Comm->PurgeInput(); }

ReplyClass UpdateFlow::AwaitReply() {
  std::uint8_t reply = 0;
  if (!WaitReply(static_cast<int>(kReplyLimitMs), reply)) return rpNone;
  return Classify(reply);
}

ReplyClass UpdateFlow::EnterFlashMode() {
  DiscardStaleInput();
  Comm->WriteByte(&kCmdEnterFlash);
  return AwaitReply();
}

ReplyClass UpdateFlow::ChangeBaudRate(int rate) {
  DiscardStaleInput();
  // An unknown rate sends nothing, yet the reply is still waited for.
  if (const char* command = RateCommand(rate))
    Comm->WriteBuffer(Bytes(command), kRateCommandLength);
  const ReplyClass reply = AwaitReply();
  if (reply == rpAck) {
    Comm->ClosePort();
    Comm->BaudRate = rate;
    // A failed reopen shows the channel's box; the next command then meets a
    // closed channel and the update ends for want of a reply.
    (void)Comm->OpenPort();
  }
  return reply;
}

ReplyClass UpdateFlow::EraseFlash() {
  DiscardStaleInput();
  Comm->WriteBuffer(Bytes(kCmdErase), static_cast<int>(std::strlen(kCmdErase)));
  return AwaitReply();
}

ReplyClass UpdateFlow::SendPackage() {
  ProcessMessages();
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
  DiscardStaleInput();
  Comm->WriteByte(&kCmdSend);
  Comm->WriteBuffer(Bytes(RecordBuffer), total - kLineEndChars);
  return AwaitReply();
}

ReplyClass UpdateFlow::ProgramPackage() {
  DiscardStaleInput();
  Comm->WriteByte(&kCmdProgram);
  return AwaitReply();
}

ReplyClass UpdateFlow::ExitFlashMode() {
  // The loader needs a moment before it takes the exit command; no events
  // are processed during this pause.
  SleepMs(kExitPauseMs);
  DiscardStaleInput();
  Comm->WriteByte(&kCmdExitFlash);
  return AwaitReply();
}

bool UpdateFlow::OpenHexFile(const std::string& name) {
  FileName = name;
  Image.Clear();
  std::string error;
  // The file stays open without sharing until the update ends, though every
  // byte sent comes from the copy read here.
  if (!HexFile.Open(name, error)) {
    FileFailReason = "The file cannot be opened: " + error + ".";
    return false;
  }
  std::int64_t size = 0;
  if (!HexFile.Size(size)) {
    FileFailReason = "The file size cannot be read.";
  } else if (size > kMaxHexFileBytes) {
    FileFailReason = kHexFileTooLargeText;
  } else {
    FileSize = static_cast<std::uint32_t>(size);
    if (LoadAndCheck()) return true;
  }
  HexFile.Close();
  Image.Clear();
  return false;
}

bool UpdateFlow::LoadAndCheck() {
  std::string bytes(static_cast<std::size_t>(FileSize), '\0');
  if (HexFile.Read(bytes.data(), bytes.size()) != bytes.size()) {
    FileFailReason = "The file cannot be read.";
    return false;
  }
  // Check the whole file before any command goes out, so a bad file can
  // never leave the pager erased and half-written.
  HexFileChecker checker;
  checker.Feed(bytes);
  if (!checker.Finish()) {
    FileFailReason = checker.ErrorText();
    return false;
  }
  Image.Assign(std::move(bytes));
  return true;
}

int UpdateFlow::GetProgress() {
  if (!HexFile.IsOpen() || FileSize == 0) return 0;
  const auto pos = static_cast<std::int32_t>(Image.Position());
  const double share = static_cast<double>(pos) / static_cast<double>(FileSize);
  // Rounded half up within single precision, as the figure has always been
  // shown: one eighth gives 12, because 0.13f lies just below 0.13.
  const float rounded = static_cast<float>(share + 0.005);
  const int percent = static_cast<int>(static_cast<double>(rounded) * 100.0);
  return std::clamp(percent, 0, 100);
}
