#include "common/GuiServices.h"

namespace {

class QuietGui final : public IGuiServices {
 public:
  void ProcessMessages() override {}
  void MessageBox(const std::string&, const std::string&, std::uint32_t) override {}
};

}  // namespace

// It keeps no state, so one serves every thread.
IGuiServices& QuietGuiServices() {
  static QuietGui quiet;
  return quiet;
}
