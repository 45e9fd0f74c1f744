// bench_hexgen: writes the benchmark image as a HEX file, and tells the
// line bound of its update at 9600 bit/s (bench/LineBound.h), for scripts
// that time an update of it.
//   bench_hexgen [--records N] FILE      (default 4096 records: 64 KiB of data)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/BenchImage.h"
#include "bench/LineBound.h"

int main(int argc, char** argv) {
  std::uint32_t records = kRecordsPer64KiB;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--records" && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(argv[++i], &end, 10);
      if (*end != '\0' || value == 0 || value > 0x10000000ul) {
        std::fprintf(stderr, "bench_hexgen: bad record count '%s'\n", argv[i]);
        return 2;
      }
      records = static_cast<std::uint32_t>(value);
    } else if (path.empty() && !arg.empty() && arg[0] != '-') {
      path = arg;
    } else {
      std::fprintf(stderr, "usage: bench_hexgen [--records N] FILE\n");
      return 2;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: bench_hexgen [--records N] FILE\n");
    return 2;
  }
  std::string error;
  if (!WriteImageFile(path, records, error)) {
    std::fprintf(stderr, "bench_hexgen: %s\n", error.c_str());
    return 1;
  }
  std::printf(
      "%s: %u data records, %u bytes of data, %llu bytes; line bound %.3f s at 9600 bit/s\n",
      path.c_str(), records, records * kImageRecordBytes,
      static_cast<unsigned long long>(ImageFileBytes(records)),
      ComputeLineBound(records, 9600).seconds);
  return 0;
}
