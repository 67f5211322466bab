// The formatter with arbitrary formats and a few arguments. Input: a byte choosing which
// arguments are given (and in what order), eight bytes of a signed and eight of an unsigned
// integer, then the format as UTF-16 units. The arguments include a text made of the
// format's own first units.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "base/format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 17) return 0;
  const std::uint8_t pick = data[0];
  std::int64_t number = 0;
  std::uint64_t unsignedNumber = 0;
  std::memcpy(&number, data + 1, 8);
  std::memcpy(&unsignedNumber, data + 9, 8);
  WString format((size - 17) / 2, u'\0');
  if (!format.empty()) std::memcpy(format.data(), data + 17, format.size() * 2);
  const WString text = format.substr(0, pick % 16);
  // A width or precision of millions pads to millions of characters, as asked; keep them
  // small so the run measures the formatter rather than the allocator. Numbers beyond an
  // int and the most negative int stay, to reach the overflow checks.
  long long digits = 0;
  for (const char16_t ch : format) {
    digits = ch >= u'0' && ch <= u'9' ? std::min(digits * 10 + (ch - u'0'), 1LL << 40) : 0;
    if (digits > (1 << 20) && digits <= 0x7FFFFFFF) return 0;
  }
  const auto tame = [](std::int64_t value) -> std::int64_t {
    const auto asInt = static_cast<std::int32_t>(value);
    if (asInt == std::numeric_limits<std::int32_t>::min()) return value;
    return asInt > (1 << 20) || asInt < -(1 << 20) ? value & 0xFFFF : value;
  };
  if (format.find(u'*') != WString::npos) {  // only a '*' takes a number as a width
    number = tame(number);
    unsignedNumber = static_cast<std::uint64_t>(tame(static_cast<std::int64_t>(unsignedNumber)));
  }

  std::vector<FormatArg> args;
  const std::size_t count = (pick >> 4) % 8;  // 0 .. 7 arguments, kinds rotating
  for (std::size_t i = 0; i < count; ++i) {
    switch ((i + pick) % 5) {
      case 0: args.emplace_back(number); break;
      case 1: args.emplace_back(unsignedNumber); break;
      case 2: args.emplace_back(text); break;
      case 3: args.emplace_back(static_cast<std::int32_t>(number)); break;
      default: args.emplace_back(static_cast<char16_t>(unsignedNumber)); break;
    }
  }
  WString out = FormatV(format, args);
  AppendFormatV(out, format, FormatArgs(args.data(), args.size() / 2));
  return 0;
}
