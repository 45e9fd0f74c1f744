// Runs the fuzz targets' invariants over every seed of the corpora and every
// input kept from a finding (tests/fuzz/regressions/), in every build, with
// or without clang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/HexRecord.h"
#include "tests/fuzz/FuzzHarness.h"

namespace {

namespace fs = std::filesystem;

using Harness = std::string (*)(const std::uint8_t*, std::size_t);

std::vector<fs::path> FilesIn(const fs::path& directory) {
  std::vector<fs::path> files;
  if (!fs::is_directory(directory)) return files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ReplayAll(const std::string& kind, Harness harness, std::size_t least_seeds) {
  const fs::path root = TARVEX_FUZZ_DIR;
  const std::vector<fs::path> seeds = FilesIn(root / "corpus" / kind);
  ASSERT_GE(seeds.size(), least_seeds) << "seed corpus missing in " << (root / "corpus" / kind);
  std::vector<fs::path> inputs = seeds;
  const std::vector<fs::path> kept = FilesIn(root / "regressions" / kind);
  inputs.insert(inputs.end(), kept.begin(), kept.end());
  for (const fs::path& file : inputs) {
    const std::string bytes = ReadFile(file);
    EXPECT_EQ(harness(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
        << file;
  }
}

TEST(FuzzReplay, HexSeedsAndKeptFindingsHoldEveryInvariant) { ReplayAll("hex", CheckHexInput, 8); }

TEST(FuzzReplay, SettingsSeedsAndKeptFindingsHoldEveryInvariant) {
  ReplayAll("settings", CheckSettingsInput, 6);
}

// Seeds named "bad-..." are files the check refuses, all others files it
// accepts: without accepted seeds the fuzzer would seldom get past the check
// to the transfer.
TEST(FuzzReplay, HexSeedsAreRefusedExactlyWhenNamedBad) {
  const fs::path root = TARVEX_FUZZ_DIR;
  int accepted = 0;
  for (const fs::path& file : FilesIn(root / "corpus" / "hex")) {
    const std::string bytes = ReadFile(file);
    HexFileChecker checker;
    checker.Feed(bytes);
    const bool passes = checker.Finish();
    const bool named_bad = file.filename().string().rfind("bad-", 0) == 0;
    EXPECT_EQ(passes, !named_bad) << file << ": " << checker.ErrorText();
    accepted += passes ? 1 : 0;
  }
  EXPECT_GE(accepted, 3);
}

}  // namespace
