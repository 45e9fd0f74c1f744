// The libFuzzer entry point of both targets; TARVEX_FUZZ_TARGET picks the
// harness. A broken invariant is printed and aborts, which libFuzzer keeps as
// a crash file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = TARVEX_FUZZ_TARGET(data, size);
  if (!fault.empty()) {
    std::fprintf(stderr, "invariant broken: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
