// The shell's byte-size formatter and the program's own rendering agree.
#include "platform/byte_size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/byte_size_text.h"
#include "base/text.h"

namespace srctally {
namespace {

TEST(Win32ByteSizeTest, ShellAndOwnTextsAgree) {
  std::vector<std::int64_t> values = {0, 1, 532, 1023, INT64_MAX};
  for (int shift = 10; shift <= 60; shift += 10) {
    const std::int64_t unit = std::int64_t{1} << shift;
    for (const std::int64_t factor : {1, 10, 100, 1000}) {
      if (unit > INT64_MAX / (factor + 1)) continue;
      for (const std::int64_t delta : {-1, 0, 1}) values.push_back(unit * factor + delta);
      values.push_back(unit * factor + unit / 2);
      values.push_back(unit * factor * 3 / 2 - 1);
    }
  }
  for (const std::int64_t value : values) {
    char16_t shell[20];
    char16_t own[20];
    platform::FormatByteSizeText(value, shell);
    FormatShortByteSize(value, own);
    EXPECT_EQ(WString(shell), WString(own)) << value;
  }
}

}  // namespace
}  // namespace srctally
