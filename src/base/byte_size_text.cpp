// The shell-style byte-size text, computed with integers so every platform agrees.
#include "base/byte_size_text.h"

#include <algorithm>

#include "base/format.h"

namespace srctally {

void FormatShortByteSize(std::int64_t value, char16_t (&text)[20]) {
  static constexpr const char16_t* kUnits[] = {u"KB", u"MB", u"GB", u"TB", u"PB", u"EB"};
  WString result;
  if (value < 1024) {
    result = Format(u"%I64d bytes", value);
  } else {
    const auto amount = static_cast<std::uint64_t>(value);
    int unit = 0;  // index into kUnits; the amount is below 1000 of it (EB is the last)
    while (unit < 5 && amount >= (std::uint64_t{1000} << (10 * (unit + 1)))) ++unit;
    const int shift = 10 * (unit + 1);
    const std::uint64_t whole = amount >> shift;
    const int decimals = whole < 10 ? 2 : whole < 100 ? 1 : 0;
    // Decimal digits of the fraction one at a time: remainder * 10 stays below 2^64.
    std::uint64_t remainder = amount & ((std::uint64_t{1} << shift) - 1);
    std::uint64_t fraction = 0;
    for (int digit = 0; digit < decimals; ++digit) {
      remainder *= 10;
      fraction = fraction * 10 + (remainder >> shift);
      remainder &= (std::uint64_t{1} << shift) - 1;
    }
    result = decimals == 0 ? Format(u"%I64u %s", whole, kUnits[unit])
                           : Format(u"%I64u.%0*I64u %s", whole, decimals, fraction, kUnits[unit]);
  }
  const std::size_t length = std::min<std::size_t>(result.size(), 19);
  std::copy_n(result.data(), length, text);
  text[length] = u'\0';
}

}  // namespace srctally
