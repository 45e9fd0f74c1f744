#include "common/GuiServices.h"

#include <cstdio>

namespace {

class ConsoleGui final : public IGuiServices {
 public:
  void ProcessMessages() override {}
  void MessageBox(const std::string& text, const std::string& caption,
                  std::uint32_t style) override {
    std::fprintf(stderr, "[%s] (%u) %s\n", caption.c_str(), static_cast<unsigned>(style),
                 text.c_str());
  }
};

ConsoleGui console_gui;
// Per thread, like the engine's globals: each update thread installs its own.
thread_local IGuiServices* current_gui = &console_gui;

}  // namespace

IGuiServices* SetGuiServices(IGuiServices* services) {
  IGuiServices* previous = current_gui;
  current_gui = services != nullptr ? services : &console_gui;
  return previous;
}

void ProcessMessages() { current_gui->ProcessMessages(); }

void MessageBox(const std::string& text, const std::string& caption, std::uint32_t style) {
  current_gui->MessageBox(text, caption, style);
}
