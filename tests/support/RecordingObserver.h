// An update observer that keeps everything it is told, for tests to compare.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/UpdateObserver.h"

struct ReplySeen {
  std::string command;
  std::int32_t rate = 0;
  ReplyClass reply = rpNone;
  std::uint32_t elapsed_ms = 0;
};

class RecordingObserver final : public IUpdateObserver {
 public:
  void OnState(std::int32_t state, UpdateStage, int) override {
    states.push_back(state);
    if (on_state) on_state(state);
  }
  void OnCommand(std::string_view bytes, std::int32_t rate) override {
    commands.emplace_back(bytes);
    command_rates.push_back(rate);
  }
  void OnReply(const CommandReply& reply) override {
    replies.push_back({std::string(reply.Command), reply.Rate, reply.Reply, reply.ElapsedMs});
  }
  void OnRecord(int ordinal, bool resend, int) override { records.emplace_back(ordinal, resend); }
  void OnMessage(const UpdateMessage& message) override { messages.push_back(message); }
  void OnEnd(UpdateOutcome outcome) override { ends.push_back(outcome); }

  std::vector<UpdateOutcome> MessageOutcomes() const {
    std::vector<UpdateOutcome> outcomes;
    for (const UpdateMessage& message : messages) outcomes.push_back(message.Outcome);
    return outcomes;
  }

  std::vector<std::int32_t> states;
  std::vector<std::string> commands;
  std::vector<std::int32_t> command_rates;
  std::vector<ReplySeen> replies;
  std::vector<std::pair<int, bool>> records;
  std::vector<UpdateMessage> messages;
  std::vector<UpdateOutcome> ends;
  std::function<void(std::int32_t)> on_state;
};
