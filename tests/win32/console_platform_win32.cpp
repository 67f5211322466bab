// Windows: '\\' between folder names, CR LF line ends in every output mode, and narrow text
// in the ANSI code page.
#include <windows.h>

#include "testing/console_platform.h"

namespace srctally::testing {

const char kSep = '\\';
const char kEol[] = "\r\n";

namespace {

std::wstring Wide(UINT codePage, const std::string& bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int length =
      ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fallback, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, flags, wide.data(), size, bytes.data(), length, fallback,
                        nullptr);
  return bytes;
}

}  // namespace

std::string ShownInNarrowText(const std::string& utf8) {
  // A character beyond U+FFFF is one '?', not one for each of its two UTF-16 units.
  std::wstring wide = Wide(CP_UTF8, utf8);
  std::wstring single;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() &&
                      wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
    single += pair ? L'?' : wide[i];
    if (pair) ++i;
  }
  return NarrowTextToUtf8(Narrow(CP_ACP, single));
}

std::string NarrowTextToUtf8(const std::string& bytes) {
  return Narrow(CP_UTF8, Wide(CP_ACP, bytes));
}

}  // namespace srctally::testing
