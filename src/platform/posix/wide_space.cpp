// White space on POSIX: the set the Windows C runtime's iswspace answers yes for, fixed.
// The C libraries here answer differently from one locale to the next (and some leave out
// the no-break spaces), so the program does not ask them.
#include "platform/wide_space.h"

#include <array>
#include <cstddef>

namespace srctally::platform {
namespace {

using Table = std::array<std::uint64_t, 65536 / 64>;

constexpr Table MakeTable() {
  Table table{};
  const auto add = [&table](char16_t first, char16_t last) {
    for (std::size_t ch = first; ch <= last; ++ch) table[ch / 64] |= std::uint64_t{1} << (ch % 64);
  };
  add(0x0009, 0x000D);  // tab, line feed, vertical tab, form feed, carriage return
  add(0x0020, 0x0020);  // space
  add(0x00A0, 0x00A0);  // no-break space
  add(0x1680, 0x1680);  // ogham space mark
  add(0x2000, 0x200A);  // en quad .. hair space
  add(0x2028, 0x2029);  // line and paragraph separators
  add(0x202F, 0x202F);  // narrow no-break space
  add(0x205F, 0x205F);  // medium mathematical space
  add(0x3000, 0x3000);  // ideographic space
  return table;
}

constinit const Table kTable = MakeTable();

}  // namespace

const std::uint64_t* WideSpaceBits() { return kTable.data(); }

}  // namespace srctally::platform
