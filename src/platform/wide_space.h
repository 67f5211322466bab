// The white space of the C runtime's wide-character classification, as one table.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace srctally::platform {

/// What iswspace calls white space in the default locale, as 65,536 bits: bit ch (word
/// ch / 64, bit ch % 64) is set when the UTF-16 unit ch is white space. On Windows the
/// table holds the runtime's own answers, asked once; elsewhere it is a fixed set equal to
/// what the Windows runtime answers, so that a file counts the same on every platform.
/// Built on first use; safe to call from any thread.
const std::uint64_t* WideSpaceBits();

}  // namespace srctally::platform

namespace srctally {

/// Whether ch is white space as the C runtime's wide classification (iswspace) calls it in
/// the default locale: tab, line feed, vertical tab, form feed, carriage return, space, and
/// the Unicode spaces U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F and
/// U+3000 (on Windows, exactly what the runtime answers). A lookup in a table of bits.
inline bool IsWideSpace(char16_t ch) {
  return ((platform::WideSpaceBits()[ch / 64] >> (ch % 64)) & 1) != 0;
}

/// Removes IsWideSpace characters from both ends.
inline WStringView TrimWideSpace(WStringView text) {
  std::size_t end = text.size();
  while (end > 0 && IsWideSpace(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsWideSpace(text[begin])) ++begin;
  return text.substr(begin, end - begin);
}

}  // namespace srctally
