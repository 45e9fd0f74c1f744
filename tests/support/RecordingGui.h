// GUI services that remember every box instead of showing it, and count the
// event pumps; a test can hook either to act in the middle of an update.
// Hand it to the channel and the update as their services.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/GuiServices.h"

struct ShownBox {
  std::string text;
  std::string caption;
  std::uint32_t style = 0;
};

class RecordingGui final : public IGuiServices {
 public:
  RecordingGui() = default;
  RecordingGui(const RecordingGui&) = delete;
  RecordingGui& operator=(const RecordingGui&) = delete;

  void ProcessMessages() override {
    ++pumps;
    if (on_pump) on_pump();
  }
  void MessageBox(const std::string& text, const std::string& caption,
                  std::uint32_t style) override {
    boxes.push_back({text, caption, style});
    if (on_box) on_box(boxes.back());
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const ShownBox& box : boxes) texts.push_back(box.text);
    return texts;
  }

  std::vector<ShownBox> boxes;
  int pumps = 0;
  std::function<void()> on_pump;
  std::function<void(const ShownBox&)> on_box;
};
