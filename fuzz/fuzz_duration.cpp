// The duration pattern language with arbitrary patterns and values. The first eight input
// bytes are the value in nanoseconds (any sign), the rest the pattern as UTF-16 units.
// Also formats the value with the default pattern; nothing is checked beyond the sanitizers
// and a bound on the output size.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/duration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 8) return 0;
  std::int64_t nanoseconds = 0;
  std::memcpy(&nanoseconds, data, 8);
  WString pattern((size - 8) / 2, u'\0');
  if (!pattern.empty()) std::memcpy(pattern.data(), data + 8, pattern.size() * 2);
  const WString text = FormatDurationPattern(pattern, nanoseconds);
  // Each pattern character yields at most one field of at most 20 digits and a sign, or
  // its padding width; a generous bound catches runaway output.
  if (text.size() > 64 + pattern.size() * 64) std::abort();
  (void)FormatDuration(nanoseconds);
  return 0;
}
