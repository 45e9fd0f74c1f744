#include "common/GuiServices.h"

#include <cstdio>

namespace {

class QuietGui final : public IGuiServices {
 public:
  void ProcessMessages() override {}
  void MessageBox(const std::string&, const std::string&, std::uint32_t) override {}
};

class ConsoleGui final : public IGuiServices {
 public:
  void ProcessMessages() override {}
  void MessageBox(const std::string& text, const std::string& caption,
                  std::uint32_t style) override {
    std::fprintf(stderr, "[%s] (%u) %s\n", caption.c_str(), static_cast<unsigned>(style),
                 text.c_str());
  }
};

}  // namespace

// Both keep no state, so one of each serves every thread.
IGuiServices& QuietGuiServices() {
  static QuietGui quiet;
  return quiet;
}

IGuiServices& ConsoleGuiServices() {
  static ConsoleGui console;
  return console;
}
