// A small case table for tests of case-insensitive names on every platform: ASCII, the
// Latin-1 letters, basic Greek and Cyrillic. The Windows table itself is tested under wine.
#pragma once

#include "walk/glob_pattern.h"

namespace srctally::testing {

inline GlobCase TestNameCase() {
  static const platform::NameCaseTable table = [] {
    static char16_t upper[0x10000];
    static char16_t lower[0x10000];
    for (unsigned unit = 0; unit < 0x10000; ++unit) {
      upper[unit] = lower[unit] = static_cast<char16_t>(unit);
    }
    const auto pair = [](unsigned capital, unsigned small) {
      upper[small] = upper[capital] = static_cast<char16_t>(capital);
      lower[small] = lower[capital] = static_cast<char16_t>(small);
    };
    for (unsigned ch = 'A'; ch <= 'Z'; ++ch) pair(ch, ch + 0x20);
    for (unsigned ch = 0xC0; ch <= 0xDE; ++ch) {
      if (ch != 0xD7) pair(ch, ch + 0x20);
    }
    for (unsigned ch = 0x391; ch <= 0x3A9; ++ch) {
      if (ch != 0x3A2) pair(ch, ch + 0x20);
    }
    for (unsigned ch = 0x410; ch <= 0x42F; ++ch) pair(ch, ch + 0x20);
    return platform::NameCaseTable{upper, lower};
  }();
  return GlobCase(&table);
}

}  // namespace srctally::testing
