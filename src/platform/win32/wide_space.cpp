// White space on Windows: the C runtime's own iswspace, asked once for every UTF-16 unit.
#include "platform/wide_space.h"

#include <array>
#include <cstddef>
#include <cwctype>

namespace srctally::platform {

const std::uint64_t* WideSpaceBits() {
  static const std::array<std::uint64_t, 65536 / 64> table = [] {
    std::array<std::uint64_t, 65536 / 64> bits{};
    for (std::size_t ch = 0; ch < 65536; ++ch) {
      if (std::iswspace(static_cast<std::wint_t>(ch)) != 0) {
        bits[ch / 64] |= std::uint64_t{1} << (ch % 64);
      }
    }
    return bits;
  }();
  return table.data();
}

}  // namespace srctally::platform
