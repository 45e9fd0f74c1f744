// The platform's serial device with a recorder in front: every open, close
// and write the channel makes is noted before it reaches the real line, so a
// test sees what the host tried to send even where the line was gone.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/Dcommthread.h"
#include "link/SerialDevice.h"

class LineRecorder {
 public:
  // The commands the host wrote, in order; "s" and its record are one.
  std::vector<std::string> commands;
  // Reads that brought nothing since the host last wrote: it is waiting.
  int empty_reads_since_write = 0;
  int opens = 0;
  int closes = 0;
  int open_devices = 0;
  // A slow host: after each byte it reads, it stays away from the line this
  // long before it goes on (writes its next command).
  std::chrono::milliseconds pause_after_read{0};

  SerialDeviceFactory Factory() {
    return [this] { return std::make_unique<Device>(*this, CreateSystemSerialDevice()); };
  }

 private:
  class Device final : public ISerialDevice {
   public:
    Device(LineRecorder& recorder, std::unique_ptr<ISerialDevice> real)
        : recorder_(recorder), real_(std::move(real)) {}
    ~Device() override { Close(); }

    bool Open(const std::string& name) override {
      ++recorder_.opens;
      open_ = real_->Open(name);
      if (open_) ++recorder_.open_devices;
      return open_;
    }
    bool GetState(TDcb& dcb) override { return real_->GetState(dcb); }
    bool SetState(const TDcb& dcb) override { return real_->SetState(dcb); }
    bool SetQueues(std::uint32_t in, std::uint32_t out) override {
      return real_->SetQueues(in, out);
    }
    bool SetTimeouts(const TCommTimeouts& timeouts) override {
      return real_->SetTimeouts(timeouts);
    }
    bool Purge(std::uint32_t flags) override { return real_->Purge(flags); }
    bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
      const bool read = real_->Read(data, count, done);
      if (read && done > 0) std::this_thread::sleep_for(recorder_.pause_after_read);
      if (done == 0) ++recorder_.empty_reads_since_write;
      return read;
    }
    bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
      const std::string bytes(reinterpret_cast<const char*>(data), count);
      recorder_.empty_reads_since_write = 0;
      // A record follows its "s" in a write of its own.
      if (!recorder_.commands.empty() && recorder_.commands.back() == "s" && !bytes.empty() &&
          bytes[0] == ':') {
        recorder_.commands.back() += " " + bytes;
      } else {
        recorder_.commands.push_back(bytes);
      }
      return real_->Write(data, count, done);
    }
    void Close() override {
      if (!open_) return;
      open_ = false;
      ++recorder_.closes;
      --recorder_.open_devices;
      real_->Close();
    }
    int LastError() const override { return real_->LastError(); }

   private:
    LineRecorder& recorder_;
    std::unique_ptr<ISerialDevice> real_;
    bool open_ = false;
  };
};
