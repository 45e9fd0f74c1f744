// A pager that answers at once, behind the channel's device interface. It
// keeps no history of its own: each write reaches the test's observer as it
// happens, so a run over millions of records needs no more memory than a run
// over one. A command is one write call, except "s", whose record is the
// write that follows it; the reply to each command is queued when it is
// complete and handed out by the next read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/Dcommthread.h"
#include "link/SerialDevice.h"

class InstantLine {
 public:
  // Sees every write as it crosses the line.
  std::function<void(const std::string& bytes)> on_write;
  // Decides the reply to a complete command ("s" and its record joined);
  // nothing means silence. The default acknowledges everything.
  std::function<std::optional<std::uint8_t>(const std::string& command)> reply;

  int opens = 0;
  int closes = 0;
  int open_devices = 0;
  long long commands = 0;

  SerialDeviceFactory Factory() {
    return [this] { return std::make_unique<Device>(*this); };
  }

 private:
  class Device final : public ISerialDevice {
   public:
    explicit Device(InstantLine& line) : line_(line) {}
    ~Device() override { Close(); }

    bool Open(const std::string&) override {
      ++line_.opens;
      ++line_.open_devices;
      open_ = true;
      return true;
    }
    bool GetState(TDcb&) override { return true; }
    bool SetState(const TDcb&) override { return true; }
    bool SetQueues(std::uint32_t, std::uint32_t) override { return true; }
    bool SetTimeouts(const TCommTimeouts&) override { return true; }
    bool Purge(std::uint32_t) override {
      line_.pending_.reset();
      return true;
    }
    bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
      done = 0;
      if (count == 0 || !line_.pending_) return true;
      data[0] = *line_.pending_;
      line_.pending_.reset();
      done = 1;
      return true;
    }
    bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
      const std::string bytes(reinterpret_cast<const char*>(data), count);
      done = count;
      if (line_.on_write) line_.on_write(bytes);
      line_.Take(bytes);
      return true;
    }
    void Close() override {
      if (!open_) return;
      open_ = false;
      ++line_.closes;
      --line_.open_devices;
    }
    int LastError() const override { return 0; }

   private:
    InstantLine& line_;
    bool open_ = false;
  };

  void Take(const std::string& bytes) {
    if (bytes == "s") {
      partial_ = bytes;
      return;
    }
    const std::string command = partial_ + bytes;
    partial_.clear();
    ++commands;
    pending_ = reply ? reply(command) : std::optional<std::uint8_t>(0x06);
  }

  std::string partial_;
  std::optional<std::uint8_t> pending_;
};
