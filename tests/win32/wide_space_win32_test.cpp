// White space on Windows is the C runtime's own: the table the program looks up holds the
// runtime's answer for every UTF-16 unit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwctype>
#include <vector>

#include "base/text.h"
#include "platform/wide_space.h"

namespace srctally {
namespace {

TEST(Win32WideSpaceTest, TableIsTheRuntimesAnswerForEveryUnit) {
  std::vector<std::uint32_t> wrong;
  for (std::uint32_t ch = 0; ch <= 0xFFFF; ++ch) {
    const bool runtime = std::iswspace(static_cast<std::wint_t>(ch)) != 0;
    if (IsWideSpace(static_cast<char16_t>(ch)) != runtime) wrong.push_back(ch);
  }
  EXPECT_EQ(wrong, std::vector<std::uint32_t>{});
  // Not vacuous: the runtime knows at least the six ASCII spaces and the no-break space.
  for (const char16_t ch : {u'\t', u'\n', u'\v', u'\f', u'\r', u' ', u'\u00A0'}) {
    EXPECT_TRUE(IsWideSpace(ch)) << static_cast<int>(ch);
  }
}

}  // namespace
}  // namespace srctally
