// The lossless UTF-8 conversions: any bytes through FromUtf8Lossless and back through
// ToUtf8 must come out exactly as they went in; UTF-16 without lone surrogates through
// ToUtf8 and back must too. The input is used both ways.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "platform/wide_space.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const WString wide = FromUtf8Lossless(bytes);
  if (ToUtf8(wide) != bytes) {
    std::fprintf(stderr, "bytes do not survive FromUtf8Lossless and ToUtf8\n");
    std::abort();
  }
  for (std::size_t i = 0; i < bytes.size();) {  // every position decodes or is one raw byte
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8At(bytes, i, cp);
    if (length > 4 || i + length > bytes.size()) std::abort();
    i += length == 0 ? 1 : length;
  }

  // The same bytes as UTF-16 units, lone surrogates replaced so the text is well formed.
  WString units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      units[i] = u'?';
    }
  }
  if (FromUtf8Lossless(ToUtf8(units)) != units) {
    std::fprintf(stderr, "well-formed UTF-16 does not survive ToUtf8 and FromUtf8Lossless\n");
    std::abort();
  }
  (void)TrimWideSpace(units);
  return 0;
}
