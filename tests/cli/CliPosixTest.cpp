// The POSIX side of tarvex-flash: what a user who may not open a port is told.
#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "cli/Platform.h"
#include "tests/support/HexText.h"

namespace {

TEST(OpenFailureHint, NamesTheGroupThatOwnsThePort) {
  TempDir dir;
  const std::string device = dir.Write("ttyUSB0", "");
  const group* owner = ::getgrgid(::getegid());
  ASSERT_NE(owner, nullptr);
  const std::string hint = OpenFailureHint(device, EACCES);
  EXPECT_NE(hint.find(std::string("usermod -aG ") + owner->gr_name + " $USER"), std::string::npos)
      << hint;
  EXPECT_EQ(OpenFailureHint(dir.PathOf("ttyUSB9"), ENOENT), "There is no such port.");
  EXPECT_EQ(OpenFailureHint(device, EBUSY), "The port is in use by another program.");
}

}  // namespace
