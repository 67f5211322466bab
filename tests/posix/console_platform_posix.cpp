// POSIX: '/' between folder names and bare line feeds in every output mode; narrow text in
// the C locale is Latin-1.
#include "base/text.h"
#include "testing/console_platform.h"

namespace srctally::testing {

const char kSep = '/';
const char kEol[] = "\n";

std::string ShownInNarrowText(const std::string& utf8) {
  WString wide = FromUtf8Lossless(utf8);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] <= 0xFF) continue;
    const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size();
    wide.replace(i, pair ? 2 : 1, u"?");
  }
  return ToUtf8(wide);
}

std::string NarrowTextToUtf8(const std::string& bytes) {
  WString wide;
  for (const char ch : bytes) wide += static_cast<char16_t>(static_cast<unsigned char>(ch));
  return ToUtf8(wide);
}

}  // namespace srctally::testing
