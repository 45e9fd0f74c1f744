// The two services that the engine and the channel ask of the GUI: pump the
// pending events, and show a modal box. The window installs its own; without
// one, a console default prints each box to stderr so the engine runs (and is
// tested) with no window at all.
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

// Installs `services` for the calling thread (null restores the console
// default); returns the one installed before, so a test can put it back.
IGuiServices* SetGuiServices(IGuiServices* services);

void ProcessMessages();
void MessageBox(const std::string& text, const std::string& caption, std::uint32_t style);
