#include <windows.h>

#include "common/Clock.h"

namespace {

class Win32TickSource final : public ITickSource {
 public:
  std::uint32_t TickCount() override { return GetTickCount(); }
  void Sleep(std::uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace

ITickSource& SystemTickSource() {
  static Win32TickSource source;
  return source;
}
