// White space on POSIX is a fixed set: what the Windows C runtime's iswspace answers, so a
// file counts the same on both platforms whatever the locale says here.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "platform/wide_space.h"

namespace srctally {
namespace {

TEST(PosixWideSpaceTest, FixedSetForEveryUnit) {
  const auto expected = [](std::uint32_t ch) {
    return (ch >= 0x09 && ch <= 0x0D) || ch == 0x20 || ch == 0xA0 || ch == 0x1680 ||
           (ch >= 0x2000 && ch <= 0x200A) || ch == 0x2028 || ch == 0x2029 || ch == 0x202F ||
           ch == 0x205F || ch == 0x3000;
  };
  std::vector<std::uint32_t> wrong;
  for (std::uint32_t ch = 0; ch <= 0xFFFF; ++ch) {
    if (IsWideSpace(static_cast<char16_t>(ch)) != expected(ch)) wrong.push_back(ch);
  }
  EXPECT_EQ(wrong, std::vector<std::uint32_t>{});
}

}  // namespace
}  // namespace srctally
