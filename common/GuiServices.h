// The two services that the engine and the channel ask of the GUI: pump the
// pending events, and show a modal box. The window hands in its own; a
// program without a window hands in the quiet ones (nothing to pump, boxes
// told some other way) or the console ones, which print each box to stderr.
#pragma once

#include <cstdint>
#include <string>

// Message-box icon styles, each with a single OK button.
constexpr std::uint32_t kStyleNone = 0;
constexpr std::uint32_t kStyleError = 16;
constexpr std::uint32_t kStyleWarning = 48;
constexpr std::uint32_t kStyleInformation = 64;

class IGuiServices {
 public:
  virtual ~IGuiServices() = default;
  // Handles every pending GUI event and returns.
  virtual void ProcessMessages() = 0;
  // Shows a modal box and returns when the user has dismissed it.
  virtual void MessageBox(const std::string& text, const std::string& caption,
                          std::uint32_t style) = 0;
};

// No window: nothing to pump, and every box goes unseen (its words reach
// the user through the update's observer instead).
IGuiServices& QuietGuiServices();
