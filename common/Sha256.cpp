#include "common/Sha256.h"

#include "common/VisibleText.h"

std::string Sha256Hex(std::string_view data) {
  const auto digest = Sha256Of(data);
  return HexBytes({reinterpret_cast<const char*>(digest.data()), digest.size()});
}
